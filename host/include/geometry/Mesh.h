// Mesh: a list of triangles indexing a vertex pool; NodeListImpl: a PolyForm's list of meshes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/Export.h"
#include "geometry/VertexPool.h"

class NodeListImpl;

// Receives the triangles of a mesh, one call per triangle (Mesh::Accept).
class GEOMETRY_API TriangleIndexVisitor {
public:
    // A visitor; the base holds no state.
    TriangleIndexVisitor() noexcept = default;
    // Destroys the visitor.
    virtual ~TriangleIndexVisitor();
    // One triangle's vertex indices, in winding order; false ends the walk.
    virtual bool Visit(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;
};

// Triangles as three vertex indices each, in the order added. Indices are not checked against
// any vertex pool. A mesh is deletable on its own; deleting one that is in a list takes it out
// of the list first. Not synchronised: one thread at a time.
class GEOMETRY_API Mesh {
public:
    // An empty mesh of vertex type 0.
    Mesh() noexcept;
    // An empty mesh whose indices refer to records of the given type.
    explicit Mesh(VertexType type) noexcept;
    // Frees the triangles and leaves the list the mesh is in, if any.
    virtual ~Mesh();
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    // Records the type of the vertex records the indices refer to; nothing is checked.
    void SetVertexType(VertexType type) noexcept { type_ = type; }
    // The type recorded by SetVertexType (0 by default).
    VertexType GetVertexType() const noexcept { return type_; }

    // Appends count / 3 triangles from indices (count is a number of indices; a remainder of 1
    // or 2 is ignored). They count at once; Flush is not needed to see them. False, with the
    // mesh unchanged, when indices is null while count >= 3, when the mesh would pass 2^32 - 1
    // triangles, or when memory runs out.
    bool AddTriangles(const std::uint32_t* indices, std::uint32_t count) noexcept;
    // Ends a run of AddTriangles by giving back the spare capacity of a small mesh; a large one
    // keeps it, as its never-written pages cost address space only. Returns true. Idempotent.
    bool Flush() noexcept;
    // Makes room for that many triangles in all (huge pages for large meshes); false when
    // memory runs out.
    bool Reserve(std::uint32_t triangles) noexcept;
    // Removes every triangle.
    void Clear() noexcept;

    // Number of triangles.
    std::uint32_t GetNumTriangles() const noexcept {
        return static_cast<std::uint32_t>(indices_.size() / 3);
    }
    // Calls visitor.Visit once per triangle in order, stopping after the first false; returns
    // true when every triangle was visited. Exceptions from the visitor pass through.
    bool Accept(TriangleIndexVisitor& visitor) const;
    // The indices, three per triangle.
    const std::vector<std::uint32_t>& GetIndices() const noexcept { return indices_; }

    // The next mesh of the list the mesh is in; null at the end or outside a list.
    Mesh* GetNext() noexcept { return next_; }
    // The next mesh, read-only; null at the end or outside a list.
    const Mesh* GetNext() const noexcept { return next_; }
    // The previous mesh of the list; null at the start or outside a list.
    Mesh* GetPrevious() noexcept { return previous_; }
    // The previous mesh, read-only; null at the start or outside a list.
    const Mesh* GetPrevious() const noexcept { return previous_; }
    // Whether the mesh belongs to a list.
    bool IsInList() const noexcept { return list_ != nullptr; }

private:
    friend class NodeListImpl;

    VertexType type_;
    std::vector<std::uint32_t> indices_;
    NodeListImpl* list_ = nullptr;
    Mesh* previous_ = nullptr;
    Mesh* next_ = nullptr;
};

// An owning, doubly linked list of meshes threaded through the meshes themselves: appending,
// removing and reaching the head are constant time. Destroying the list deletes its meshes.
class GEOMETRY_API NodeListImpl {
public:
    // An empty list.
    NodeListImpl() noexcept = default;
    // Deletes every mesh of the list.
    ~NodeListImpl();
    NodeListImpl(const NodeListImpl&) = delete;
    NodeListImpl& operator=(const NodeListImpl&) = delete;

    // The first mesh; null for an empty list.
    Mesh* GetHead() noexcept { return head_; }
    // The first mesh, read-only; null for an empty list.
    const Mesh* GetHead() const noexcept { return head_; }
    // The last mesh; null for an empty list.
    Mesh* GetTail() noexcept { return tail_; }
    // The last mesh, read-only; null for an empty list.
    const Mesh* GetTail() const noexcept { return tail_; }
    // Number of meshes.
    std::size_t GetCount() const noexcept { return count_; }
    // Whether the list has no mesh.
    bool IsEmpty() const noexcept { return head_ == nullptr; }

    // Appends mesh and takes ownership; false (nothing taken) for null or a mesh already in a
    // list.
    bool Append(Mesh* mesh) noexcept;
    // Takes mesh out of the list and gives it back to the caller; false when it is not in this
    // list.
    bool Remove(Mesh* mesh) noexcept;
    // Deletes every mesh.
    void Clear() noexcept;

private:
    Mesh* head_ = nullptr;
    Mesh* tail_ = nullptr;
    std::size_t count_ = 0;
};
