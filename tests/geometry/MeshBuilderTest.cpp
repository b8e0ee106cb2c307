#include "geometry/MeshBuilder.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "geometry/PolyForm.h"

namespace {

using Vec = std::array<double, 3>;
using Indices = std::vector<std::uint32_t>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kFiller = 7.5f;   // texture and colour slots, which must survive
constexpr float kGarbage = 42.f;  // normal slots before generation

// A PolyForm with a pool of the given type holding positions (x y z each; no pool when null) and
// one mesh per entry of meshes. Normal slots start as kGarbage, other non-position slots as
// kFiller.
PolyForm* MakePolyForm(VertexType type, const std::vector<float>* positions,
                       const std::vector<Indices>& meshes) {
    auto* polyForm = new PolyForm;
    const auto count = positions ? static_cast<std::uint32_t>(positions->size() / 3) : 0;
    if (positions) {
        VertexPool* pool = VertexPool::Construct(type, count);
        EXPECT_NE(pool, nullptr);
        const unsigned length = pool->GetRecordLength();
        for (std::uint32_t v = 0; v < count; ++v) {
            float* record = pool->GetRecord(v);
            for (unsigned i = 0; i < length - 3; ++i)
                record[i] = kFiller;
            for (unsigned i = 0; type.HasNormals() && i < 3; ++i)
                record[type.NormalOffset() + i] = kGarbage;
            std::memcpy(record + length - 3, &(*positions)[v * 3], 3 * sizeof(float));
        }
        polyForm->SetVertexPool(pool);
    }
    for (const Indices& indices : meshes) {
        auto* mesh = new Mesh(type);
        mesh->AddTriangles(indices.data(), static_cast<std::uint32_t>(indices.size()));
        mesh->Flush();
        polyForm->AddMesh(mesh);
    }
    return polyForm;
}

// Names a row of a table crossed with vertex types.
const auto kRowName = [](const auto& info) {
    return std::string(std::get<0>(info.param).label) + "_Type" +
           std::to_string(std::get<1>(info.param));
};

struct NormalRow {
    const char* label;
    std::vector<float> positions;
    std::vector<Indices> meshes;
    std::vector<Vec> expected;  // one per vertex; (0, 0, 0) must be exact
};

const std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
const std::vector<float> kRightTriangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};
const Vec kUp{0, 0, 1};
const Vec kZero{0, 0, 0};

