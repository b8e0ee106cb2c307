#include "geometry/MeshBuilder.h"

#include <gtest/gtest.h>

#include <bit>
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

const std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
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
         ShapeOfFaces({MakePolyForm(&early, {{0, 0, 0}}), MakePolyForm(&early, {{0, 0, 0}}),
                       MakePolyForm(&chosen, {{0, 1, 1, 1, 0, 0}, {9, 9, 9}}), nullptr}),
         chosen,
         {0, 1, 1, 1, 0, 0}},
        {"NoBody", SmartPtr<Shape>(new Shape), {}, {}},
        {"NoPolyForm", ShapeOfFaces({nullptr, nullptr}), {}, {}},
        {"NoPool", ShapeOfFaces({MakePolyForm(nullptr, {{0, 1, 2}})}), {}, {}},
        {"NoMesh", ShapeOfFaces({MakePolyForm(&early, {})}), early, {}},
        {"LastPolyFormHasNoPool",
         ShapeOfFaces({MakePolyForm(&early, {{0, 0, 0}}), MakePolyForm(nullptr, {{0, 1, 2}})}),
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
