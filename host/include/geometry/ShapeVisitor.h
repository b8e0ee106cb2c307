// orbg::ShapeVisitor: the callbacks of a walk over a shape's topology.
#pragma once

#include "geometry/Export.h"

class Body;
class Region;
class Shell;
class Face;
class Edge;
class DatumPoint;
class DatumAxis;
class DatumPlane;
class DatumCSys;
class Markup;

namespace orbg {

// What a visitor callback tells the walk.
enum class State : int {
    Continue = 0,      // go on
    SkipChildren = 1,  // from Visit of a body, region or shell: leave out what it holds
    Stop = 2,          // end the walk at once; any other unnamed value does the same
};

// Base of the walkers given to Shape::Accept. Every callback returns State::Continue unless
// overridden. A derived class that overrides some Visit overloads should say
// "using orbg::ShapeVisitor::Visit;" so that the others stay visible.
class GEOMETRY_API ShapeVisitor {
public:
    // The answer type, also reachable as ShapeVisitor::State in derived classes.
    using State = orbg::State;

    // A visitor; the base holds no state.
    ShapeVisitor() noexcept = default;
    // Copies of the base hold no state either.
    ShapeVisitor(const ShapeVisitor&) noexcept = default;
    ShapeVisitor& operator=(const ShapeVisitor&) noexcept = default;
    // Destroys the visitor.
    virtual ~ShapeVisitor();

    // Called for datum and markup features; Shape::Accept itself holds and reaches none.
    virtual State Visit(const DatumPoint* point);
    virtual State Visit(const DatumAxis* axis);
    virtual State Visit(const DatumPlane* plane);
    virtual State Visit(const DatumCSys* system);
    virtual State Visit(const Markup* markup);
    // Called for edges; Shape::Accept reaches none.
    virtual State Visit(const Edge* edge);
    // Called for each face of a shell, in the shell's order.
    virtual State Visit(const Face* face);
    // Called for a shell before its faces.
    virtual State Visit(const Shell* shell);
    // Called for a region before its shells.
    virtual State Visit(const Region* region);
    // Called for a body before its regions.
    virtual State Visit(const Body* body);
    // Called after a shell's faces (also when they were skipped); only Continue and
    // SkipChildren let the walk go on.
    virtual State Leave(const Shell* shell);
    // Called after a region's shells, as for Leave(Shell).
    virtual State Leave(const Region* region);
    // Called after a body's regions, as for Leave(Shell).
    virtual State Leave(const Body* body);
};

}  // namespace orbg
