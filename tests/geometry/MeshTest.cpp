#include "geometry/Mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "geometry/PolyForm.h"
#include "geometry/VertexPool.h"

namespace {

constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
// Indices are kept as given, unchecked against any pool.
const std::vector<std::uint32_t> kIndices = {0, 1, 2, 2, 1, 3, kMax, 0, kMax - 1, 7, 8, 9};

// Records the indices it is given; answers false once it has seen limit triangles.
class Collector : public TriangleIndexVisitor {
public:
    explicit Collector(std::size_t limit) : limit_(limit) {}
    bool Visit(std::uint32_t a, std::uint32_t b, std::uint32_t c) override {
        indices.insert(indices.end(), {a, b, c});
        return indices.size() < 3 * limit_;
    }
    std::vector<std::uint32_t> indices;

private:
    std::size_t limit_;
};

// Whole triangles are appended, a remainder ignored, also after Flush; the walk visits them in
// order and stops at the first false.
TEST(MeshTest, AppendsWholeTrianglesAndVisitsThemUntilTold) {
    for (const std::uint32_t count : {2u, 5u, 12u}) {
        const std::uint32_t whole = count / 3;
        Mesh mesh;
        EXPECT_TRUE(mesh.AddTriangles(kIndices.data(), count));
        const std::vector<std::uint32_t> kept(kIndices.begin(), kIndices.begin() + whole * 3);
        EXPECT_TRUE(mesh.Flush());
        EXPECT_EQ(mesh.GetIndices(), kept);
        EXPECT_EQ(mesh.GetNumTriangles(), whole);
        for (std::size_t limit = 1; limit <= whole + 1; ++limit) {
            Collector collector(limit);
            EXPECT_EQ(mesh.Accept(collector), limit > whole);
            EXPECT_EQ(collector.indices,
                      std::vector<std::uint32_t>(
                          kept.begin(), kept.begin() + 3 * std::min<std::size_t>(limit, whole)));
        }
        ASSERT_TRUE(mesh.AddTriangles(kIndices.data(), 3));
        EXPECT_TRUE(mesh.AddTriangles(nullptr, 2));
        EXPECT_FALSE(mesh.AddTriangles(nullptr, 3));
        EXPECT_EQ(mesh.GetNumTriangles(), whole + 1);
        mesh.Clear();
        EXPECT_EQ(mesh.GetNumTriangles(), 0u);
    }
}

// A mesh added to a PolyForm with a pool is filled one triangle at a time, as a content file is
// read: room for twice as many triangles as vertices is made at once, so a closed surface's
// indices never move, and a large mesh keeps that room on Flush rather than copying them again.
TEST(MeshTest, MeshOfAPoolHasRoomForTwiceItsVerticesAndLargeOnesKeepIt) {
    for (const std::uint32_t vertices : {4u, 100000u}) {
        SCOPED_TRACE(vertices);
        PolyForm polyForm;
        ASSERT_TRUE(polyForm.SetVertexPool(VertexPool::Construct(VertexType(1), vertices)));
        auto* mesh = new Mesh(VertexType(1));
        ASSERT_TRUE(polyForm.AddMesh(mesh));
        const std::uint32_t* first = mesh->GetIndices().data();
        const std::uint32_t triangle[3] = {0, 1, 2};
        for (std::uint32_t t = 0; t < 2 * vertices - 1; ++t)
            ASSERT_TRUE(mesh->AddTriangles(triangle, 3));
        EXPECT_EQ(mesh->GetIndices().data(), first);
        mesh->Flush();
        const bool large = vertices > 1000;
        EXPECT_EQ(mesh->GetIndices().capacity() > mesh->GetIndices().size(), large);
    }
}

// Counts live meshes, to check what a list frees.
struct CountedMesh : Mesh {
    static inline int live = 0;
    CountedMesh() { ++live; }
    ~CountedMesh() override { --live; }
};

// The list walked both ways; the two must agree.
std::vector<const Mesh*> Listed(const NodeListImpl& list) {
    std::vector<const Mesh*> forward, backward;
    for (const Mesh* mesh = list.GetHead(); mesh; mesh = mesh->GetNext())
        forward.push_back(mesh);
    for (const Mesh* mesh = list.GetTail(); mesh; mesh = mesh->GetPrevious())
        backward.insert(backward.begin(), mesh);
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(forward.size(), list.GetCount());
    return forward;
}

TEST(MeshListTest, AppendKeepsOrderAndRemoveRelinks) {
    CountedMesh::live = 0;
    {
        NodeListImpl list;
        NodeListImpl other;
        EXPECT_FALSE(list.Append(nullptr));
        Mesh* meshes[4];
        for (Mesh*& mesh : meshes) {
            mesh = new CountedMesh;
            ASSERT_TRUE(list.Append(mesh));
        }
        EXPECT_FALSE(list.Append(meshes[0]));  // a mesh is in one list at a time
        EXPECT_FALSE(other.Append(meshes[0]));
        EXPECT_FALSE(other.Remove(meshes[0]));
        EXPECT_EQ(Listed(list), std::vector<const Mesh*>(meshes, meshes + 4));
        // Remove the middle, then the head; delete the tail while listed.
        ASSERT_TRUE(list.Remove(meshes[1]));
        EXPECT_FALSE(meshes[1]->IsInList() || list.Remove(meshes[1]));
        delete meshes[1];
        ASSERT_TRUE(list.Remove(meshes[0]));
        ASSERT_TRUE(list.Append(meshes[0]));  // a removed mesh may be appended again
        delete meshes[3];                     // deleting a listed mesh takes it out
        EXPECT_EQ(Listed(list), (std::vector<const Mesh*>{meshes[2], meshes[0]}));
        EXPECT_EQ(CountedMesh::live, 2);
        list.Clear();
        EXPECT_EQ(CountedMesh::live, 0);
        EXPECT_TRUE(Listed(list).empty());
        // A long list is freed without recursion.
        for (int i = 0; i < 200000; ++i)
            list.Append(new CountedMesh);
    }
    EXPECT_EQ(CountedMesh::live, 0);
}

// A PolyForm owns one pool and its meshes: replacing the pool deletes the old one, deleting an
// attached part detaches it, and parts with another owner are refused.
TEST(MeshListTest, PolyFormOwnsItsPoolAndMeshes) {
    CountedMesh::live = 0;
    auto* polyForm = new PolyForm;
    VertexPool* first = VertexPool::Construct(1, 4);
    ASSERT_TRUE(polyForm->SetVertexPool(first));
    EXPECT_TRUE(polyForm->SetVertexPool(first));
    PolyForm other;
    EXPECT_FALSE(other.SetVertexPool(first));
    ASSERT_TRUE(polyForm->SetVertexPool(VertexPool::Construct(0, 2)));
    delete polyForm->GetVertexPool();
    EXPECT_EQ(polyForm->GetVertexPool(), nullptr);
    ASSERT_TRUE(polyForm->SetVertexPool(VertexPool::Construct(2, 1)));
    auto* mesh = new CountedMesh;
    ASSERT_TRUE(polyForm->AddMesh(mesh));
    ASSERT_TRUE(polyForm->AddMesh(new CountedMesh));
    EXPECT_FALSE(polyForm->AddMesh(mesh));
    EXPECT_FALSE(polyForm->AddMesh(nullptr));
    delete polyForm;
    EXPECT_EQ(CountedMesh::live, 0);
}

struct TypeRow {
    unsigned value, length;  // length 0: unknown
    int normalOffset;        // -1: no normals
};

class VertexTypeTest : public ::testing::TestWithParam<TypeRow> {};

// Known types get a pool whose records are zeroed, contiguous and end in the position; an empty
// pool still has a vertex block.
TEST_P(VertexTypeTest, DescribesItsRecordAndLaysOutPools) {
    const TypeRow& row = GetParam();
    const VertexType type = row.value;
    EXPECT_EQ(VertexRecordLength(type), row.length);
    EXPECT_EQ(type.HasNormals(), row.normalOffset >= 0);
    std::unique_ptr<VertexPool> pool(VertexPool::Construct(type, 5));
    ASSERT_EQ(pool != nullptr, row.length != 0);
    if (!pool)
        return;
    EXPECT_NE(std::unique_ptr<VertexPool>(VertexPool::Construct(type, 0))->Vertices(), nullptr);
    const float* data = static_cast<const VertexPool&>(*pool).Vertices();
    for (unsigned i = 0; i < 5 * row.length; ++i)
        EXPECT_EQ(data[i], 0.0f) << i;
    for (std::uint32_t v = 0; v < 5; ++v) {
        EXPECT_EQ(pool->GetRecord(v), data + v * row.length);
        EXPECT_EQ(pool->GetPosition(v), data + v * row.length + row.length - 3);
        EXPECT_EQ(pool->GetNormal(v),
                  row.normalOffset >= 0 ? data + v * row.length + row.normalOffset : nullptr);
    }
    EXPECT_EQ(pool->GetRecord(5), nullptr);
    EXPECT_EQ(pool->GetPosition(5), nullptr);
    EXPECT_EQ(pool->GetNormal(5), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Types, VertexTypeTest,
                         ::testing::Values(TypeRow{0, 3, -1}, TypeRow{1, 6, 0}, TypeRow{2, 8, 2},
                                           TypeRow{3, 10, 4}, TypeRow{4, 0, -1}),
                         [](const auto& info) { return "Type" + std::to_string(info.index); });

}  // namespace
