#include "geometry/MeshBuilder.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace {

float FromBits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

const Face* OnlyFace(const Shape& shape) {
    if (shape.GetBodyCount() != 1)
        return nullptr;
    const Body* body = shape.GetBody(0);
    if (body->GetRegionCount() != 1)
        return nullptr;
    const Region* region = body->GetRegion(0);
    if (region->GetShellCount() != 1)
        return nullptr;
    const Shell* shell = region->GetShell(0);
    return shell->GetFaceCount() == 1 ? shell->GetFace(0) : nullptr;
}

struct RoundTripRow {
    const char* label;
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    std::vector<float> keptPositions;
    std::vector<std::uint32_t> keptIndices;
};

const std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();

const RoundTripRow kRoundTripRows[] = {
    {"Empty", {}, {}, {}, {}},
    {"OneTriangle", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}},
    {"RemaindersAreDropped",
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
     {0, 1, 2, 2, 1},
     {1, 2, 3, 4, 5, 6, 7, 8, 9},
     {0, 1, 2}},
    {"IndicesBeyondTheVerticesPassThrough",
     {0, 0, 0, 1, 1, 1},
     {0, 1, 7, kMax, 0, 0},
     {0, 0, 0, 1, 1, 1},
     {0, 1, 7, kMax, 0, 0}},
    {"TrianglesWithoutVertices", {}, {0, 1, 2}, {}, {0, 1, 2}},
    {"FloatBitPatterns",
     {FromBits(0x7FC00001), FromBits(0xFFFFFFFF), -0.0f, FromBits(0x00000001),
      std::numeric_limits<float>::infinity(), -3.5f},
     {1, 0, 1},
     {FromBits(0x7FC00001), FromBits(0xFFFFFFFF), -0.0f, FromBits(0x00000001),
      std::numeric_limits<float>::infinity(), -3.5f},
     {1, 0, 1}},
};

class MeshBuilderRoundTripTest
    : public ::testing::TestWithParam<std::tuple<RoundTripRow, unsigned>> {};

TEST_P(MeshBuilderRoundTripTest, ExtractGivesBackWhatWasBuilt) {
    const auto& [row, typeValue] = GetParam();
    const VertexType type = typeValue;
    SmartPtr<Shape> shape = MakeMeshShape(row.positions, row.indices, type);
    ASSERT_NE(shape, nullptr);

    const Face* face = OnlyFace(*shape);
    ASSERT_NE(face, nullptr);
    const PolyForm* polyForm = face->GetPolyForm();
    ASSERT_NE(polyForm, nullptr);
    const VertexPool* pool = polyForm->GetVertexPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->GetVertexType(), type);
    EXPECT_EQ(pool->GetVertexCount(), row.keptPositions.size() / 3);
    ASSERT_EQ(polyForm->GetMeshes().GetCount(), 1u);
    const Mesh* mesh = polyForm->GetMeshes().GetHead();
    EXPECT_EQ(mesh->GetVertexType(), type);
    EXPECT_EQ(mesh->GetNumTriangles(), row.keptIndices.size() / 3);

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

TEST(MeshBuilderTest, DefaultTypeIsOneWithGeneratedNormals) {
    SmartPtr<Shape> shape = MakeMeshShape({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2});
    ASSERT_NE(shape, nullptr);
    const VertexPool* pool = OnlyFace(*shape)->GetPolyForm()->GetVertexPool();
    EXPECT_EQ(pool->GetVertexType(), VertexType(1));
    for (std::uint32_t v = 0; v < 3; ++v) {
        const float* normal = pool->GetNormal(v);
        EXPECT_EQ(normal[0], 0.f);
        EXPECT_EQ(normal[1], 0.f);
        EXPECT_EQ(normal[2], 1.f);
    }
}

TEST(MeshBuilderTest, UnknownTypeGivesNull) {
    EXPECT_EQ(MakeMeshShape({0, 0, 0}, {}, 4), nullptr);
    EXPECT_EQ(MakeMeshShape({}, {}, 1000), nullptr);
}

