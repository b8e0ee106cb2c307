#include "geometry/MeshBuilder.h"

#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace {

// Remembers the PolyForm of the last face reached that has one.
class LastPolyForm : public orbg::ShapeVisitor {
public:
    using orbg::ShapeVisitor::Visit;

    State Visit(const Face* face) override {
        if (const PolyForm* found = face->GetPolyForm())
            polyForm = found;
        return State::Continue;
    }

    const PolyForm* polyForm = nullptr;
};

// The pool and first mesh ExtractMesh reads: none when no face has a PolyForm or it has no pool.
struct MeshParts {
    const VertexPool* pool = nullptr;
    const Mesh* mesh = nullptr;
};

MeshParts FindMesh(const Shape& shape) {
    LastPolyForm visitor;
    shape.Accept(visitor);
    if (!visitor.polyForm || !visitor.polyForm->GetVertexPool())
        return {};
    return {visitor.polyForm->GetVertexPool(), visitor.polyForm->GetMeshes().GetHead()};
}

SmartPtr<Shape> Build(const std::vector<float>& positions,
                      const std::vector<std::uint32_t>& indices, VertexType type) {
    constexpr std::size_t kMaxCount = std::numeric_limits<std::uint32_t>::max();
    const std::size_t vertexCount = positions.size() / 3;
    const std::size_t indexCount = indices.size() - indices.size() % 3;
    if (!type.IsKnown() || vertexCount > kMaxCount || indexCount > kMaxCount)
        return nullptr;

    auto polyForm = std::make_unique<PolyForm>();
    std::unique_ptr<VertexPool> pool(
        VertexPool::Construct(type, static_cast<std::uint32_t>(vertexCount)));
    if (!pool)
        return nullptr;
    const std::size_t length = pool->GetRecordLength();
    const std::size_t offset = type.PositionOffset();
    float* records = pool->Vertices();
    for (std::size_t vertex = 0; vertex < vertexCount; ++vertex) {
        for (std::size_t axis = 0; axis < 3; ++axis)
            records[vertex * length + offset + axis] = positions[vertex * 3 + axis];
    }
    polyForm->SetVertexPool(pool.release());

    auto mesh = std::make_unique<Mesh>(type);
    if (!mesh->AddTriangles(indices.data(), static_cast<std::uint32_t>(indexCount)))
        return nullptr;
    mesh->Flush();
    polyForm->AddMesh(mesh.release());
    polyForm->GenerateVertexNormals();

    SmartPtr<Face> face(new Face);
    face->SetPolyForm(polyForm.release());
    std::unique_ptr<Shell> shell(new Shell);
    if (!shell->AddFace(face.get()))
        return nullptr;
    std::unique_ptr<Region> region(new Region);
    if (!region->AddShell(shell.get()))
        return nullptr;
    shell.release();
    std::unique_ptr<Body> body(new Body);
    if (!body->AddRegion(region.get()))
        return nullptr;
    region.release();
    SmartPtr<Shape> shape(new Shape);
    if (!shape->AddBody(body.get()))
        return nullptr;
    body.release();
    return shape;
}

}  // namespace

SmartPtr<Shape> MakeMeshShape(const std::vector<float>& positions,
                              const std::vector<std::uint32_t>& indices, VertexType type) {
    try {
        return Build(positions, indices, type);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

MeshData ExtractMesh(const Shape& shape) {
    MeshData data;
    const MeshParts parts = FindMesh(shape);
    if (!parts.pool)
        return data;
    const std::uint32_t vertexCount = parts.pool->GetVertexCount();
    data.positions.reserve(std::size_t{vertexCount} * 3);
    for (std::uint32_t vertex = 0; vertex < vertexCount; ++vertex) {
        const float* position = parts.pool->GetPosition(vertex);
        data.positions.insert(data.positions.end(), position, position + 3);
    }
    if (parts.mesh)
        data.indices = parts.mesh->GetIndices();
    return data;
}

MeshCounts CountMesh(const Shape& shape) {
    const MeshParts parts = FindMesh(shape);
    if (!parts.pool)
        return {};
    return {parts.pool->GetVertexCount(), parts.mesh ? parts.mesh->GetIndices().size() : 0};
}
