// The kernel's pooled memory for host objects.
#pragma once

#include <cstddef>

#include "kernel/Export.h"

namespace orbk {

// Counters of the pool, for tests and statistics.
struct MemoryPoolStatistics {
    std::size_t liveBlocks = 0;  // blocks handed out and not yet returned
    std::size_t liveBytes = 0;
    std::size_t failedRequests = 0;
};

// The pool behind MemoryPoolAllocated objects.
class KERNEL_API MemoryPool {
public:
    // size bytes, suitably aligned for any object, or null when no memory is left.
    static void* Allocate(std::size_t size) noexcept;
    // Returns a block of size bytes given by Allocate; null is ignored.
    static void Free(void* block, std::size_t size) noexcept;
    // The current counters.
    static MemoryPoolStatistics Statistics() noexcept;
    // Makes the next count requests fail, as an exhausted pool would (fault testing).
    static void FailNextRequests(std::size_t count) noexcept;
};

// Base of host objects whose memory comes from the pool. Its operator new gives null when the
// pool is exhausted; the new-expression then yields null without constructing anything.
class KERNEL_API MemoryPoolAllocated {
public:
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* block, std::size_t size) noexcept;
};

}  // namespace orbk
