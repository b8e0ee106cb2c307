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

struct TypeRow {
    unsigned value;
    unsigned length;  // 0: unknown
    bool normals;
    unsigned normalOffset;
    bool texCoords;
    bool color;
};

class VertexTypeTest : public ::testing::TestWithParam<TypeRow> {};

TEST_P(VertexTypeTest, DescribesItsRecord) {
    const TypeRow& row = GetParam();
    const VertexType type = row.value;
    EXPECT_EQ(type.Value(), row.value);
    EXPECT_EQ(type.IsKnown(), row.length != 0);
    EXPECT_EQ(type.RecordLength(), row.length);
    EXPECT_EQ(VertexRecordLength(type), row.length);
    EXPECT_LE(type.RecordLength(), 15u);
    EXPECT_EQ(type.HasNormals(), row.normals);
    if (row.normals) {
        EXPECT_EQ(type.NormalOffset(), row.normalOffset);
    }
    if (row.length != 0) {
        EXPECT_EQ(type.PositionOffset(), row.length - 3);
    }
    EXPECT_EQ(type.HasTexCoords(), row.texCoords);
    EXPECT_EQ(type.HasColor(), row.color);
}

INSTANTIATE_TEST_SUITE_P(
    Types, VertexTypeTest,
    ::testing::Values(TypeRow{0, 3, false, 0, false, false}, TypeRow{1, 6, true, 0, false, false},
                      TypeRow{2, 8, true, 2, true, false}, TypeRow{3, 10, true, 4, false, true},
                      TypeRow{4, 0, false, 0, false, false}, TypeRow{15, 0, false, 0, false, false},
                      TypeRow{0xFFFFFFFFu, 0, false, 0, false, false}),
    [](const auto& info) { return "Type" + std::to_string(info.index); });

TEST(VertexTypeTest, ComparesByValue) {
    EXPECT_EQ(VertexType(1), VertexType::NormalPosition);
    EXPECT_NE(VertexType(2), VertexType::NormalPosition);
    VertexType type = 3;
    EXPECT_EQ(type, VertexType::ColorNormalPosition);
}

class VertexPoolTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(VertexPoolTest, RecordsAreContiguousZeroedWithThePositionLast) {
    const VertexType type = GetParam();
    const unsigned length = type.RecordLength();
    std::unique_ptr<VertexPool> pool(VertexPool::Construct(type, 5));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->GetVertexCount(), 5u);
    EXPECT_EQ(pool->GetRecordLength(), length);
    EXPECT_EQ(pool->GetVertexType(), type);
    float* data = pool->Vertices();
    ASSERT_NE(data, nullptr);
    for (unsigned i = 0; i < 5 * length; ++i)
        EXPECT_EQ(data[i], 0.0f) << i;
    for (std::uint32_t v = 0; v < 5; ++v) {
        EXPECT_EQ(pool->GetRecord(v), data + v * length);
        EXPECT_EQ(pool->GetPosition(v), data + v * length + length - 3);
        if (type.HasNormals())
            EXPECT_EQ(pool->GetNormal(v), data + v * length + type.NormalOffset());
        else
            EXPECT_EQ(pool->GetNormal(v), nullptr);
    }
    EXPECT_EQ(pool->GetRecord(5), nullptr);
    EXPECT_EQ(pool->GetPosition(5), nullptr);
    EXPECT_EQ(pool->GetNormal(5), nullptr);

    // Writing the last three floats of a record, as a position-only reader does, touches
    // nothing else.
    for (std::uint32_t v = 0; v < 5; ++v) {
        float* position = data + v * length + length - 3;
        position[0] = float(v) + 0.25f;
        position[1] = float(v) + 0.5f;
        position[2] = float(v) + 0.75f;
    }
    const VertexPool& constPool = *pool;
    EXPECT_EQ(constPool.Vertices(), data);
    for (std::uint32_t v = 0; v < 5; ++v) {
        const float* record = constPool.GetRecord(v);
        for (unsigned i = 0; i + 3 < length; ++i)
            EXPECT_EQ(record[i], 0.0f);
        EXPECT_EQ(record[length - 1], float(v) + 0.75f);
    }
}

TEST_P(VertexPoolTest, EmptyPoolIsValidAndItsDataIsNotNull) {
    std::unique_ptr<VertexPool> pool(VertexPool::Construct(GetParam(), 0));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->GetVertexCount(), 0u);
    EXPECT_EQ(pool->GetRecordLength(), VertexType(GetParam()).RecordLength());
    EXPECT_NE(pool->Vertices(), nullptr);
    EXPECT_EQ(pool->GetRecord(0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Types, VertexPoolTest, ::testing::Values(0u, 1u, 2u, 3u),
                         [](const auto& info) { return "Type" + std::to_string(info.param); });

TEST(VertexPoolTest, UnknownTypeGivesNull) {
    EXPECT_EQ(VertexPool::Construct(4, 10), nullptr);
    EXPECT_EQ(VertexPool::Construct(99, 0), nullptr);
}

TEST(VertexPoolTest, PolyFormOwnsItsPool) {
    PolyForm polyForm;
    EXPECT_EQ(polyForm.GetVertexPool(), nullptr);
    VertexPool* first = VertexPool::Construct(1, 4);
    ASSERT_TRUE(polyForm.SetVertexPool(first));
    EXPECT_EQ(polyForm.GetVertexPool(), first);
    EXPECT_EQ(static_cast<const PolyForm&>(polyForm).GetVertexPool(), first);
    EXPECT_TRUE(polyForm.SetVertexPool(first));

    PolyForm other;
    EXPECT_FALSE(other.SetVertexPool(first));
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
