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

// A PolyForm with a pool of the given type holding positions (x y z each) and one mesh per
// entry of meshes. Normal slots start as kGarbage, other non-position slots as kFiller.
std::unique_ptr<PolyForm> MakePolyForm(VertexType type, const std::vector<float>& positions,
                                       const std::vector<Indices>& meshes) {
    auto polyForm = std::make_unique<PolyForm>();
    const auto count = static_cast<std::uint32_t>(positions.size() / 3);
    VertexPool* pool = VertexPool::Construct(type, count);
    EXPECT_NE(pool, nullptr);
    const unsigned length = pool->GetRecordLength();
    for (std::uint32_t v = 0; v < count; ++v) {
        float* record = pool->GetRecord(v);
        for (unsigned i = 0; i < length - 3; ++i)
            record[i] = kFiller;
        for (unsigned i = 0; type.HasNormals() && i < 3; ++i)
            record[type.NormalOffset() + i] = kGarbage;
        std::memcpy(record + length - 3, &positions[v * 3], 3 * sizeof(float));
    }
    polyForm->SetVertexPool(pool);
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
    auto polyForm = MakePolyForm(type, row.positions, row.meshes);
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
    auto polyForm = MakePolyForm(VertexType::Position, kRightTriangle, {{0, 1, 2}});
    EXPECT_FALSE(polyForm->GenerateVertexNormals());
    EXPECT_EQ(std::memcmp(polyForm->GetVertexPool()->Vertices(), kRightTriangle.data(),
                          9 * sizeof(float)),
              0);
    PolyForm withoutPool;
    const std::uint32_t triangle[] = {0, 1, 2};
    auto* mesh = new Mesh;
    mesh->AddTriangles(triangle, 3);
    withoutPool.AddMesh(mesh);
    EXPECT_FALSE(withoutPool.GenerateVertexNormals());
}

}  // namespace