// A PolyForm with a pool of the given positions and one mesh per entry of meshes (no pool
// when positions is null).
PolyForm* MakePolyForm(const std::vector<float>* positions,
                       const std::vector<std::vector<std::uint32_t>>& meshes) {
    auto* polyForm = new PolyForm;
    if (positions) {
        const auto count = static_cast<std::uint32_t>(positions->size() / 3);
        VertexPool* pool = VertexPool::Construct(2, count);
        for (std::uint32_t v = 0; v < count; ++v)
            std::memcpy(pool->GetRecord(v) + 5, &(*positions)[v * 3], 3 * sizeof(float));
        polyForm->SetVertexPool(pool);
    }
    for (const auto& indices : meshes) {
        auto* mesh = new Mesh(2);
        mesh->AddTriangles(indices.data(), static_cast<std::uint32_t>(indices.size()));
        polyForm->AddMesh(mesh);
    }
    return polyForm;
}

// A shape whose faces, in walk order, carry the given PolyForms (null: a face without one),
// spread over two bodies so that the walk crosses every level.
SmartPtr<Shape> ShapeOfFaces(const std::vector<PolyForm*>& polyForms) {
    SmartPtr<Shape> shape(new Shape);
    const std::size_t half = polyForms.size() / 2;
    for (std::size_t part = 0; part < 2; ++part) {
        auto* body = new Body;
        auto* region = new Region;
        auto* first = new Shell;
        auto* second = new Shell;
        const std::size_t begin = part == 0 ? 0 : half;
        const std::size_t end = part == 0 ? half : polyForms.size();
        for (std::size_t i = begin; i < end; ++i) {
            SmartPtr<Face> face(new Face);
            face->SetPolyForm(polyForms[i]);
            (i % 2 == 0 ? first : second)->AddFace(face.get());
        }
        region->AddShell(first);
        region->AddShell(second);
        body->AddRegion(region);
        shape->AddBody(body);
    }
    return shape;
}

TEST(MeshBuilderTest, ExtractTakesTheLastFaceWithAPolyFormAndItsFirstMesh) {
    const std::vector<float> early = {1, 1, 1};
    const std::vector<float> chosen = {2, 2, 2, 3, 3, 3};
    const std::vector<float> laterInFirstBody = {4, 4, 4};
    // Walk order: faces 0 and 1 in body 0, then faces 2 and 3 in body 1. Face 3, reached last,
    // has no PolyForm, so face 2's is the one taken.
    SmartPtr<Shape> shape = ShapeOfFaces({
        MakePolyForm(&early, {{0, 0, 0}}),
        MakePolyForm(&laterInFirstBody, {{0, 0, 0}}),
        MakePolyForm(&chosen, {{0, 1, 1, 1, 0, 0}, {9, 9, 9}}),
        nullptr,
    });
    MeshData data = ExtractMesh(*shape);
    EXPECT_EQ(data.positions, chosen);
    EXPECT_EQ(data.indices, (std::vector<std::uint32_t>{0, 1, 1, 1, 0, 0}));
}

