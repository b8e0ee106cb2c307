// MakeMeshShape and ExtractMesh: a triangle mesh to a one-face shape and back, for tools and
// tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/Export.h"
#include "geometry/Shape.h"
#include "geometry/VertexPool.h"
#include "utilities/SmartPtr.h"

// A triangle mesh as plain arrays: x y z per vertex, three vertex indices per triangle.
struct MeshData {
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
};

// A shape of one body, region, shell and face whose PolyForm holds a pool of the given type
// with these positions (a remainder of 1 or 2 floats is ignored) and one mesh with these
// triangles (likewise; indices go in unchecked), normals generated. Null for an unknown type,
// more than 2^32 - 1 vertices or triangles, or when memory runs out.
GEOMETRY_API SmartPtr<Shape> MakeMeshShape(const std::vector<float>& positions,
                                           const std::vector<std::uint32_t>& indices,
                                           VertexType type = 1);

// The positions of the pool of the last face, in walk order, that has a PolyForm, and the
// triangles of that PolyForm's first mesh. Empty when no face has a PolyForm or that PolyForm
// has no pool; positions without indices when it has no mesh.
GEOMETRY_API MeshData ExtractMesh(const Shape& shape);

// How many vertices and indices ExtractMesh would give, without copying them.
struct MeshCounts {
    std::size_t vertices = 0;
    std::size_t indices = 0;
};
GEOMETRY_API MeshCounts CountMesh(const Shape& shape);
