#include "geometry/Mesh.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "geometry/PolyForm.h"
#include "geometry/VertexPool.h"

namespace {

using Triangle = std::array<std::uint32_t, 3>;

// Records the triangles it is given; answers false once it has seen limit of them.
class Collector : public TriangleIndexVisitor {
public:
    explicit Collector(std::size_t limit = std::numeric_limits<std::size_t>::max())
        : limit_(limit) {}
    bool Visit(std::uint32_t a, std::uint32_t b, std::uint32_t c) override {
        triangles.push_back({a, b, c});
        return triangles.size() < limit_;
    }
    std::vector<Triangle> triangles;

private:
    std::size_t limit_;
};

const std::vector<std::uint32_t> kIndices = {0, 1, 2, 2, 1, 3, 3, 4, 5, 7, 8, 9};

class MeshAddTrianglesTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(MeshAddTrianglesTest, AppendsWholeTrianglesAndIgnoresTheRemainder) {
    const std::uint32_t count = GetParam();
    Mesh mesh;
    EXPECT_TRUE(mesh.AddTriangles(kIndices.data(), count));
    const std::uint32_t whole = count / 3;
    EXPECT_EQ(mesh.GetNumTriangles(), whole);
    EXPECT_EQ(mesh.GetIndices(),
              std::vector<std::uint32_t>(kIndices.begin(), kIndices.begin() + whole * 3));
    EXPECT_TRUE(mesh.Flush());
    EXPECT_EQ(mesh.GetNumTriangles(), whole);
}

INSTANTIATE_TEST_SUITE_P(Counts, MeshAddTrianglesTest,
                         ::testing::Values(0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 12u),
                         [](const auto& info) { return "Count" + std::to_string(info.param); });

TEST(MeshTest, TrianglesCountAtOnceAndFlushIsIdempotent) {
    Mesh mesh;
    for (std::size_t i = 0; i < kIndices.size(); i += 3) {
        ASSERT_TRUE(mesh.AddTriangles(&kIndices[i], 3));
        EXPECT_EQ(mesh.GetNumTriangles(), i / 3 + 1);
    }
    EXPECT_TRUE(mesh.Flush());
    EXPECT_TRUE(mesh.Flush());
    EXPECT_EQ(mesh.GetIndices(), kIndices);
    ASSERT_TRUE(mesh.AddTriangles(kIndices.data(), 3));  // adding after Flush goes on appending
    EXPECT_EQ(mesh.GetNumTriangles(), 5u);
}

TEST(MeshTest, NullIndicesAreRefusedUnlessNothingIsAsked) {
    Mesh mesh;
    ASSERT_TRUE(mesh.AddTriangles(kIndices.data(), 3));
    EXPECT_TRUE(mesh.AddTriangles(nullptr, 0));
    EXPECT_TRUE(mesh.AddTriangles(nullptr, 2));
    EXPECT_FALSE(mesh.AddTriangles(nullptr, 3));
    EXPECT_EQ(mesh.GetNumTriangles(), 1u);
}

TEST(MeshTest, IndicesAreKeptUncheckedAsGiven) {
    const std::uint32_t big = std::numeric_limits<std::uint32_t>::max();
    const std::uint32_t indices[] = {big, 0, big - 1};
    Mesh mesh;
    ASSERT_TRUE(mesh.AddTriangles(indices, 3));
    Collector collector;
    EXPECT_TRUE(mesh.Accept(collector));
    EXPECT_EQ(collector.triangles, (std::vector<Triangle>{{big, 0, big - 1}}));
}

TEST(MeshTest, AcceptVisitsEveryTriangleInOrder) {
    Mesh mesh;
    mesh.AddTriangles(kIndices.data(), static_cast<std::uint32_t>(kIndices.size()));
    Collector collector;
    EXPECT_TRUE(mesh.Accept(collector));
    EXPECT_EQ(collector.triangles,
              (std::vector<Triangle>{{0, 1, 2}, {2, 1, 3}, {3, 4, 5}, {7, 8, 9}}));
}

struct StopRow {
    std::size_t limit;
    std::size_t visited;
    bool complete;
};

class MeshAcceptStopTest : public ::testing::TestWithParam<StopRow> {};

TEST_P(MeshAcceptStopTest, StopsAfterTheFirstFalse) {
    const StopRow& row = GetParam();
    Mesh mesh;
    mesh.AddTriangles(kIndices.data(), static_cast<std::uint32_t>(kIndices.size()));
    Collector collector(row.limit);
    EXPECT_EQ(mesh.Accept(collector), row.complete);
    EXPECT_EQ(collector.triangles.size(), row.visited);
}

INSTANTIATE_TEST_SUITE_P(Limits, MeshAcceptStopTest,
                         ::testing::Values(StopRow{1, 1, false}, StopRow{2, 2, false},
                                           StopRow{3, 3, false}, StopRow{4, 4, false},
                                           StopRow{5, 4, true}));

TEST(MeshTest, EmptyMeshVisitsNothing) {
    Mesh mesh;
    Collector collector;
    EXPECT_TRUE(mesh.Accept(collector));
    EXPECT_TRUE(collector.triangles.empty());
    EXPECT_EQ(mesh.GetNumTriangles(), 0u);
    EXPECT_TRUE(mesh.Flush());
}

TEST(MeshTest, VertexTypeIsRecorded) {
    Mesh mesh;
    EXPECT_EQ(mesh.GetVertexType(), VertexType::Position);
    mesh.SetVertexType(1);
    EXPECT_EQ(mesh.GetVertexType(), VertexType::NormalPosition);
    Mesh typed(VertexType::ColorNormalPosition);
    EXPECT_EQ(typed.GetVertexType(), VertexType(3));
}

TEST(MeshTest, ReserveAndClear) {
    Mesh mesh;
    EXPECT_TRUE(mesh.Reserve(100));
    EXPECT_GE(mesh.GetIndices().capacity(), 300u);
    EXPECT_EQ(mesh.GetNumTriangles(), 0u);
    mesh.AddTriangles(kIndices.data(), 6);
    mesh.Clear();
    EXPECT_EQ(mesh.GetNumTriangles(), 0u);
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
        EXPECT_EQ(mesh->GetNumTriangles(), 2 * vertices - 1);
    }
}

