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

Vec Unit(Vec v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / length, v[1] / length, v[2] / length};
}

void ExpectNear(const Vec& actual, const Vec& expected, const std::string& where) {
    for (int axis = 0; axis < 3; ++axis)
        EXPECT_NEAR(actual[axis], expected[axis], 1e-6) << where << " axis " << axis;
}

// Eight shared corners; every face is split along the diagonal joining its two corners with an
// even number of positive coordinates, so that all corners see the same triangle pattern and
// their normals point exactly along the diagonals: each averages three faces' triangles.
std::vector<float> CubeCorners() {
    std::vector<float> positions;
    for (std::uint32_t i = 0; i < 8; ++i) {
        for (std::uint32_t bit : {4u, 2u, 1u})
            positions.push_back(i & bit ? 1.f : -1.f);
    }
    return positions;
}

Indices CubeTriangles() {
    Indices indices;
    for (int k = 0; k < 3; ++k) {
        for (int s : {1, -1}) {
            // The face's corners counter-clockwise seen from outside, as indices.
            const int u = (k + 1) % 3, v = (k + 2) % 3;
            const int square[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            std::array<std::uint32_t, 4> q;
            for (int i = 0; i < 4; ++i) {
                int corner[3];
                corner[k] = s;
                corner[u] = square[s > 0 ? i : 3 - i][0];
                corner[v] = square[s > 0 ? i : 3 - i][1];
                q[i] = std::uint32_t((corner[0] > 0 ? 4 : 0) | (corner[1] > 0 ? 2 : 0) |
                                     (corner[2] > 0 ? 1 : 0));
            }
            if (std::popcount(q[0]) % 2 == 0)
                indices.insert(indices.end(), {q[0], q[1], q[2], q[0], q[2], q[3]});
            else
                indices.insert(indices.end(), {q[1], q[2], q[3], q[1], q[3], q[0]});
        }
    }
    return indices;
}

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
const double kD = 1 / std::sqrt(3.0);

// clang-format off
const NormalRow kNormalRows[] = {
    {"CounterClockwiseTriangle", kRightTriangle, {{0, 1, 2}}, {kUp, kUp, kUp}},
    {"ClockwiseTriangle", kRightTriangle, {{0, 2, 1}}, {{0, 0, -1}, {0, 0, -1}, {0, 0, -1}}},
    {"AreaWeighted",
     {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 3, 0, 0},
     {{0, 1, 2, 0, 3, 4}},
     {Unit({0, 9, 1}), kUp, kUp, {0, 1, 0}, {0, 1, 0}}},
    {"CubeWithSharedCorners",
     CubeCorners(),
     {CubeTriangles()},
     {{-kD, -kD, -kD}, {-kD, -kD, kD}, {-kD, kD, -kD}, {-kD, kD, kD}, {kD, -kD, -kD}, {kD, -kD, kD}, {kD, kD, -kD}, {kD, kD, kD}}},
    {"TrianglesOfAllMeshesCount",
     {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0},
     {{0, 1, 2}, {}, {0, 2, 3}},
     {kUp, kUp, kUp, kUp}},
    {"IndexNotBelowTheVertexCountIsSkipped",
     kRightTriangle,
     {{0, 1, 2, 0, 1, 3, 5, 1, 2, kMax, 0, 1, 0, kMax, kMax}},
     {kUp, kUp, kUp}},
    {"ZeroAreaTriangleAlone", {0, 0, 0, 1, 0, 0, 2, 0, 0}, {{0, 1, 2}}, {kZero, kZero, kZero}},
    {"OppositeTrianglesCancel", kRightTriangle, {{0, 1, 2, 0, 2, 1}}, {kZero, kZero, kZero}},
    {"UnusedVertexGetsZero",
     {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5},
     {{0, 1, 2}},
     {kUp, kUp, kUp, kZero}},
    {"NaNPositionLeavesItsTrianglesOut",
     {0, 0, 0, 1, 0, 0, 0, 1, 0, kNaN, 0, 0},
     {{0, 1, 2, 0, 1, 3, 3, 2, 1}},
     {kUp, kUp, kUp, kZero}},
    {"InfinitePositionLeavesItsTrianglesOut",
     {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, kInf, -kInf},
     {{0, 1, 2, 0, 1, 3, 3, 2, 1}},
     {kUp, kUp, kUp, kZero}},
    {"HugeCoordinates", {0, 0, 0, 3e38f, 0, 0, 0, 3e38f, 0}, {{0, 1, 2}}, {kUp, kUp, kUp}},
    {"TinyTriangle", {0, 0, 0, 1e-30f, 0, 0, 0, 1e-30f, 0}, {{0, 1, 2}}, {kUp, kUp, kUp}},
    {"NoMesh", kRightTriangle, {}, {kZero, kZero, kZero}},
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
        for (double component : normal)
            EXPECT_TRUE(std::isfinite(component)) << where;
        if (row.expected[v] == kZero)
            EXPECT_EQ(normal, kZero) << where;
        else
            ExpectNear(normal, row.expected[v], where);
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
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) + "_Type" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(VertexNormalsTest, NothingIsDoneWithoutNormalSlots) {
    std::unique_ptr<PolyForm> polyForm(
        MakePolyForm(VertexType::Position, &kRightTriangle, {{0, 1, 2}}));
    EXPECT_FALSE(polyForm->GenerateVertexNormals());
    EXPECT_EQ(std::memcmp(polyForm->GetVertexPool()->Vertices(), kRightTriangle.data(),
                          9 * sizeof(float)),
              0);
    EXPECT_FALSE(
        std::unique_ptr<PolyForm>(MakePolyForm(1, nullptr, {{0, 1, 2}}))->GenerateVertexNormals());
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
    EXPECT_EQ(shape.GetBodyCount(), 1u);
    const Region* region = shape.GetBody(0)->GetRegion(0);
    EXPECT_EQ(region->GetShellCount(), 1u);
    EXPECT_EQ(region->GetShell(0)->GetFaceCount(), 1u);
    return region->GetShell(0)->GetFace(0)->GetPolyForm();
}

struct RoundTripRow {
    const char* label;
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    std::vector<float> keptPositions;
    std::vector<std::uint32_t> keptIndices;
};

const std::vector<float> kOddFloats = {FromBits(0x7FC00001),
                                       FromBits(0xFFFFFFFF),
                                       -0.0f,
                                       FromBits(0x00000001),
                                       std::numeric_limits<float>::infinity(),
                                       -3.5f};

// clang-format off
const RoundTripRow kRoundTripRows[] = {
    {"Empty", {}, {}, {}, {}},
    {"RemaindersAreDropped", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {0, 1, 2, 2, 1}, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2}},
    {"IndicesBeyondTheVerticesPassThrough", {0, 0, 0, 1, 1, 1}, {0, 1, 7, kMax, 0, 0}, {0, 0, 0, 1, 1, 1}, {0, 1, 7, kMax, 0, 0}},
    {"TrianglesWithoutVertices", {}, {0, 1, 2}, {}, {0, 1, 2}},
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
    ASSERT_NE(polyForm, nullptr);
    const VertexPool* pool = polyForm->GetVertexPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->GetVertexType(), type);
    EXPECT_EQ(pool->GetVertexCount(), row.keptPositions.size() / 3);
    ASSERT_EQ(polyForm->GetMeshes().GetCount(), 1u);
    EXPECT_EQ(polyForm->GetMeshes().GetHead()->GetVertexType(), type);
    MeshData data = ExtractMesh(*shape);
    EXPECT_TRUE(SameBits(data.positions, row.keptPositions));
    EXPECT_EQ(data.indices, row.keptIndices);
}

