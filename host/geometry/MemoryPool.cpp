#include "geometry/MemoryPool.h"

#include <cstdlib>
#include <mutex>

#include "internal/PoolCounters.h"

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
// Without AddressSanitizer the poisoning calls vanish; with it, freed and not yet carved pool
// memory is poisoned so that use after free of pooled objects is still caught.
#if !defined(ASAN_POISON_MEMORY_REGION)
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace {

constexpr std::size_t kGranule = alignof(std::max_align_t);
constexpr std::size_t kLargestPooled = 512;
constexpr std::size_t kClassCount = kLargestPooled / kGranule;
constexpr std::size_t kChunkBytes = std::size_t{64} * 1024;

struct FreeBlock {
    FreeBlock* next;
};

// Chunks are linked through their first granule so that they stay reachable for leak checkers.
struct ChunkHeader {
    ChunkHeader* next;
};
static_assert(sizeof(ChunkHeader) <= kGranule);

class Pool {
public:
    void* Take(std::size_t classIndex, std::size_t size) noexcept {
        const std::size_t blockBytes = (classIndex + 1) * kGranule;
        std::lock_guard<std::mutex> lock(mutex_);
        void* block = nullptr;
        if (FreeBlock* head = free_[classIndex]) {
            ASAN_UNPOISON_MEMORY_REGION(head, sizeof(FreeBlock));
            free_[classIndex] = head->next;
            block = head;
        } else {
            if (remaining_ < blockBytes && !NewChunk())
                return nullptr;
            block = cursor_;
            cursor_ += blockBytes;
            remaining_ -= blockBytes;
        }
        // Only the bytes asked for become addressable; the rounding slack stays poisoned.
        ASAN_POISON_MEMORY_REGION(block, blockBytes);
        ASAN_UNPOISON_MEMORY_REGION(block, size);
        return block;
    }

    void Give(void* block, std::size_t classIndex) noexcept {
        const std::size_t blockBytes = (classIndex + 1) * kGranule;
        std::lock_guard<std::mutex> lock(mutex_);
        ASAN_UNPOISON_MEMORY_REGION(block, sizeof(FreeBlock));
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = free_[classIndex];
        free_[classIndex] = freed;
        ASAN_POISON_MEMORY_REGION(block, blockBytes);
    }

private:
    // The tail of the current chunk is abandoned; at most kLargestPooled bytes per chunk.
    bool NewChunk() noexcept {
        auto* chunk = static_cast<char*>(std::malloc(kChunkBytes));
        if (!chunk)
            return false;
        auto* header = reinterpret_cast<ChunkHeader*>(chunk);
        header->next = chunks_;
        chunks_ = header;
        cursor_ = chunk + kGranule;
        remaining_ = kChunkBytes - kGranule;
        ASAN_POISON_MEMORY_REGION(cursor_, remaining_);
        return true;
    }

    std::mutex mutex_;
    FreeBlock* free_[kClassCount] = {};
    ChunkHeader* chunks_ = nullptr;
    char* cursor_ = nullptr;
    std::size_t remaining_ = 0;
};

// Never destroyed: blocks may still be returned while other static objects are torn down.
Pool& ThePool() noexcept {
    static Pool* pool = new Pool;
    return *pool;
}

host_internal::PoolCounters g_counters;

// Size classes are whole granules; a zero-byte request is served like a one-byte one.
std::size_t ClassOf(std::size_t size) noexcept {
    return size == 0 ? 0 : (size - 1) / kGranule;
}

}  // namespace

void* MemoryPool::Allocate(std::size_t size, void* /*hint*/) noexcept {
    void* block = nullptr;
    if (!g_counters.TakeInjectedFailure()) {
        if (size <= kLargestPooled)
            block = ThePool().Take(ClassOf(size), size == 0 ? 1 : size);
        else
            block = std::malloc(size);
    }
    g_counters.Allocated(block, size);
    return block;
}

void MemoryPool::Free(void* block, std::size_t size) noexcept {
    if (!block)
        return;
    if (size <= kLargestPooled)
        ThePool().Give(block, ClassOf(size));
    else
        std::free(block);
    g_counters.Freed(size);
}

MemoryPool::Counters MemoryPool::GetCounters() noexcept {
    return g_counters.Read<Counters>();
}

void MemoryPool::FailNextRequests(std::size_t count) noexcept {
    g_counters.FailNext(count);
}
