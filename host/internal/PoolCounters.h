// The counters of a memory pool and its fault injection: each host library that pools memory
// keeps one instance of its own.
#pragma once

#include <atomic>
#include <cstddef>

namespace host_internal {

class PoolCounters {
public:
    // Consumes one injected failure, if any is pending.
    bool TakeInjectedFailure() noexcept {
        std::size_t pending = failNext_.load(std::memory_order_relaxed);
        while (pending != 0) {
            if (failNext_.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed))
                return true;
        }
        return false;
    }
    void FailNext(std::size_t count) noexcept { failNext_.store(count, std::memory_order_relaxed); }

    // Records the outcome of a request of size bytes: block, or null when it failed.
    void Allocated(const void* block, std::size_t size) noexcept {
        if (!block) {
            failedRequests_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        liveBlocks_.fetch_add(1, std::memory_order_relaxed);
        liveBytes_.fetch_add(size, std::memory_order_relaxed);
    }
    void Freed(std::size_t size) noexcept {
        liveBlocks_.fetch_sub(1, std::memory_order_relaxed);
        liveBytes_.fetch_sub(size, std::memory_order_relaxed);
    }

    // Fills any struct with the members liveBlocks, liveBytes and failedRequests.
    template <class Counters>
    Counters Read() const noexcept {
        Counters counters;
        counters.liveBlocks = liveBlocks_.load(std::memory_order_relaxed);
        counters.liveBytes = liveBytes_.load(std::memory_order_relaxed);
        counters.failedRequests = failedRequests_.load(std::memory_order_relaxed);
        return counters;
    }

private:
    std::atomic<std::size_t> liveBlocks_{0};
    std::atomic<std::size_t> liveBytes_{0};
    std::atomic<std::size_t> failedRequests_{0};
    std::atomic<std::size_t> failNext_{0};
};

}  // namespace host_internal
