// Triangle meshes as Wavefront OBJ and PLY files (kestrel-sc export --shapes and import-mesh).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "geometry/MeshBuilder.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"

namespace kestrel::meshes {

// Most vertices or triangles a mesh file may hold, read or written: what 32-bit indices address.
inline constexpr std::uint64_t kMaxMeshElements = 0xFFFFFFFFu;

// The formats WriteMeshFile writes.
enum class MeshFormat { Obj, Ply };

// The format the extension of path names (".obj" or ".ply", any case); nullopt for any other.
KESTREL_CONTENT_API std::optional<MeshFormat> FormatFromPath(const std::string& path);

// Writes mesh at path through a temporary file in the same directory renamed over path once
// complete, so a failure leaves no partial file. OBJ gets "v x y z" lines in shortest round-trip
// text and 1-based "f a b c" lines; PLY is binary little-endian with float x y z, bit for bit.
// NotSavable when the positions or indices are not whole triples, an index is out of range, there
// are more than kMaxMeshElements vertices or triangles, or OBJ is asked for a NaN or infinite
// coordinate (no common OBJ reader takes one; PLY keeps them); WriteFailed when the file cannot
// be written.
KESTREL_CONTENT_API Error WriteMeshFile(const MeshData& mesh, const std::string& path,
                                        MeshFormat format);

// The triangle mesh of a shape where the shape keeps it, as content files store it: the pool
// positions of the last face (in walk order) that has a PolyForm, and its first mesh's
// triangles. Valid while the shape lives and is not changed.
struct MeshView {
    float* positions = nullptr;  // x of vertex 0; y and z follow, the next x stride floats on
    std::size_t stride = 3;      // floats from one vertex record to the next
    std::uint32_t vertexCount = 0;
    const std::uint32_t* indices = nullptr;  // three per triangle; null without triangles
    std::uint32_t triangleCount = 0;
};

// The mesh of shape without copying it; an empty view when no face has a PolyForm with a pool.
KESTREL_CONTENT_API MeshView ViewMesh(Shape& shape);

// A mesh read from a file, or why there is none.
struct MeshReadResult {
    MeshData mesh;  // empty on failure
    Error error;

    // True when the mesh was read.
    explicit operator bool() const noexcept { return !error; }
};

// Reads the OBJ or PLY file at path, told apart by content (a "ply" first line or OBJ text),
// polygons fan-triangulated. Fails as files::ReadRegularFile does for a file that cannot be read,
// and with Malformed (and the line, for OBJ lines and PLY header lines) for a statement or header
// line that is not OBJ or PLY, a bad number, a face of fewer than 3 vertices, an index out of
// range, declared counts the file is too small to hold, a truncated file, or more than
// kMaxMeshElements vertices or triangles.
KESTREL_CONTENT_API MeshReadResult ReadMeshFile(const std::string& path);

}  // namespace kestrel::meshes