INSTANTIATE_TEST_SUITE_P(Rows, MeshBuilderRoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kRoundTripRows),
                                            ::testing::Values(0u, 1u, 2u, 3u)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) + "_Type" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(MeshBuilderTest, DefaultTypeIsOneWithNormalsAndUnknownTypesGiveNull) {
    SmartPtr<Shape> shape = MakeMeshShape({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2});
    ASSERT_NE(shape, nullptr);
    const VertexPool* pool = OnlyPolyForm(*shape)->GetVertexPool();
    EXPECT_EQ(pool->GetVertexType(), VertexType(1));
    for (std::uint32_t v = 0; v < 3; ++v)
        EXPECT_EQ(std::vector<float>(pool->GetNormal(v), pool->GetNormal(v) + 3),
                  (std::vector<float>{0, 0, 1}));
    EXPECT_EQ(MakeMeshShape({0, 0, 0}, {}, 4), nullptr);
    EXPECT_EQ(MakeMeshShape({}, {}, 1000), nullptr);
}

// A shape whose faces, in walk order, carry the given PolyForms (null: a face without one),
// spread over two bodies and two shells each so that the walk crosses every level.
SmartPtr<Shape> ShapeOfFaces(const std::vector<PolyForm*>& polyForms) {
    SmartPtr<Shape> shape(new Shape);
    const std::size_t half = polyForms.size() / 2;
    for (std::size_t part = 0; part < 2; ++part) {
        auto* region = new Region;
        Shell* shells[2] = {new Shell, new Shell};
        for (std::size_t i = part == 0 ? 0 : half; i < (part == 0 ? half : polyForms.size()); ++i) {
            SmartPtr<Face> face(new Face);
            face->SetPolyForm(polyForms[i]);
            shells[i % 2]->AddFace(face.get());
        }
        region->AddShell(shells[0]);
        region->AddShell(shells[1]);
        auto* body = new Body;
        body->AddRegion(region);
        shape->AddBody(body);
    }
    return shape;
}

// Extract takes the last face with a PolyForm in walk order, and that PolyForm's first mesh.
TEST(MeshBuilderTest, ExtractTakesTheLastFaceWithAPolyFormAndItsFirstMesh) {
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
        {"NoBody", SmartPtr<Shape>(new Shape), {}, {}},
        {"NoPolyForm", ShapeOfFaces({nullptr, nullptr}), {}, {}},
        {"NoPool", ShapeOfFaces({MakePolyForm(2, nullptr, {{0, 1, 2}})}), {}, {}},
        {"NoMesh", ShapeOfFaces({MakePolyForm(2, &early, {})}), early, {}},
        {"LastPolyFormHasNoPool",
         ShapeOfFaces(
             {MakePolyForm(2, &early, {{0, 0, 0}}), MakePolyForm(2, nullptr, {{0, 1, 2}})}),
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MeshData data = ExtractMesh(*c.shape);
        EXPECT_EQ(data.positions, c.positions);
        EXPECT_EQ(data.indices, c.indices);
    }
}

}  // namespace
