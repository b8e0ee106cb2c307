#include "geometry/VertexPool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "geometry/PolyForm.h"

namespace {

// The layouts are fixed at compile time; a plain number converts, as callers write it.
static_assert(VertexType(1).RecordLength() == 6);
static_assert(VertexRecordLength(VertexType::Position) == 3);
static_assert(VertexType{} == VertexType::Position);
static_assert(VertexType(3) == VertexType::ColorNormalPosition);

struct TypeRow {
    unsigned value;
    unsigned length;  // 0: unknown
    bool normals;
    unsigned normalOffset;
    bool texCoords;
    bool color;
};

class VertexTypeTest : public ::testing::TestWithParam<TypeRow> {};

// Known types also get a pool whose records are zeroed, contiguous and end in the position.
TEST_P(VertexTypeTest, DescribesItsRecordAndLaysOutPools) {
    const TypeRow& row = GetParam();
    const VertexType type = row.value;
    EXPECT_EQ(type.Value(), row.value);
    EXPECT_EQ(type.IsKnown(), row.length != 0);
    EXPECT_EQ(type.RecordLength(), row.length);
    EXPECT_EQ(VertexRecordLength(type), row.length);
    EXPECT_EQ(type.HasNormals(), row.normals);
    EXPECT_EQ(type.HasTexCoords(), row.texCoords);
    EXPECT_EQ(type.HasColor(), row.color);
    if (row.length == 0) {
        EXPECT_EQ(VertexPool::Construct(type, 10), nullptr);
        EXPECT_EQ(VertexPool::Construct(type, 0), nullptr);
        return;
    }
    EXPECT_EQ(type.PositionOffset(), row.length - 3);
    if (row.normals) {
        EXPECT_EQ(type.NormalOffset(), row.normalOffset);
    }
    for (const std::uint32_t count : {0u, 5u}) {
        std::unique_ptr<VertexPool> pool(VertexPool::Construct(type, count));
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->GetVertexCount(), count);
        EXPECT_EQ(pool->GetRecordLength(), row.length);
        EXPECT_EQ(pool->GetVertexType(), type);
        float* data = pool->Vertices();
        ASSERT_NE(data, nullptr);  // also for an empty pool
        for (unsigned i = 0; i < count * row.length; ++i)
            EXPECT_EQ(data[i], 0.0f) << i;
        for (std::uint32_t v = 0; v < count; ++v) {
            EXPECT_EQ(pool->GetRecord(v), data + v * row.length);
            EXPECT_EQ(pool->GetPosition(v), data + v * row.length + row.length - 3);
            EXPECT_EQ(pool->GetNormal(v),
                      row.normals ? data + v * row.length + row.normalOffset : nullptr);
        }
        const VertexPool& constPool = *pool;
        EXPECT_EQ(constPool.Vertices(), data);
        EXPECT_EQ(constPool.GetRecord(count), nullptr);
        EXPECT_EQ(pool->GetRecord(count), nullptr);
        EXPECT_EQ(pool->GetPosition(count), nullptr);
        EXPECT_EQ(pool->GetNormal(count), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Types, VertexTypeTest,
    ::testing::Values(TypeRow{0, 3, false, 0, false, false}, TypeRow{1, 6, true, 0, false, false},
                      TypeRow{2, 8, true, 2, true, false}, TypeRow{3, 10, true, 4, false, true},
                      TypeRow{4, 0, false, 0, false, false}, TypeRow{99, 0, false, 0, false, false},
                      TypeRow{0xFFFFFFFFu, 0, false, 0, false, false}),
    [](const auto& info) { return "Type" + std::to_string(info.index); });

TEST(VertexPoolTest, PolyFormOwnsItsPool) {
    PolyForm polyForm;
    EXPECT_EQ(polyForm.GetVertexPool(), nullptr);
    VertexPool* first = VertexPool::Construct(1, 4);
    ASSERT_TRUE(polyForm.SetVertexPool(first));
    EXPECT_EQ(static_cast<const PolyForm&>(polyForm).GetVertexPool(), first);
    EXPECT_TRUE(polyForm.SetVertexPool(first));
    PolyForm other;
    EXPECT_FALSE(other.SetVertexPool(first));  // a pool has one owner
    EXPECT_EQ(other.GetVertexPool(), nullptr);
    ASSERT_TRUE(polyForm.SetVertexPool(VertexPool::Construct(0, 2)));  // first is deleted
    EXPECT_EQ(polyForm.GetVertexPool()->GetVertexCount(), 2u);
    delete polyForm.GetVertexPool();  // deleting an attached pool detaches it
    EXPECT_EQ(polyForm.GetVertexPool(), nullptr);
    ASSERT_TRUE(polyForm.SetVertexPool(VertexPool::Construct(2, 1)));
    EXPECT_TRUE(polyForm.SetVertexPool(nullptr));
    EXPECT_EQ(polyForm.GetVertexPool(), nullptr);
}

}  // namespace
