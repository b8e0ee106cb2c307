// Content trees as glTF 2.0 scenes and back (kestrel-sc export --gltf, import-gltf, view);
// docs/gltf.md gives the mapping both ways.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"

namespace kestrel::gltf {

// What the export takes from the tree besides elements, shapes and images.
struct ExportOptions {
    // Name of the location property whose value becomes a node's translation, rotation and
    // scale; empty for none.
    std::string transformProperty;
};

// A scene in memory: the glTF JSON text and its one binary buffer, or why there is none.
struct GltfScene {
    std::string json;                // buffer 0 has no uri: the form a .glb file holds
    std::string buffer;              // positions, normals, indices and PNG bytes
    std::vector<std::string> notes;  // what the export had to change, e.g. non-finite vertices
    Error error;

    // True when the scene was built.
    explicit operator bool() const noexcept { return !error; }
};

// Builds the scene of element and everything below it. Internal when memory runs out or a
// value cannot be written; NotSavable when the buffer would pass 4 GiB.
KESTREL_CONTENT_API GltfScene BuildScene(const SerializedContentElement& element,
                                         const ExportOptions& options);

// A scene packed as the bytes of a .glb file (JSON and BIN chunks); Internal when memory runs
// out, NotSavable beyond the 4 GiB a .glb file can hold.
struct GlbResult {
    std::string bytes;
    Error error;

    // True when the bytes were made.
    explicit operator bool() const noexcept { return !error; }
};

// Packs scene (built by BuildScene) as a .glb file in memory; fails as GlbResult says.
KESTREL_CONTENT_API GlbResult PackGlb(const GltfScene& scene);

// Where WriteGltf puts the buffer of a .gltf file (a .glb file always holds it).
enum class BufferPlacement { Embedded, Beside };

// Writes the scene of element to path atomically: ".glb" as binary glTF, ".gltf" as JSON with
// the buffer as a data: URI (Embedded) or in "<stem>.bin" beside it (Beside). InvalidArgument for
// any other extension; otherwise fails as BuildScene and files::WriteFileAtomically do. notes,
// when given, hears what the export changed.
KESTREL_CONTENT_API Error WriteGltf(const SerializedContentElement& element,
                                    const std::string& path, const ExportOptions& options,
                                    BufferPlacement placement = BufferPlacement::Embedded,
                                    std::vector<std::string>* notes = nullptr);

// What the import takes from the file besides the node tree and its triangle meshes.
struct ImportOptions {
    // Name of the location properties that node transforms become; empty: transforms are dropped.
    std::string transformProperty = "location";
};

// What an import added, and what it left out, or why it failed.
struct ImportResult {
    std::size_t elements = 0;          // content elements made from nodes
    std::size_t shapes = 0;            // shapes made from triangle primitives
    std::vector<std::string> leftOut;  // one line each: non-triangle primitives, skins, ...
    Error error;

    // True when the file was imported.
    explicit operator bool() const noexcept { return !error; }
};

// Reads the .glb or .gltf file at path and adds the nodes of its scene (all root nodes when it
// names none) as child elements of parent, with their shapes, locations and the properties an
// export kept in extras. Fails as files::ReadRegularFile does for a file that cannot be read, and
// with Malformed for a file that is not glTF 2.0, an accessor outside its buffer, an index out of
// range or a node cycle; parent is left unchanged on failure.
KESTREL_CONTENT_API ImportResult ImportGltf(const std::string& path,
                                            SerializedContentElement& parent,
                                            const ImportOptions& options);

// ImportGltf for the bytes of a .glb or .gltf file held in memory: external buffers are read
// below baseDirectory, and with an empty one not at all (such a file then fails with Malformed).
KESTREL_CONTENT_API ImportResult ImportGltfBytes(std::string_view bytes,
                                                 const std::string& baseDirectory,
                                                 SerializedContentElement& parent,
                                                 const ImportOptions& options);

}  // namespace kestrel::gltf
