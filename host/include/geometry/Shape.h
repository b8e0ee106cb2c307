// Shape: a boundary-represented solid of the geometry library, and the topology below it.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "geometry/Export.h"
#include "geometry/MemoryPool.h"
#include "geometry/PolyForm.h"
#include "geometry/ShapeVisitor.h"
#include "utilities/RefCounted.h"
#include "utilities/SmartPtr.h"

class Shape;

// The topology is a fixed four-level tree: Shape -> Body -> Region -> Shell -> Face, with the
// tessellation (PolyForm) hanging off faces. Each parent owns its children: bodies, regions and
// shells outright, faces by one reference each. Every class is deletable on its own; deleting
// an attached body, region or shell takes it out of its parent first. Nothing here is
// synchronised: one thread at a time per hierarchy (reference counts are atomic).

// A face of a shell, held by reference count. Owns its PolyForm.
class GEOMETRY_API Face : public RefCounted {
public:
    // A face without PolyForm.
    Face() noexcept;
    // Deletes the PolyForm.
    ~Face() override;
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    // The PolyForm; null when the face has none.
    PolyForm* GetPolyForm() noexcept { return polyForm_; }
    // The PolyForm, read-only; null when the face has none.
    const PolyForm* GetPolyForm() const noexcept { return polyForm_; }
    // Takes ownership of polyForm (null allowed), deleting the previous one; false, with nothing
    // taken or changed, when polyForm already belongs to another face.
    bool SetPolyForm(PolyForm* polyForm) noexcept;

private:
    friend class PolyForm;
    PolyForm* polyForm_ = nullptr;
};

// A closed or open set of faces bounding part of a region. Its memory always comes from
// MemoryPool: make it with new, or construct it in MemoryPool::Allocate(sizeof(Shell), nullptr)
// with placement new (null memory then gives a null pointer); either way free it with delete.
class GEOMETRY_API Shell {
public:
    // An empty shell.
    Shell() noexcept;
    // Drops its references on its faces and leaves its region, if any.
    virtual ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // Pool memory for new Shell; throws std::bad_alloc when the pool has none.
    static void* operator new(std::size_t size);
    // Construction in memory the caller got from MemoryPool::Allocate; null memory gives null.
    static void* operator new(std::size_t, void* memory) noexcept { return memory; }
    // Gives the memory back to MemoryPool.
    static void operator delete(void* memory, std::size_t size) noexcept;
    // Called only if construction in caller's memory fails; the memory stays the caller's.
    static void operator delete(void*, void*) noexcept {}

    // Appends face and takes one reference on it (a face may be in several shells); false for
    // null or when memory runs out.
    bool AddFace(Face* face) noexcept;
    // Drops the first reference this shell holds on face (which may delete it); false when the
    // shell does not hold it.
    bool RemoveFace(const Face* face) noexcept;
    // Number of faces.
    std::size_t GetFaceCount() const noexcept { return faces_.size(); }
    // Face index; null when index is not below GetFaceCount().
    Face* GetFace(std::size_t index) const noexcept;
    // The region that owns the shell; null when unattached.
    Region* GetParent() const noexcept { return parent_; }

private:
    friend class Region;
    std::vector<SmartPtr<Face>> faces_;
    Region* parent_ = nullptr;
};

// A connected part of a body's volume, bounded by shells. Memory as for Shell: always from
// MemoryPool, by new or by placement in MemoryPool::Allocate(sizeof(Region), nullptr); free it
// with delete.
class GEOMETRY_API Region {
public:
    // An empty region.
    Region() noexcept;
    // Deletes its shells and leaves its body, if any.
    virtual ~Region();
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;

    // Pool memory for new Region; throws std::bad_alloc when the pool has none.
    static void* operator new(std::size_t size);
    // Construction in memory the caller got from MemoryPool::Allocate; null memory gives null.
    static void* operator new(std::size_t, void* memory) noexcept { return memory; }
    // Gives the memory back to MemoryPool.
    static void operator delete(void* memory, std::size_t size) noexcept;
    // Called only if construction in caller's memory fails; the memory stays the caller's.
    static void operator delete(void*, void*) noexcept {}

    // Appends shell and takes ownership; false (nothing taken) for null, a shell that already
    // has a region, or when memory runs out.
    bool AddShell(Shell* shell) noexcept;
    // Takes shell out of the region and gives it back to the caller; false when not here.
    bool RemoveShell(Shell* shell) noexcept;
    // Number of shells.
    std::size_t GetShellCount() const noexcept { return shells_.size(); }
    // Shell index; null when index is not below GetShellCount().
    Shell* GetShell(std::size_t index) const noexcept;
    // The body that owns the region; null when unattached.
    Body* GetParent() const noexcept { return parent_; }

private:
    friend class Body;
    std::vector<Shell*> shells_;
    Body* parent_ = nullptr;
};

// A solid of a shape, made of regions. Made with new, freed with delete.
class GEOMETRY_API Body {
public:
    // An empty body.
    Body() noexcept;
    // Deletes its regions and leaves its shape, if any.
    virtual ~Body();
    Body(const Body&) = delete;
    Body& operator=(const Body&) = delete;

    // Appends region and takes ownership; false (nothing taken) for null, a region that
    // already has a body, or when memory runs out.
    bool AddRegion(Region* region) noexcept;
    // Takes region out of the body and gives it back to the caller; false when not here.
    bool RemoveRegion(Region* region) noexcept;
    // Number of regions.
    std::size_t GetRegionCount() const noexcept { return regions_.size(); }
    // Region index; null when index is not below GetRegionCount().
    Region* GetRegion(std::size_t index) const noexcept;
    // The shape that owns the body; null when unattached.
    Shape* GetParent() const noexcept { return parent_; }

private:
    friend class Shape;
    std::vector<Region*> regions_;
    Shape* parent_ = nullptr;
};

// A shape held by reference count; its bodies, and everything below them, are its own.
class GEOMETRY_API Shape : public RefCounted {
public:
    // An empty shape.
    Shape() noexcept;
    // Deletes its bodies and so the whole hierarchy; fixed depth, no recursion on input size.
    ~Shape() override;
    Shape(const Shape&) = delete;
    Shape& operator=(const Shape&) = delete;

    // Appends body and takes ownership; false (nothing taken) for null, a body that already
    // has a shape, or when memory runs out.
    bool AddBody(Body* body) noexcept;
    // Takes body out of the shape and gives it back to the caller; false when not here.
    bool RemoveBody(Body* body) noexcept;
    // Number of bodies.
    std::size_t GetBodyCount() const noexcept { return bodies_.size(); }
    // Body index; null when index is not below GetBodyCount().
    Body* GetBody(std::size_t index) const noexcept;

    // Walks the topology depth first in list order: Visit(body), then for each of its regions
    // Visit(region), for each shell Visit(shell), Visit(face) for each face, Leave(shell);
    // then Leave(region); then Leave(body). SkipChildren from a Visit leaves out what that node
    // holds (its Leave still comes); any value other than Continue or SkipChildren, from any
    // callback, ends the walk at once. Returns Continue after a full walk, else the value that
    // ended it. The visitor must not change the shape during the walk.
    orbg::State Accept(orbg::ShapeVisitor& visitor) const;

private:
    std::vector<Body*> bodies_;
};
