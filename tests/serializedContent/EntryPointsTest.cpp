#include <gtest/gtest.h>

#include <string>

#include "kernel/MemoryPool.h"
#include "kernel/SerializedContentElement.h"
#include "serializedContent/SerializedContentParser.h"

namespace {

class Tracked : public RefCounted {
public:
    explicit Tracked(bool& deleted) : deleted_(deleted) {}
    ~Tracked() override { deleted_ = true; }

private:
    bool& deleted_;
};

struct MatchCase {
    std::string type;
    std::string name;
    bool expected;
};

class CreateComponentTest : public testing::TestWithParam<MatchCase> {};

TEST_P(CreateComponentTest, MatchesTypeAndNameExactly) {
    bool deleted = false;
    auto* previous = new Tracked(deleted);
    SmartPtr<RefCounted> component(previous);
    const MatchCase& c = GetParam();
    EXPECT_EQ(OrbDllCreateComponent(c.type, c.name, nullptr, component), c.expected);
    if (c.expected) {
        EXPECT_TRUE(deleted);  // the argument's reference was the last one
        ASSERT_TRUE(component);
        EXPECT_EQ(component->GetReferenceCount(), 1);
        EXPECT_NE(dynamic_cast<serializedContent::SerializedContentParser*>(component.get()),
                  nullptr);
    } else {
        EXPECT_FALSE(deleted);
        EXPECT_EQ(component.get(), previous);
        EXPECT_EQ(previous->GetReferenceCount(), 1);
    }
}

// One row per comparison: exact, not case-blind and not a prefix.
INSTANTIATE_TEST_SUITE_P(Cases, CreateComponentTest,
                         testing::Values(MatchCase{"loader", "serializedcontent", true},
                                         MatchCase{"Loader", "serializedcontent", false},
                                         MatchCase{"loade", "serializedcontent", false},
                                         MatchCase{"loader", "serializedContent", false},
                                         MatchCase{"loader", "serializedcontents", false}));

// Each call makes a loader of its own from the kernel's pool; an exhausted pool gives null (and
// still true). Init and terminate change nothing.
TEST(CreateComponentTest, EachCallMakesAnIndependentLoaderFromThePool) {
    OrbDllTerminate();
    OrbDllInit();
    OrbDllInit();
    const std::size_t before = orbk::MemoryPool::Statistics().liveBlocks;
    SmartPtr<RefCounted> first, second;
    ASSERT_TRUE(OrbDllCreateComponent("loader", "serializedcontent", nullptr, first));
    ASSERT_TRUE(OrbDllCreateComponent("loader", "serializedcontent", nullptr, second));
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(orbk::MemoryPool::Statistics().liveBlocks, before + 2);
    first = nullptr;
    bool deleted = false;
    second = new Tracked(deleted);
    orbk::MemoryPool::FailNextRequests(1);
    EXPECT_TRUE(OrbDllCreateComponent("loader", "serializedcontent", nullptr, second));
    EXPECT_FALSE(second);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(orbk::MemoryPool::Statistics().liveBlocks, before);
    OrbDllTerminate();
}

}  // namespace
