#include "geometry/MemoryPool.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

void ExpectNothingLiveSince(const MemoryPool::Counters& before) {
    const MemoryPool::Counters now = MemoryPool::GetCounters();
    EXPECT_EQ(now.liveBlocks, before.liveBlocks);
    EXPECT_EQ(now.liveBytes, before.liveBytes);
}

class GeometryPoolSizeTest : public ::testing::TestWithParam<std::size_t> {};

// Sizes on both sides of the size classes and of the 512-byte limit of the free lists.
TEST_P(GeometryPoolSizeTest, BlocksAreAlignedWritableCountedAndReused) {
    const std::size_t size = GetParam();
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    void* block = MemoryPool::Allocate(size, nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
    std::memset(block, 0xA5, size);
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks + 1);
    EXPECT_EQ(MemoryPool::GetCounters().liveBytes, before.liveBytes + size);
    MemoryPool::Free(block, size);
    MemoryPool::Free(nullptr, size);  // ignored
    ExpectNothingLiveSince(before);
    EXPECT_EQ(MemoryPool::GetCounters().failedRequests, before.failedRequests);
    int hint = 0;
    void* again = MemoryPool::Allocate(size, &hint);  // any hint is accepted
    ASSERT_NE(again, nullptr);
    std::memset(again, 0x5A, size);
    MemoryPool::Free(again, size);
}

INSTANTIATE_TEST_SUITE_P(Sizes, GeometryPoolSizeTest,
                         ::testing::Values(0, 1, 8, 15, 16, 17, 100, 511, 512, 513, 4096,
                                           std::size_t{1} << 20));

TEST(GeometryPoolTest, LiveBlocksAreDistinctAndDoNotOverlap) {
    std::vector<std::pair<char*, std::size_t>> blocks;
    for (std::size_t i = 0; i < 5000; ++i) {
        const std::size_t size = i % 97;
        auto* block = static_cast<char*>(MemoryPool::Allocate(size, nullptr));
        ASSERT_NE(block, nullptr);
        std::memset(block, static_cast<int>(i & 0xFF), size);
        blocks.emplace_back(block, size);
    }
    std::set<char*> distinct;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        distinct.insert(blocks[i].first);
        for (std::size_t b = 0; b < blocks[i].second; ++b)
            ASSERT_EQ(static_cast<unsigned char>(blocks[i].first[b]), i & 0xFF) << i;
    }
    EXPECT_EQ(distinct.size(), blocks.size());
    for (auto [block, size] : blocks)
        MemoryPool::Free(block, size);
}

TEST(GeometryPoolTest, InjectedFailuresGiveNullAndAreCounted) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    MemoryPool::FailNextRequests(2);
    EXPECT_EQ(MemoryPool::Allocate(16, nullptr), nullptr);
    EXPECT_EQ(MemoryPool::Allocate(4096, nullptr), nullptr);
    void* block = MemoryPool::Allocate(16, nullptr);
    EXPECT_NE(block, nullptr);
    MemoryPool::Free(block, 16);
    EXPECT_EQ(MemoryPool::GetCounters().failedRequests, before.failedRequests + 2);
    ExpectNothingLiveSince(before);
}

TEST(GeometryPoolTest, ThreadsShareThePoolSafely) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const auto size = static_cast<std::size_t>(8 + 8 * t);
            std::vector<void*> mine;
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < 500; ++i) {
                    mine.push_back(MemoryPool::Allocate(size, nullptr));
                    if (mine.back())
                        std::memset(mine.back(), t, size);
                }
                for (void* block : mine)
                    MemoryPool::Free(block, size);
                mine.clear();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ExpectNothingLiveSince(before);
}

}  // namespace
