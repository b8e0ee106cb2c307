#include "utilities/Symbol.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

namespace detail {

// One interned text. The count says how many Symbols point at the entry; an entry whose count
// has reached zero is dying and is never handed out again.
struct SymbolEntry {
    std::atomic<int> references;
    std::size_t length;
    char text[1];  // length bytes and a terminating NUL
};

}  // namespace detail

namespace {

using detail::SymbolEntry;

// The interning table, split in shards so that threads interning different texts rarely meet.
// Each shard is an open-addressing table of (hash, entry) slots: a lookup touches one slot and
// the entry it finds, where node-based maps chase a pointer per bucket and per node.
class SymbolTable {
public:
    const SymbolEntry* Intern(std::string_view text) {
        const std::size_t hash = std::hash<std::string_view>()(text);
        Shard& shard = shards_[hash % kShards];
        std::lock_guard<std::mutex> lock(shard.mutex);
        if (Slot* found = shard.Find(hash, text)) {
            SymbolEntry* entry = found->entry;
            int count = entry->references.load(std::memory_order_relaxed);
            while (count > 0) {
                if (entry->references.compare_exchange_weak(count, count + 1,
                                                            std::memory_order_acq_rel)) {
                    return entry;
                }
            }
            // Dying: its last holder will delete it; a fresh entry takes its place in the table.
            shard.Erase(*found);
        }
        SymbolEntry* entry = Make(text);
        try {
            shard.Insert(hash, entry);
        } catch (...) {
            std::free(entry);
            throw;
        }
        return entry;
    }

    // Called by the holder whose release brought the count to zero.
    void Remove(const SymbolEntry* entry) {
        std::string_view text(entry->text, entry->length);
        const std::size_t hash = std::hash<std::string_view>()(text);
        Shard& shard = shards_[hash % kShards];
        {
            std::lock_guard<std::mutex> lock(shard.mutex);
            if (Slot* found = shard.FindEntry(hash, entry))
                shard.Erase(*found);
        }
        std::free(const_cast<SymbolEntry*>(entry));
    }

    std::size_t Count() {
        std::size_t total = 0;
        for (Shard& shard : shards_) {
            std::lock_guard<std::mutex> lock(shard.mutex);
            total += shard.live;
        }
        return total;
    }

private:
    static constexpr std::size_t kShards = 16;

    struct Slot {
        std::size_t hash = 0;
        SymbolEntry* entry = nullptr;  // null: empty; Tombstone(): erased, probing goes on
    };

    static SymbolEntry* Tombstone() noexcept {
        static SymbolEntry* const marker = reinterpret_cast<SymbolEntry*>(alignof(SymbolEntry));
        return marker;
    }

    struct Shard {
        std::mutex mutex;
        std::vector<Slot> slots;  // a power of two in size, or empty
        std::size_t used = 0;     // live entries and tombstones
        std::size_t live = 0;