// clang-format off
const NormalRow kNormalRows[] = {
    {"CounterClockwiseTriangle", kRightTriangle, {{0, 1, 2}}, {kUp, kUp, kUp}},
    {"AreaWeighted", {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 3, 0, 0}, {{0, 1, 2, 0, 3, 4}}, {{0, 9 / std::sqrt(82.0), 1 / std::sqrt(82.0)}, kUp, kUp, {0, 1, 0}, {0, 1, 0}}},
    {"TrianglesOfAllMeshesCount", {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {{0, 1, 2}, {}, {0, 2, 3}}, {kUp, kUp, kUp, kUp}},
    {"IndexNotBelowTheVertexCountIsSkipped", kRightTriangle, {{0, 1, 2, 0, 1, 3, 5, 1, 2, kMax, 0, 1, 0, kMax, kMax}}, {kUp, kUp, kUp}},
    {"ZeroAreaTriangleAlone", {0, 0, 0, 1, 0, 0, 2, 0, 0}, {{0, 1, 2}}, {kZero, kZero, kZero}},
    {"OppositeTrianglesCancel", kRightTriangle, {{0, 1, 2, 0, 2, 1}}, {kZero, kZero, kZero}},
    {"NaNPositionLeavesItsTrianglesOut", {0, 0, 0, 1, 0, 0, 0, 1, 0, kNaN, 0, kInf}, {{0, 1, 2, 0, 1, 3, 3, 2, 1}}, {kUp, kUp, kUp, kZero}},
    {"HugeCoordinates", {0, 0, 0, 3e38f, 0, 0, 0, 3e38f, 0}, {{0, 1, 2}}, {kUp, kUp, kUp}},
    {"TinyTriangle", {0, 0, 0, 1e-30f, 0, 0, 0, 1e-30f, 0}, {{0, 1, 2}}, {kUp, kUp, kUp}},
    {"EmptyPoolWithTriangles", {}, {{0, 1, 2}}, {}},
};
// clang-format on

class VertexNormalsTest : public ::testing::TestWithParam<std::tuple<NormalRow, unsigned>> {};

// Normals are finite and area-weighted; a second run gives the same bits; positions (NaN
// included) and the other slots are left as they were.
TEST_P(VertexNormalsTest, GivesFiniteNormalsAndTouchesNothingElse) {
    const auto& [row, typeValue] = GetParam();
    const VertexType type = typeValue;
    std::unique_ptr<PolyForm> polyForm(MakePolyForm(type, &row.positions, row.meshes));
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    const VertexPool& pool = *polyForm->GetVertexPool();
    ASSERT_EQ(pool.GetVertexCount(), row.expected.size());
    const std::vector<float> first(pool.Vertices(),
                                   pool.Vertices() + pool.GetVertexCount() * type.RecordLength());
    for (std::uint32_t v = 0; v < pool.GetVertexCount(); ++v) {
        const std::string where = "vertex " + std::to_string(v);
        const float* n = pool.GetNormal(v);
        const Vec normal{n[0], n[1], n[2]};
        if (row.expected[v] == kZero) {
            EXPECT_EQ(normal, kZero) << where;
        }
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_NEAR(normal[axis], row.expected[v][axis], 1e-6) << where;
        EXPECT_EQ(std::memcmp(pool.GetPosition(v), &row.positions[v * 3], 3 * sizeof(float)), 0)
            << where;
        for (unsigned i = 0; i < type.NormalOffset(); ++i)
            EXPECT_EQ(pool.GetRecord(v)[i], kFiller) << where;
    }
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    if (!first.empty()) {  // an empty pool has no vertex block at all
        EXPECT_EQ(std::memcmp(pool.Vertices(), first.data(), first.size() * sizeof(float)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, VertexNormalsTest,
                         ::testing::Combine(::testing::ValuesIn(kNormalRows),
                                            ::testing::Values(1u, 2u, 3u)),
                         kRowName);

TEST(VertexNormalsTest, NothingIsDoneWithoutNormalSlotsOrPool) {
    std::unique_ptr<PolyForm> noSlots(MakePolyForm(0, &kRightTriangle, {{0, 1, 2}}));
    std::unique_ptr<PolyForm> noPool(MakePolyForm(1, nullptr, {{0, 1, 2}}));
    EXPECT_FALSE(noSlots->GenerateVertexNormals() || noPool->GenerateVertexNormals());
}

// ---- MakeMeshShape and ExtractMesh ----

float FromBits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

const PolyForm* OnlyPolyForm(const Shape& shape) {
    return shape.GetBody(0)->GetRegion(0)->GetShell(0)->GetFace(0)->GetPolyForm();
}

struct RoundTripRow {
    const char* label;
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    std::vector<float> keptPositions;
    std::vector<std::uint32_t> keptIndices;
};

// NaN payloads, -0, a denormal: the bits come back as they were.
const std::vector<float> kOddFloats = {
    FromBits(0x7FC00001), FromBits(0xFFFFFFFF), -0.0f, FromBits(0x00000001), kInf, -3.5f};

// clang-format off
const RoundTripRow kRoundTripRows[] = {
    {"Empty", {}, {}, {}, {}},
    {"RemaindersAreDropped", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {0, 1, 2, 2, 1}, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2}},
    {"IndicesBeyondTheVerticesPassThrough", {0, 0, 0, 1, 1, 1}, {0, 1, 7, kMax, 0, 0}, {0, 0, 0, 1, 1, 1}, {0, 1, 7, kMax, 0, 0}},
    {"FloatBitPatterns", kOddFloats, {1, 0, 1}, kOddFloats, {1, 0, 1}},
};
// clang-format on

class MeshBuilderRoundTripTest
    : public ::testing::TestWithParam<std::tuple<RoundTripRow, unsigned>> {};

TEST_P(MeshBuilderRoundTripTest, ExtractGivesBackWhatWasBuilt) {
    const auto& [row, typeValue] = GetParam();
    const VertexType type = typeValue;
    SmartPtr<Shape> shape = MakeMeshShape(row.positions, row.indices, type);
    ASSERT_NE(shape, nullptr);
    const PolyForm* polyForm = OnlyPolyForm(*shape);
    EXPECT_EQ(polyForm->GetVertexPool()->GetVertexType(), type);
    EXPECT_EQ(polyForm->GetMeshes().GetHead()->GetVertexType(), type);
    MeshData data = ExtractMesh(*shape);
    EXPECT_TRUE(SameBits(data.positions, row.keptPositions));
    EXPECT_EQ(data.indices, row.keptIndices);
}

INSTANTIATE_TEST_SUITE_P(Rows, MeshBuilderRoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kRoundTripRows),
                                            ::testing::Values(0u, 1u, 2u, 3u)),
                         kRowName);

TEST(MeshBuilderTest, DefaultTypeIsOneWithNormalsAndUnknownTypesGiveNull) {
    SmartPtr<Shape> shape = MakeMeshShape({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2});
    ASSERT_NE(shape, nullptr);
    const VertexPool* pool = OnlyPolyForm(*shape)->GetVertexPool();
    EXPECT_EQ(pool->GetVertexType(), VertexType(1));
    EXPECT_EQ(std::vector<float>(pool->GetNormal(2), pool->GetNormal(2) + 3),
              (std::vector<float>{0, 0, 1}));
    EXPECT_EQ(MakeMeshShape({0, 0, 0}, {}, 4), nullptr);
    EXPECT_EQ(MakeMeshShape({}, {}, 1000), nullptr);
}

// A shape whose faces, in walk order, carry the given PolyForms (null: a face without one), each
// in a body of its own so that the walk crosses every level.
SmartPtr<Shape> ShapeOfFaces(const std::vector<PolyForm*>& polyForms) {
    SmartPtr<Shape> shape(new Shape);
    for (PolyForm* polyForm : polyForms) {
        SmartPtr<Face> face(new Face);
        face->SetPolyForm(polyForm);
        auto* shell = new Shell;
        shell->AddFace(face.get());
        auto* region = new Region;
        region->AddShell(shell);
        auto* body = new Body;
        body->AddRegion(region);
        shape->AddBody(body);
    }
    return shape;
}

// Extract takes the last face with a PolyForm in walk order, and that PolyForm's first mesh.
TEST(MeshBuilderTest, ExtractAndCountTakeTheLastFaceWithAPolyFormAndItsFirstMesh) {
    const std::vector<float> early = {1, 1, 1};
    const std::vector<float> chosen = {2, 2, 2, 3, 3, 3};
    struct Case {
        const char* label;
        SmartPtr<Shape> shape;
        std::vector<float> positions;
        std::vector<std::uint32_t> indices;
    };
    const Case cases[] = {
        {"LastButOneFace",
         ShapeOfFaces({MakePolyForm(2, &early, {{0, 0, 0}}), MakePolyForm(2, &early, {{0, 0, 0}}),
                       MakePolyForm(2, &chosen, {{0, 1, 1, 1, 0, 0}, {9, 9, 9}}), nullptr}),
         chosen,
         {0, 1, 1, 1, 0, 0}},
        {"NoPolyForm", ShapeOfFaces({nullptr, nullptr}), {}, {}},
        {"NoPool", ShapeOfFaces({MakePolyForm(2, nullptr, {{0, 1, 2}})}), {}, {}},
        {"NoMesh", ShapeOfFaces({MakePolyForm(2, &early, {})}), early, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MeshData data = ExtractMesh(*c.shape);
        EXPECT_EQ(data.positions, c.positions);
        EXPECT_EQ(data.indices, c.indices);
        const MeshCounts counts = CountMesh(*c.shape);
        EXPECT_EQ(counts.vertices, c.positions.size() / 3);
        EXPECT_EQ(counts.indices, c.indices.size());
    }
}

}  // namespace
