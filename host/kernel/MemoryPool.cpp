#include "kernel/MemoryPool.h"

#include <atomic>
#include <cstdlib>

namespace orbk {

namespace {

std::atomic<std::size_t> g_liveBlocks{0};
std::atomic<std::size_t> g_liveBytes{0};
std::atomic<std::size_t> g_failedRequests{0};
std::atomic<std::size_t> g_failNext{0};

// Consumes one injected failure, if any is pending.
bool TakeInjectedFailure() noexcept {
    std::size_t pending = g_failNext.load(std::memory_order_relaxed);
    while (pending != 0) {
        if (g_failNext.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void* MemoryPool::Allocate(std::size_t size) noexcept {
    // malloc already aligns for max_align_t; a zero-byte request still gets a distinct block.
    void* block = TakeInjectedFailure() ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (!block) {
        g_failedRequests.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
    g_liveBytes.fetch_add(size, std::memory_order_relaxed);
    return block;
}

void MemoryPool::Free(void* block, std::size_t size) noexcept {
    if (!block)
        return;
    std::free(block);
    g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    g_liveBytes.fetch_sub(size, std::memory_order_relaxed);
}

MemoryPoolStatistics MemoryPool::Statistics() noexcept {
    MemoryPoolStatistics statistics;
    statistics.liveBlocks = g_liveBlocks.load(std::memory_order_relaxed);
    statistics.liveBytes = g_liveBytes.load(std::memory_order_relaxed);
    statistics.failedRequests = g_failedRequests.load(std::memory_order_relaxed);
    return statistics;
}

void MemoryPool::FailNextRequests(std::size_t count) noexcept {
    g_failNext.store(count, std::memory_order_relaxed);
}

void* MemoryPoolAllocated::operator new(std::size_t size) noexcept {
    return MemoryPool::Allocate(size);
}

void MemoryPoolAllocated::operator delete(void* block, std::size_t size) noexcept {
    MemoryPool::Free(block, size);
}

}  // namespace orbk
