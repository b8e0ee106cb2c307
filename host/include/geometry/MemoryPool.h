// MemoryPool: the geometry library's pooled memory for small, frequently made shape parts.
#pragma once

#include <cstddef>

#include "geometry/Export.h"

// Blocks of up to 512 bytes come from size-classed free lists carved out of larger chunks and
// are kept for reuse once freed; larger blocks go straight to the system allocator. Every block
// is aligned for any object (alignof(std::max_align_t)). Safe to use from any thread.
class GEOMETRY_API MemoryPool {
public:
    // Counters of the pool, for tests and statistics.
    struct Counters {
        std::size_t liveBlocks = 0;  // blocks handed out and not yet returned
        std::size_t liveBytes = 0;   // their requested sizes, summed
        std::size_t failedRequests = 0;
    };

    // A block of size bytes (a zero size still gets a distinct block); null when no memory is
    // left. hint is accepted for callers that pass a placement hint and is not used.
    static void* Allocate(std::size_t size, void* hint) noexcept;
    // Returns a block given by Allocate; size must be the size it was asked for. Null is ignored.
    static void Free(void* block, std::size_t size) noexcept;
    // The current counters.
    static Counters GetCounters() noexcept;
    // Makes the next count requests fail as an exhausted pool would (fault testing).
    static void FailNextRequests(std::size_t count) noexcept;
};
