#include "utilities/Symbol.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>

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
class SymbolTable {
public:
    const SymbolEntry* Intern(std::string_view text) {
        Shard& shard = shards_[std::hash<std::string_view>()(text) % kShards];
        std::lock_guard<std::mutex> lock(shard.mutex);
        auto found = shard.entries.find(text);
        if (found != shard.entries.end()) {
            SymbolEntry* entry = found->second;
            int count = entry->references.load(std::memory_order_relaxed);
            while (count > 0) {
                if (entry->references.compare_exchange_weak(count, count + 1,
                                                            std::memory_order_acq_rel)) {
                    return entry;
                }
            }
            // Dying: its last holder will delete it; a fresh entry takes its place in the table.
            shard.entries.erase(found);
        }
        SymbolEntry* entry = Make(text);
        shard.entries.emplace(std::string_view(entry->text, entry->length), entry);
        return entry;
    }

    // Called by the holder whose release brought the count to zero.
    void Remove(const SymbolEntry* entry) {
        std::string_view text(entry->text, entry->length);
        Shard& shard = shards_[std::hash<std::string_view>()(text) % kShards];
        {
            std::lock_guard<std::mutex> lock(shard.mutex);
            auto found = shard.entries.find(text);
            if (found != shard.entries.end() && found->second == entry)
                shard.entries.erase(found);
        }
        std::free(const_cast<SymbolEntry*>(entry));
    }

    std::size_t Count() {
        std::size_t total = 0;
        for (Shard& shard : shards_) {
            std::lock_guard<std::mutex> lock(shard.mutex);
            total += shard.entries.size();
        }
        return total;
    }

private:
    static constexpr std::size_t kShards = 16;
    struct Shard {
        std::mutex mutex;
        std::unordered_map<std::string_view, SymbolEntry*> entries;
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

std::size_t Symbol::length() const noexcept {
    return entry_ ? entry_->length : 0;
}

const char* Symbol::safe_c_str() const noexcept {
    return entry_ ? entry_->text : "";
}

std::size_t InternedSymbolCount() {
    return Table().Count();
}
