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

void ExpectNothingLiveSince(const orbk::MemoryPoolStatistics& before) {
    const orbk::MemoryPoolStatistics now = MemoryPool::Statistics();
    EXPECT_EQ(now.liveBlocks, before.liveBlocks);
    EXPECT_EQ(now.liveBytes, before.liveBytes);
}

TEST(MemoryPoolTest, BlocksAreAlignedWritableDistinctAndCounted) {
    for (std::size_t size : {0, 1, 7, 16, 33, 4096, 1 << 20}) {
        SCOPED_TRACE(size);
        const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
        void* block = MemoryPool::Allocate(size);
        void* other = MemoryPool::Allocate(size);
        ASSERT_NE(block, nullptr);
        ASSERT_NE(other, nullptr);
        EXPECT_NE(block, other);  // zero-sized blocks too
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
        std::memset(block, 0xA5, size);
        EXPECT_EQ(MemoryPool::Statistics().liveBlocks, before.liveBlocks + 2);
        EXPECT_EQ(MemoryPool::Statistics().liveBytes, before.liveBytes + 2 * size);
        MemoryPool::Free(block, size);
        MemoryPool::Free(other, size);
        MemoryPool::Free(nullptr, 64);  // ignored
        ExpectNothingLiveSince(before);
        EXPECT_EQ(MemoryPool::Statistics().failedRequests, before.failedRequests);
    }
}

// Failures hit exactly the next requests, also when threads race for them; asking for none
// cancels those pending.
TEST(MemoryPoolTest, InjectedFailuresHitExactlyTheNextRequests) {
    const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
    MemoryPool::FailNextRequests(5);
    MemoryPool::FailNextRequests(0);
    void* block = MemoryPool::Allocate(8);
    EXPECT_NE(block, nullptr);
    MemoryPool::Free(block, 8);
    constexpr std::size_t kFailures = 300;
    MemoryPool::FailNextRequests(kFailures);
    std::atomic<std::size_t> nulls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            std::vector<void*> blocks;
            for (int i = 0; i < 200; ++i) {
                if (void* block = MemoryPool::Allocate(16))
                    blocks.push_back(block);
                else
                    ++nulls;
            }
            for (void* block : blocks)
                MemoryPool::Free(block, 16);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(nulls.load(), kFailures);
    EXPECT_EQ(MemoryPool::Statistics().failedRequests, before.failedRequests + kFailures);
    ExpectNothingLiveSince(before);
}

// Pooled objects: a failed pool gives a null new-expression without constructing; a parser
// released through its base returns its derived size (the sized delete).
TEST(MemoryPoolTest, PooledObjectsYieldNullOnFailureAndReturnTheirSize) {
    const int constructedBefore = Pooled::constructed;
    MemoryPool::FailNextRequests(1);
    EXPECT_EQ(new Pooled(), nullptr);
    EXPECT_EQ(Pooled::constructed, constructedBefore);
    MemoryPool::FailNextRequests(1);
    EXPECT_EQ(new FileParser(), nullptr);

    struct BigParser : FileParser {
        char padding[300] = {};
    };
    const orbk::MemoryPoolStatistics before = MemoryPool::Statistics();
    Pooled* object = new Pooled();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(MemoryPool::Statistics().liveBytes, before.liveBytes + sizeof(Pooled));
    delete object;
    {
        SmartPtr<FileParser> parser(new BigParser());
        ASSERT_TRUE(parser);
        EXPECT_EQ(MemoryPool::Statistics().liveBytes, before.liveBytes + sizeof(BigParser));
    }
    ExpectNothingLiveSince(before);
}

}  // namespace
