#include "kernel/MemoryPool.h"

#include <cstdlib>

#include "internal/PoolCounters.h"

namespace orbk {

namespace {

host_internal::PoolCounters g_counters;

}  // namespace

void* MemoryPool::Allocate(std::size_t size) noexcept {
    // malloc already aligns for max_align_t; a zero-byte request still gets a distinct block.
    void* block = g_counters.TakeInjectedFailure() ? nullptr : std::malloc(size == 0 ? 1 : size);
    g_counters.Allocated(block, size);
    return block;
}

void MemoryPool::Free(void* block, std::size_t size) noexcept {
    if (!block)
        return;
    std::free(block);
    g_counters.Freed(size);
}

MemoryPoolStatistics MemoryPool::Statistics() noexcept {
    return g_counters.Read<MemoryPoolStatistics>();
}

void MemoryPool::FailNextRequests(std::size_t count) noexcept {
    g_counters.FailNext(count);
}

void* MemoryPoolAllocated::operator new(std::size_t size) noexcept {
    return MemoryPool::Allocate(size);
}

void MemoryPoolAllocated::operator delete(void* block, std::size_t size) noexcept {
    MemoryPool::Free(block, size);
}

}  // namespace orbk
