#include "kernel/MemoryPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "kernel/FileParser.h"

namespace {

using orbk::MemoryPool;

// Counts constructions, so a test can tell that a failed new-expression built nothing.
struct Pooled : orbk::MemoryPoolAllocated {
    static inline int constructed = 0;
    Pooled() { ++constructed; }
    double payload[5] = {};
};

TEST(MemoryPoolTest, BlocksAreAlignedWritableAndCounted) {
    const std::size_t sizes[] = {0, 1, 7, 16, 33, 4096, 1 << 20};
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
        void* block = MemoryPool::Allocate(size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
        std::memset(block, 0xA5, size);

        const orbk::MemoryPoolStatistics during = MemoryPool::Statistics();
        EXPECT_EQ(during.liveBlocks, before.liveBlocks + 1);
        EXPECT_EQ(during.liveBytes, before.liveBytes + size);

        MemoryPool::Free(block, size);
        const orbk::MemoryPoolStatistics after = MemoryPool::Statistics();
        EXPECT_EQ(after.liveBlocks, before.liveBlocks);
        EXPECT_EQ(after.liveBytes, before.liveBytes);
        EXPECT_EQ(after.failedRequests, before.failedRequests);
    }
}

TEST(MemoryPoolTest, ZeroSizedBlocksAreDistinct) {
    void* first = MemoryPool::Allocate(0);
    void* second = MemoryPool::Allocate(0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    MemoryPool::Free(first, 0);
    MemoryPool::Free(second, 0);
}

TEST(MemoryPoolTest, FreeOfNullChangesNothing) {
    const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
    MemoryPool::Free(nullptr, 64);
    const orbk::MemoryPoolStatistics after = MemoryPool::Statistics();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.liveBytes, before.liveBytes);
}

TEST(MemoryPoolTest, InjectedFailuresHitExactlyTheNextRequests) {
    const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
    MemoryPool::FailNextRequests(2);
    EXPECT_EQ(MemoryPool::Allocate(8), nullptr);
    EXPECT_EQ(MemoryPool::Allocate(8), nullptr);
    void* block = MemoryPool::Allocate(8);
    EXPECT_NE(block, nullptr);
    MemoryPool::Free(block, 8);

    const orbk::MemoryPoolStatistics after = MemoryPool::Statistics();
    EXPECT_EQ(after.failedRequests, before.failedRequests + 2);
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
}

TEST(MemoryPoolTest, FailNextRequestsZeroCancelsPendingFailures) {
    MemoryPool::FailNextRequests(5);
    MemoryPool::FailNextRequests(0);
    void* block = MemoryPool::Allocate(8);
    EXPECT_NE(block, nullptr);
    MemoryPool::Free(block, 8);
}

TEST(MemoryPoolTest, ConcurrentRequestsConsumeEachInjectedFailureOnce) {
    constexpr int kThreads = 4;
    constexpr int kRequestsPerThread = 200;
    constexpr std::size_t kFailures = 300;
    MemoryPool::FailNextRequests(kFailures);

    std::atomic<std::size_t> nulls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::vector<void*> blocks;
            for (int i = 0; i < kRequestsPerThread; ++i) {
                void* block = MemoryPool::Allocate(16);
                if (block) {
                    blocks.push_back(block);
                } else {
                    ++nulls;
                }
            }
            for (void* block : blocks)
                MemoryPool::Free(block, 16);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(nulls.load(), kFailures);
}

TEST(MemoryPoolTest, NewExpressionYieldsNullWithoutConstructingWhenThePoolFails) {
    const int constructedBefore = Pooled::constructed;
    MemoryPool::FailNextRequests(1);
    Pooled* object = new Pooled();
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Pooled::constructed, constructedBefore);

    const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
    object = new Pooled();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(MemoryPool::Statistics().liveBytes, before.liveBytes + sizeof(Pooled));
    delete object;
    EXPECT_EQ(MemoryPool::Statistics().liveBytes, before.liveBytes);
}

TEST(MemoryPoolTest, ParsersComeFromThePoolAndReturnTheirSizeOnRelease) {
    MemoryPool::FailNextRequests(1);
    EXPECT_EQ(new FileParser(), nullptr);

    struct BigParser : FileParser {
        char padding[300] = {};
    };
    const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
    {
        SmartPtr<FileParser> parser(new BigParser());
        ASSERT_TRUE(parser);
        EXPECT_EQ(MemoryPool::Statistics().liveBytes, before.liveBytes + sizeof(BigParser));
    }
    // Released through the base: the sized delete must still return the derived size.
    EXPECT_EQ(MemoryPool::Statistics().liveBytes, before.liveBytes);
    EXPECT_EQ(MemoryPool::Statistics().liveBlocks, before.liveBlocks);
}

}  // namespace