TEST(MeshBuilderTest, ExtractOfNothingUsableIsEmpty) {
    const std::vector<float> positions = {5, 6, 7};
    struct Case {
        const char* label;
        SmartPtr<Shape> shape;
        std::vector<float> positions;
        std::vector<std::uint32_t> indices;
    };
    const Case cases[] = {
        {"NoBody", SmartPtr<Shape>(new Shape), {}, {}},
        {"NoPolyForm", ShapeOfFaces({nullptr, nullptr}), {}, {}},
        {"NoPool", ShapeOfFaces({MakePolyForm(nullptr, {{0, 1, 2}})}), {}, {}},
        {"NoMesh", ShapeOfFaces({MakePolyForm(&positions, {})}), positions, {}},
        {"EmptyPolyForm", ShapeOfFaces({MakePolyForm(nullptr, {}), nullptr}), {}, {}},
        {"LastPolyFormHasNoPool",
         ShapeOfFaces({MakePolyForm(&positions, {{0, 0, 0}}), MakePolyForm(nullptr, {{0, 1, 2}})}),
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

// A grid of (columns + 1) x (rows + 1) vertices in the z = 0 plane, two triangles per cell.
MeshData Grid(std::uint32_t columns, std::uint32_t rows) {
    MeshData grid;
    grid.positions.reserve(std::size_t{columns + 1} * (rows + 1) * 3);
    for (std::uint32_t y = 0; y <= rows; ++y) {
        for (std::uint32_t x = 0; x <= columns; ++x)
            grid.positions.insert(grid.positions.end(), {float(x), float(y), 0.f});
    }
    grid.indices.reserve(std::size_t{columns} * rows * 6);
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < columns; ++x) {
            const std::uint32_t a = y * (columns + 1) + x, b = a + 1, c = a + columns + 1,
                                d = c + 1;
            grid.indices.insert(grid.indices.end(), {a, b, d, a, d, c});
        }
    }
    return grid;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Generous enough for a sanitized debug build on a busy machine; quadratic work on a million
// triangles would take hours.
constexpr double kMillionTriangleSeconds = 30.0;

TEST(MeshBuilderTest, MillionTriangleShapeBuildsQuickly) {
    const MeshData grid = Grid(1000, 500);
    ASSERT_EQ(grid.indices.size(), 3000000u);
    const auto start = std::chrono::steady_clock::now();
    SmartPtr<Shape> shape = MakeMeshShape(grid.positions, grid.indices);
    ASSERT_NE(shape, nullptr);
    MeshData back = ExtractMesh(*shape);
    EXPECT_LT(SecondsSince(start), kMillionTriangleSeconds);
    EXPECT_EQ(OnlyFace(*shape)->GetPolyForm()->GetMeshes().GetHead()->GetNumTriangles(), 1000000u);
    EXPECT_TRUE(SameBits(back.positions, grid.positions));
    EXPECT_EQ(back.indices, grid.indices);
    const VertexPool* pool = OnlyFace(*shape)->GetPolyForm()->GetVertexPool();
    for (std::uint32_t v : {0u, 1000u, 250000u, pool->GetVertexCount() - 1})
        EXPECT_EQ(pool->GetNormal(v)[2], 1.f) << v;
}

// The content reader's way: one AddTriangles call per triangle, then Flush and normals.
TEST(MeshBuilderTest, MillionTrianglesAddedOneByOneBuildQuickly) {
    const MeshData grid = Grid(1000, 500);
    const auto start = std::chrono::steady_clock::now();
    auto* polyForm = new PolyForm;
    const auto vertexCount = static_cast<std::uint32_t>(grid.positions.size() / 3);
    VertexPool* pool = VertexPool::Construct(1, vertexCount);
    ASSERT_NE(pool, nullptr);
    for (std::uint32_t v = 0; v < vertexCount; ++v)
        std::memcpy(pool->Vertices() + v * 6 + 3, &grid.positions[v * 3], 3 * sizeof(float));
    polyForm->SetVertexPool(pool);
    auto* mesh = new Mesh;
    mesh->SetVertexType(1);
    polyForm->AddMesh(mesh);
    for (std::size_t i = 0; i < grid.indices.size(); i += 3)
        ASSERT_TRUE(mesh->AddTriangles(&grid.indices[i], 3));
    mesh->Flush();
    ASSERT_TRUE(polyForm->GenerateVertexNormals());
    SmartPtr<Face> face(new Face);
    face->SetPolyForm(polyForm);
    auto* shell = new (MemoryPool::Allocate(sizeof(Shell), nullptr)) Shell();
    shell->AddFace(face.get());
    auto* region = new (MemoryPool::Allocate(sizeof(Region), nullptr)) Region();
    region->AddShell(shell);
    auto* body = new Body;
    body->AddRegion(region);
    SmartPtr<Shape> shape(new Shape);
    shape->AddBody(body);
    EXPECT_EQ(mesh->GetNumTriangles(), 1000000u);
    shape = nullptr;
    face = nullptr;
    EXPECT_LT(SecondsSince(start), kMillionTriangleSeconds);
}

}  // namespace
