// The walkers the shape writer sends over a shape and its mesh.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry/Shape.h"

namespace serializedContent {

// Records the PolyForm of the last face visited that has one.
class ShapeVisitor : public orbg::ShapeVisitor {
public:
    using orbg::ShapeVisitor::Visit;

    ShapeVisitor();
    ~ShapeVisitor() override;

    // Keeps face's PolyForm when it has one; always goes on.
    State Visit(const Face* face) override;

    const PolyForm* polyForm;
};

// Stores each triangle's three indices, in the order received, into a caller's buffer.
class TriangleLoader : public TriangleIndexVisitor {
public:
    // A loader filling capacity entries of indexBuffer from the start.
    TriangleLoader(std::uint32_t* indexBuffer, std::size_t capacity);
    ~TriangleLoader() override;

    // Stores one triangle; false (stop) once the buffer is full, so a mesh that reports more
    // triangles than it announced cannot overrun it.
    bool Visit(std::uint32_t first, std::uint32_t second, std::uint32_t third) override;

    std::uint32_t* indexBuffer;
    std::size_t nextIndex;

private:
    std::size_t capacity_;
};

}  // namespace serializedContent
