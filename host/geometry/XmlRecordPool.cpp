#include "XmlRecordPool.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#if !defined(ASAN_POISON_MEMORY_REGION)
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

namespace xml_records {

namespace {

// Blocks are aligned to their size, so a record finds its block by masking its address.
constexpr std::size_t kBlockSize = std::size_t{64} << 10;
constexpr std::size_t kAlignment = alignof(std::max_align_t);

// While a thread takes records from a block, its count carries kTaking on top of the records
// freed so far (subtracted); leaving the block takes kTaking back off minus the records handed
// out. The count thus reaches zero exactly once: at the last free after the thread has left.
constexpr std::size_t kTaking = std::size_t{1} << 40;

struct alignas(kAlignment) Block {
    std::atomic<std::size_t> count{kTaking};
};

constexpr std::size_t kFirstRecord = (sizeof(Block) + kAlignment - 1) & ~(kAlignment - 1);

void Drop(Block* block, std::size_t amount) noexcept {
    if (block->count.fetch_sub(amount, std::memory_order_acq_rel) == amount) {
        block->~Block();
        ::operator delete(static_cast<void*>(block), std::align_val_t(kBlockSize));
    }
}

// The block a thread is taking records from.
struct Cursor {
    Block* block = nullptr;
    std::size_t used = 0;    // offset of the next record in the block
    std::size_t handed = 0;  // records handed out from the block

    ~Cursor() { Leave(); }

    void Leave() noexcept {
        if (block)
            Drop(block, kTaking - handed);
        block = nullptr;
    }
};

#if defined(_WIN32)
// A thread_local cursor with a destructor in this DLL corrupted the heap at thread exit in
// MinGW builds (seen under wine), so Windows threads share one cursor under a lock.
Cursor cursor;
std::mutex cursorLock;
#define KESTREL_TAKE_CURSOR std::lock_guard<std::mutex> guard(cursorLock)
Cursor& ThreadCursor() {
    return cursor;
}
#else
#define KESTREL_TAKE_CURSOR (void)0
// Taking a record reads one pointer of the thread's, in the static TLS block (no call to find it);
// the cursor itself, whose destructor gives its block back at thread exit, is reached through
// the slower path only at a thread's first record.
__attribute__((tls_model("initial-exec"))) thread_local Cursor* current = nullptr;
thread_local Cursor owner;

Cursor& ThreadCursor() {
    if (current) [[likely]]
        return *current;
    current = &owner;
    return owner;
}
#endif

}  // namespace

void* Allocate(std::size_t size) {
    if (size > kMaxRecord)
        throw std::bad_alloc();
    size = (size + kAlignment - 1) & ~(kAlignment - 1);
    KESTREL_TAKE_CURSOR;
    Cursor& taking = ThreadCursor();
    if (!taking.block || taking.used + size > kBlockSize) {
        void* memory = ::operator new(kBlockSize, std::align_val_t(kBlockSize));
        taking.Leave();
        taking.block = new (memory) Block;
        taking.used = kFirstRecord;
        taking.handed = 0;
    }
    void* record = reinterpret_cast<char*>(taking.block) + taking.used;
    taking.used += size;
    ++taking.handed;
    return record;
}

void Free(void* record, std::size_t size) noexcept {
    if (!record)
        return;
    // Records are never handed out twice, so a freed one stays poisoned until its block goes.
    ASAN_POISON_MEMORY_REGION(record, size);
    const auto address = reinterpret_cast<std::uintptr_t>(record);
    Drop(reinterpret_cast<Block*>(address & ~(kBlockSize - 1)), 1);
}

}  // namespace xml_records