        // The slots after the shard bits of the hash, wrapping round.
        template <class Match>
        Slot* Probe(std::size_t hash, Match match) {
            if (slots.empty())
                return nullptr;
            const std::size_t mask = slots.size() - 1;
            for (std::size_t i = (hash / kShards) & mask;; i = (i + 1) & mask) {
                Slot& slot = slots[i];
                if (!slot.entry)
                    return nullptr;
                if (slot.entry != Tombstone() && slot.hash == hash && match(slot.entry))
                    return &slot;
            }
        }
        Slot* Find(std::size_t hash, std::string_view text) {
            return Probe(hash, [text](const SymbolEntry* entry) {
                return std::string_view(entry->text, entry->length) == text;
            });
        }
        Slot* FindEntry(std::size_t hash, const SymbolEntry* wanted) {
            return Probe(hash, [wanted](const SymbolEntry* entry) { return entry == wanted; });
        }
        void Erase(Slot& slot) noexcept {
            slot.entry = Tombstone();
            --live;
        }
        void Insert(std::size_t hash, SymbolEntry* entry) {
            // At most 70% full, tombstones counted; growing also clears the tombstones.
            if ((used + 1) * 10 > slots.size() * 7)
                Rehash(std::max<std::size_t>(
                    64, live * 4 > slots.size() ? slots.size() * 2 : slots.size()));
            const std::size_t mask = slots.size() - 1;
            std::size_t i = (hash / kShards) & mask;
            while (slots[i].entry && slots[i].entry != Tombstone())
                i = (i + 1) & mask;
            if (!slots[i].entry)
                ++used;
            slots[i] = {hash, entry};
            ++live;
        }
        void Rehash(std::size_t size) {
            std::vector<Slot> old(size);
            old.swap(slots);
            used = live = 0;
            const std::size_t mask = slots.size() - 1;
            for (const Slot& slot : old) {
                if (!slot.entry || slot.entry == Tombstone())
                    continue;
                std::size_t i = (slot.hash / kShards) & mask;
                while (slots[i].entry)
                    i = (i + 1) & mask;
                slots[i] = slot;
                ++used;
                ++live;
            }
        }
    };

    static SymbolEntry* Make(std::string_view text) {
        void* memory = std::malloc(offsetof(SymbolEntry, text) + text.size() + 1);
        if (!memory)
            throw std::bad_alloc();
        auto* entry = static_cast<SymbolEntry*>(memory);
        new (&entry->references) std::atomic<int>(1);
        entry->length = text.size();
        char* bytes = entry->text;  // the allocation extends past the declared array
        if (!text.empty())
            std::memcpy(bytes, text.data(), text.size());
        bytes[text.size()] = '\0';
        return entry;
    }

    Shard shards_[kShards];
};

// Never destroyed: Symbols in other libraries' static objects may be released after ours are.
SymbolTable& Table() {
    static SymbolTable* table = new SymbolTable;
    return *table;
}

const SymbolEntry* Intern(std::string_view text) {
    return text.empty() ? nullptr : Table().Intern(text);
}

void Retain(const SymbolEntry* entry) noexcept {
    if (entry)
        const_cast<SymbolEntry*>(entry)->references.fetch_add(1, std::memory_order_relaxed);
}

void Release(const SymbolEntry* entry) noexcept {
    if (entry &&
        const_cast<SymbolEntry*>(entry)->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        Table().Remove(entry);
    }
}

}  // namespace

const Symbol Symbol::EMPTY;

Symbol::Symbol(const char* text) : entry_(text ? Intern(text) : nullptr) {}

Symbol::Symbol(const char* text, std::size_t length)
    : entry_(text ? Intern(std::string_view(text, length)) : nullptr) {}

Symbol::Symbol(const std::string& text) : entry_(Intern(text)) {}

Symbol::Symbol(std::string_view text) : entry_(Intern(text)) {}

Symbol::Symbol(const Symbol& other) noexcept : entry_(other.entry_) {
    Retain(entry_);
}

Symbol& Symbol::operator=(const Symbol& other) noexcept {
    Retain(other.entry_);
    Release(entry_);
    entry_ = other.entry_;
    return *this;
}

Symbol& Symbol::operator=(Symbol&& other) noexcept {
    if (this != &other) {
        Release(entry_);
        entry_ = other.entry_;
        other.entry_ = nullptr;
    }
    return *this;
}

Symbol::~Symbol() {
    Release(entry_);
}

std::string_view Symbol::view() const noexcept {
    return entry_ ? std::string_view(entry_->text, entry_->length) : std::string_view();
}

Symbol::operator std::string() const {
    return std::string(view());
}

bool operator==(const Symbol& a, const std::string& b) noexcept {
    return a.view() == std::string_view(b);
}

std::size_t Symbol::length() const noexcept {
    return entry_ ? entry_->length : 0;
}

const char* Symbol::safe_c_str() const noexcept {
    return entry_ ? entry_->text : "";
}

std::size_t InternedSymbolCount() {
    return Table().Count();
}
