// PolyForm: the tessellated form of a face, one vertex pool and the meshes that index it.
#pragma once

#include <cstddef>

#include "geometry/Export.h"
#include "geometry/Mesh.h"
#include "geometry/VertexPool.h"

class Face;

// Owns one vertex pool (or none) and a list of meshes whose indices refer to that pool.
// Deletable on its own with delete; one given to a Face belongs to it, and deleting it anyway
// takes it from the Face first. Not synchronised: one thread at a time.
class GEOMETRY_API PolyForm {
public:
    // A PolyForm without pool or mesh.
    PolyForm() noexcept;
    // Deletes the pool and every mesh, and leaves the Face that holds it, if any.
    virtual ~PolyForm();
    PolyForm(const PolyForm&) = delete;
    PolyForm& operator=(const PolyForm&) = delete;

    // The vertex pool; null when there is none.
    VertexPool* GetVertexPool() noexcept { return pool_; }
    // The vertex pool, read-only; null when there is none.
    const VertexPool* GetVertexPool() const noexcept { return pool_; }
    // Takes ownership of pool (null allowed), deleting the previous one; false, with nothing
    // taken or changed, when pool already belongs to another PolyForm.
    bool SetVertexPool(VertexPool* pool) noexcept;

    // Appends mesh to the list and takes ownership; false (nothing taken) for null or a mesh
    // already in a list.
    bool AddMesh(Mesh* mesh) noexcept;
    // The meshes in the order added; GetHead() is the first (null when there is none).
    NodeListImpl& GetMeshes() noexcept { return meshes_; }
    // The meshes, read-only.
    const NodeListImpl& GetMeshes() const noexcept { return meshes_; }

    // Sets the normal of every pool vertex to the normalised sum of the unnormalised normals
    // (edge cross products, so weighted by area) of the triangles of all meshes that use it.
    // Triangles with an index not below the vertex count or with a non-finite normal (NaN or
    // infinite positions) are left out; a vertex whose sum is zero gets (0, 0, 0). Returns
    // false, changing nothing, without a pool, for a pool type without normal slots, or when
    // memory for the sums runs out.
    bool GenerateVertexNormals() noexcept;

private:
    friend class Face;
    friend class VertexPool;

    VertexPool* pool_ = nullptr;
    NodeListImpl meshes_;
    Face* owner_ = nullptr;
};
