// Running one piece of work per input on several threads, with the results taken in input order.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrelsc {

// The default number of workers: one per core, at least one.
inline unsigned DefaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// Runs work(0) ... work(count - 1) on up to jobs threads, one index per thread at a time, and
// hands each result to emit on the calling thread in index order, as soon as it and all before it
// are done. With one job or one index (or when no thread can be started) everything runs on the
// calling thread, each emit right after its work. An exception from work or emit stops the
// handing out of indices; it is rethrown once the threads have ended.
template <typename Work, typename Emit>
void RunInOrder(std::size_t count, unsigned jobs, Work work, Emit emit) {
    using Result = std::invoke_result_t<Work&, std::size_t>;
    const std::size_t threadCount = std::min<std::size_t>(jobs, count);
    if (threadCount <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            Result result = work(i);
            emit(i, result);
        }
        return;
    }

    struct Slot {
        bool done = false;
        std::optional<Result> result;
        std::exception_ptr failure;
    };
    std::vector<Slot> slots(count);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};

    auto serve = [&] {
        while (!stop.load()) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count)
                return;
            std::optional<Result> result;
            std::exception_ptr failure;
            try {
                result.emplace(work(i));
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                slots[i].result = std::move(result);
                slots[i].failure = failure;
                slots[i].done = true;
            }
            finished.notify_one();
        }
    };

    std::vector<std::thread> threads;
    threads.reserve(threadCount);
    for (std::size_t t = 0; t < threadCount; ++t) {
        try {
            threads.emplace_back(serve);
        } catch (const std::system_error&) {
            break;  // fewer threads do the same work
        }
    }
    if (threads.empty()) {
        RunInOrder(count, 1, work, emit);
        return;
    }

    std::exception_ptr failure;
    for (std::size_t i = 0; i < count && !failure; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return slots[i].done; });
        std::optional<Result> result = std::exchange(slots[i].result, std::nullopt);
        failure = slots[i].failure;
        lock.unlock();
        if (failure)
            break;
        try {
            emit(i, *result);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace kestrelsc
