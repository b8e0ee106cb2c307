// Fuzz target: glTF import. Any bytes import or fail with an error; what imports exports as a
// scene that imports again with the same number of shapes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kestrel/gltf/Gltf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::gltf;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    // No directory: a uri naming a file is refused rather than read from wherever this runs.
    const ImportResult imported = ImportGltfBytes(bytes, {}, *top, {});
    (void)imported.error.description();
    if (!imported)
        return 0;
    const GltfScene scene = BuildScene(*top, {"location"});
    if (!scene)
        return 0;  // a value no scene can hold, say
    const GlbResult glb = PackGlb(scene);
    if (!glb)
        return 0;
    SmartPtr<SerializedContentElement> again(SerializedContentElement::CreateTopElement("figure"));
    const ImportResult back = ImportGltfBytes(glb.bytes, {}, *again, {});
    if (!back || back.shapes != imported.shapes)
        std::abort();
    return 0;
}
