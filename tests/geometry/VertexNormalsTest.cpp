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
        if (type.HasNormals()) {
            for (unsigned i = 0; i < 3; ++i)
                record[type.NormalOffset() + i] = kGarbage;
        }
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

Vec NormalOf(const PolyForm& polyForm, std::uint32_t vertex) {
    const float* normal = polyForm.GetVertexPool()->GetNormal(vertex);
    return {normal[0], normal[1], normal[2]};
}

Vec Unit(Vec v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / length, v[1] / length, v[2] / length};
}

void ExpectNear(const Vec& actual, const Vec& expected, const std::string& where) {
    for (int axis = 0; axis < 3; ++axis)
        EXPECT_NEAR(actual[axis], expected[axis], 1e-6) << where << " axis " << axis;
}

Vec Corner(const std::vector<float>& positions, std::uint32_t vertex) {
    return {positions[vertex * 3], positions[vertex * 3 + 1], positions[vertex * 3 + 2]};
}

// Flips a triangle whose normal points towards the origin, for closed solids around it.
void AppendOutward(Indices& indices, const std::vector<float>& positions, std::uint32_t a,
                   std::uint32_t b, std::uint32_t c) {
    Vec pa = Corner(positions, a), pb = Corner(positions, b), pc = Corner(positions, c);
    Vec u{pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
    Vec v{pc[0] - pa[0], pc[1] - pa[1], pc[2] - pa[2]};
    Vec n{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    if (n[0] * pa[0] + n[1] * pa[1] + n[2] * pa[2] < 0)
        std::swap(b, c);
    indices.insert(indices.end(), {a, b, c});
}

// The four corners of the cube face where axis k has sign s, counter-clockwise seen from
// outside, as coordinates.
std::array<Vec, 4> FaceCorners(int k, int s) {
    const int u = (k + 1) % 3, v = (k + 2) % 3;
    const double square[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    std::array<Vec, 4> corners;
    for (int i = 0; i < 4; ++i) {
        const int at = s > 0 ? i : 3 - i;
        corners[i][k] = s;
        corners[i][u] = square[at][0];
        corners[i][v] = square[at][1];
    }
    return corners;
}

class VertexNormalsTest : public ::testing::TestWithParam<unsigned> {};

// Four vertices per face: every vertex normal is its face's axis.
TEST_P(VertexNormalsTest, CubeWithSeparateFacesGetsFaceNormals) {
    std::vector<float> positions;
    Indices indices;
    std::vector<Vec> expected;
    for (int k = 0; k < 3; ++k) {
        for (int s : {1, -1}) {
            const auto base = static_cast<std::uint32_t>(positions.size() / 3);
            for (const Vec& corner : FaceCorners(k, s)) {
                for (double coordinate : corner)
                    positions.push_back(static_cast<float>(coordinate));
                Vec axis{0, 0, 0};
                axis[k] = s;
                expected.push_back(axis);
            }
            indices.insert(indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
        }
    }
    auto polyForm = MakePolyForm(GetParam(), positions, {indices});
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    for (std::uint32_t v = 0; v < expected.size(); ++v)
        ExpectNear(NormalOf(*polyForm, v), expected[v], "vertex " + std::to_string(v));
}

// Eight shared corners; every face is split along the diagonal joining its two corners with an
// even number of positive coordinates, so that all corners see the same triangle pattern and
// their normals point exactly along the diagonals.
TEST_P(VertexNormalsTest, CubeWithSharedCornersGetsDiagonalNormals) {
    std::vector<float> positions;
    for (std::uint32_t i = 0; i < 8; ++i) {
        positions.push_back(i & 4 ? 1.f : -1.f);
        positions.push_back(i & 2 ? 1.f : -1.f);
        positions.push_back(i & 1 ? 1.f : -1.f);
    }
    auto indexOf = [](const Vec& corner) {
        return std::uint32_t((corner[0] > 0 ? 4 : 0) | (corner[1] > 0 ? 2 : 0) |
                             (corner[2] > 0 ? 1 : 0));
    };
    auto even = [](std::uint32_t index) { return std::popcount(index) % 2 == 0; };
    Indices indices;
    for (int k = 0; k < 3; ++k) {
        for (int s : {1, -1}) {
            std::array<std::uint32_t, 4> q;
            const std::array<Vec, 4> corners = FaceCorners(k, s);
            for (int i = 0; i < 4; ++i)
                q[i] = indexOf(corners[i]);
            if (even(q[0]))
                indices.insert(indices.end(), {q[0], q[1], q[2], q[0], q[2], q[3]});
            else
                indices.insert(indices.end(), {q[1], q[2], q[3], q[1], q[3], q[0]});
        }
    }
    ASSERT_EQ(indices.size(), 36u);
    auto polyForm = MakePolyForm(GetParam(), positions, {indices});
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    for (std::uint32_t v = 0; v < 8; ++v) {
        ExpectNear(NormalOf(*polyForm, v), Unit(Corner(positions, v)),
                   "corner " + std::to_string(v));
    }
}

TEST_P(VertexNormalsTest, RegularTetrahedronGetsRadialNormals) {
    const std::vector<float> positions = {1, 1, 1, 1, -1, -1, -1, 1, -1, -1, -1, 1};
    Indices indices;
    AppendOutward(indices, positions, 1, 2, 3);
    AppendOutward(indices, positions, 0, 2, 3);
    AppendOutward(indices, positions, 0, 1, 3);
    AppendOutward(indices, positions, 0, 1, 2);
    auto polyForm = MakePolyForm(GetParam(), positions, {indices});
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    for (std::uint32_t v = 0; v < 4; ++v) {
        ExpectNear(NormalOf(*polyForm, v), Unit(Corner(positions, v)),
                   "vertex " + std::to_string(v));
    }
}

INSTANTIATE_TEST_SUITE_P(TypesWithNormals, VertexNormalsTest, ::testing::Values(1u, 2u, 3u),
                         [](const auto& info) { return "Type" + std::to_string(info.param); });

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

const NormalRow kNormalRows[] = {
    {"CounterClockwiseTriangle", kRightTriangle, {{0, 1, 2}}, {kUp, kUp, kUp}},
    {"ClockwiseTriangle", kRightTriangle, {{0, 2, 1}}, {{0, 0, -1}, {0, 0, -1}, {0, 0, -1}}},
    {"AreaWeighted",
     {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 3, 0, 0},
     {{0, 1, 2, 0, 3, 4}},
     {Unit({0, 9, 1}), kUp, kUp, {0, 1, 0}, {0, 1, 0}}},
    {"TrianglesOfAllMeshesCount",
     {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0},
     {{0, 1, 2}, {}, {0, 2, 3}},
     {kUp, kUp, kUp, kUp}},
    {"IndexNotBelowTheVertexCountIsSkipped",
     kRightTriangle,
     {{0, 1, 2, 0, 1, 3, 5, 1, 2, kMax, 0, 1, 0, kMax, kMax}},
     {kUp, kUp, kUp}},
    {"ZeroAreaTriangleAlone", {0, 0, 0, 1, 0, 0, 2, 0, 0}, {{0, 1, 2}}, {kZero, kZero, kZero}},
    {"RepeatedIndexAddsNothing", kRightTriangle, {{0, 0, 1, 0, 1, 2, 2, 2, 2}}, {kUp, kUp, kUp}},
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
    {"EmptyMesh", kRightTriangle, {{}}, {kZero, kZero, kZero}},
    {"NoMesh", kRightTriangle, {}, {kZero, kZero, kZero}},
    {"EmptyPoolWithTriangles", {}, {{0, 1, 2}}, {}},
};

class VertexNormalsSafetyTest : public ::testing::TestWithParam<std::tuple<NormalRow, unsigned>> {};

TEST_P(VertexNormalsSafetyTest, GivesFiniteNormalsAndTouchesNothingElse) {
    const auto& [row, typeValue] = GetParam();
    const VertexType type = typeValue;
    auto polyForm = MakePolyForm(type, row.positions, row.meshes);
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    const VertexPool& pool = *polyForm->GetVertexPool();
    ASSERT_EQ(pool.GetVertexCount(), row.expected.size());
    for (std::uint32_t v = 0; v < pool.GetVertexCount(); ++v) {
        const std::string where = "vertex " + std::to_string(v);
        const Vec normal = NormalOf(*polyForm, v);
        for (double component : normal)
            EXPECT_TRUE(std::isfinite(component)) << where;
        if (row.expected[v] == kZero)
            EXPECT_EQ(normal, kZero) << where;
        else
            ExpectNear(normal, row.expected[v], where);
        // Positions bit for bit (NaN included), other slots as they were.
        EXPECT_EQ(std::memcmp(pool.GetPosition(v), &row.positions[v * 3], 3 * sizeof(float)), 0)
            << where;
        for (unsigned i = 0; i < type.NormalOffset(); ++i)
            EXPECT_EQ(pool.GetRecord(v)[i], kFiller) << where;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, VertexNormalsSafetyTest,
                         ::testing::Combine(::testing::ValuesIn(kNormalRows),
                                            ::testing::Values(1u, 2u, 3u)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) + "_Type" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(VertexNormalsTest, PositionOnlyPoolIsLeftAlone) {
    auto polyForm = MakePolyForm(VertexType::Position, kRightTriangle, {{0, 1, 2}});
    EXPECT_FALSE(polyForm->GenerateVertexNormals());
    const VertexPool& pool = *polyForm->GetVertexPool();
    EXPECT_EQ(std::memcmp(pool.Vertices(), kRightTriangle.data(), 9 * sizeof(float)), 0);
}

TEST(VertexNormalsTest, NoPoolDoesNothing) {
    PolyForm polyForm;
    auto* mesh = new Mesh;
    const std::uint32_t triangle[] = {0, 1, 2};
    mesh->AddTriangles(triangle, 3);
    polyForm.AddMesh(mesh);
    EXPECT_FALSE(polyForm.GenerateVertexNormals());
}

TEST(VertexNormalsTest, RunningTwiceGivesTheSameNormals) {
    auto polyForm =
        MakePolyForm(1, {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 3, 0, 0}, {{0, 1, 2, 0, 3, 4}});
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    const std::vector<float> first(polyForm->GetVertexPool()->Vertices(),
                                   polyForm->GetVertexPool()->Vertices() + 5 * 6);
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    EXPECT_EQ(std::memcmp(polyForm->GetVertexPool()->Vertices(), first.data(),
                          first.size() * sizeof(float)),
              0);
}

}  // namespace