// Counts live meshes, to check what a list frees.
struct CountedMesh : Mesh {
    static inline int live = 0;
    CountedMesh() { ++live; }
    ~CountedMesh() override { --live; }
};

std::vector<const Mesh*> Forward(const NodeListImpl& list) {
    std::vector<const Mesh*> meshes;
    for (const Mesh* mesh = list.GetHead(); mesh; mesh = mesh->GetNext())
        meshes.push_back(mesh);
    return meshes;
}

std::vector<const Mesh*> Backward(const NodeListImpl& list) {
    std::vector<const Mesh*> meshes;
    for (const Mesh* mesh = list.GetTail(); mesh; mesh = mesh->GetPrevious())
        meshes.insert(meshes.begin(), mesh);
    return meshes;
}

TEST(MeshListTest, EmptyListHasNoHead) {
    NodeListImpl list;
    EXPECT_EQ(list.GetHead(), nullptr);
    EXPECT_EQ(list.GetTail(), nullptr);
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_TRUE(list.IsEmpty());
    PolyForm polyForm;
    EXPECT_EQ(static_cast<const PolyForm&>(polyForm).GetMeshes().GetHead(), nullptr);
}

TEST(MeshListTest, AppendKeepsOrderAndRemoveRelinks) {
    CountedMesh::live = 0;
    {
        NodeListImpl list;
        Mesh* meshes[4];
        for (Mesh*& mesh : meshes) {
            mesh = new CountedMesh;
            ASSERT_TRUE(list.Append(mesh));
            EXPECT_TRUE(mesh->IsInList());
        }
        EXPECT_EQ(list.GetCount(), 4u);
        EXPECT_EQ(list.GetHead(), meshes[0]);
        EXPECT_EQ(list.GetTail(), meshes[3]);
        std::vector<const Mesh*> all(meshes, meshes + 4);
        EXPECT_EQ(Forward(list), all);
        EXPECT_EQ(Backward(list), all);

        // Remove the middle, then the head, then the tail.
        ASSERT_TRUE(list.Remove(meshes[1]));
        EXPECT_FALSE(meshes[1]->IsInList());
        EXPECT_EQ(meshes[1]->GetNext(), nullptr);
        EXPECT_EQ(Forward(list), (std::vector<const Mesh*>{meshes[0], meshes[2], meshes[3]}));
        EXPECT_FALSE(list.Remove(meshes[1]));
        delete meshes[1];
        ASSERT_TRUE(list.Remove(meshes[0]));
        EXPECT_EQ(list.GetHead(), meshes[2]);
        EXPECT_EQ(meshes[2]->GetPrevious(), nullptr);
        ASSERT_TRUE(list.Append(meshes[0]));  // a removed mesh may be appended again
        delete meshes[3];                     // deleting a listed mesh takes it out
        EXPECT_EQ(Forward(list), (std::vector<const Mesh*>{meshes[2], meshes[0]}));
        EXPECT_EQ(Backward(list), Forward(list));
        EXPECT_EQ(list.GetCount(), 2u);
        EXPECT_EQ(CountedMesh::live, 2);
    }
    EXPECT_EQ(CountedMesh::live, 0);
}

TEST(MeshListTest, AppendRefusesNullAndMeshesOfAnyList) {
    NodeListImpl list;
    NodeListImpl other;
    auto* mesh = new Mesh;
    EXPECT_FALSE(list.Append(nullptr));
    ASSERT_TRUE(list.Append(mesh));
    EXPECT_FALSE(list.Append(mesh));
    EXPECT_FALSE(other.Append(mesh));
    EXPECT_FALSE(other.Remove(mesh));
    EXPECT_EQ(list.GetCount(), 1u);
    EXPECT_TRUE(other.IsEmpty());
}

TEST(MeshListTest, ClearAndPolyFormDeleteEveryMesh) {
    CountedMesh::live = 0;
    NodeListImpl list;
    for (int i = 0; i < 3; ++i)
        list.Append(new CountedMesh);
    list.Clear();
    EXPECT_EQ(CountedMesh::live, 0);
    EXPECT_TRUE(list.IsEmpty());

    auto* polyForm = new PolyForm;
    auto* first = new CountedMesh;
    ASSERT_TRUE(polyForm->AddMesh(first));
    ASSERT_TRUE(polyForm->AddMesh(new CountedMesh));
    EXPECT_FALSE(polyForm->AddMesh(first));
    EXPECT_FALSE(polyForm->AddMesh(nullptr));
    EXPECT_EQ(polyForm->GetMeshes().GetHead(), first);
    EXPECT_EQ(polyForm->GetMeshes().GetCount(), 2u);
    delete polyForm;
    EXPECT_EQ(CountedMesh::live, 0);
}

TEST(MeshListTest, LongListIsFreedWithoutRecursion) {
    CountedMesh::live = 0;
    {
        NodeListImpl list;
        for (int i = 0; i < 200000; ++i)
            list.Append(new CountedMesh);
        EXPECT_EQ(list.GetCount(), 200000u);
    }
    EXPECT_EQ(CountedMesh::live, 0);
}

}  // namespace
