#include "geometry/MemoryPool.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(now.failedRequests, before.failedRequests);
}

// Sizes on both sides of the size classes and of the 512-byte limit of the free lists; blocks
// live at the same time never overlap, and any hint is accepted.
TEST(GeometryPoolTest, BlocksAreAlignedDistinctAndCounted) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    std::vector<std::pair<char*, std::size_t>> blocks;
    int hint = 0;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{8}, std::size_t{15}, std::size_t{16},
          std::size_t{17}, std::size_t{100}, std::size_t{511}, std::size_t{512}, std::size_t{513},
          std::size_t{4096}, std::size_t{1} << 20}) {
        for (int copy = 0; copy < 300; ++copy) {
            auto* block =
                static_cast<char*>(MemoryPool::Allocate(size, copy % 2 ? &hint : nullptr));
            ASSERT_NE(block, nullptr) << size;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
            std::memset(block, static_cast<int>(blocks.size() & 0xFF), size);
            blocks.emplace_back(block, size);
        }
    }
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks + blocks.size());
    std::set<char*> distinct;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        distinct.insert(blocks[i].first);
        for (std::size_t b = 0; b < std::min<std::size_t>(blocks[i].second, 64); ++b)
            ASSERT_EQ(static_cast<unsigned char>(blocks[i].first[b]), i & 0xFF) << i;
    }
    EXPECT_EQ(distinct.size(), blocks.size());  // zero-sized blocks too
    for (auto [block, size] : blocks)
        MemoryPool::Free(block, size);
    MemoryPool::Free(nullptr, 16);  // ignored
    ExpectNothingLiveSince(before);
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
