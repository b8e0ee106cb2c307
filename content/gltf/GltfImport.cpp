// Reading goes through tinygltf; its implementation is compiled here only, without its image
// codecs (images are not imported, and stb's implementation lives in images/ImageFiles.cpp).
#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_NOEXCEPTION
// Its Windows code paths leave parameters unused.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <tiny_gltf.h>
#pragma GCC diagnostic pop

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "MakeError.h"
#include "geometry/MeshBuilder.h"
#include "kestrel/files/FilePath.h"
#include "kestrel/gltf/Gltf.h"
#include "kestrel/json/ContentJson.h"

namespace kestrel::gltf {
namespace {

using Json = nlohmann::json;

// Images are left as their bytes; nothing decodes them.
bool KeepImageBytes(tinygltf::Image*, const int, std::string*, std::string*, int, int,
                    const unsigned char*, int, void*) {
    return true;
}

Json ExtrasOf(const std::string& text) {
    if (text.empty())
        return Json::object();
    Json extras = Json::parse(text, nullptr, false);
    return extras.is_object() ? extras : Json::object();
}

// An element name from a node name: characters outside [A-Za-z0-9._-] become '_', a leading
// digit, '.' or '-' gets a '_' before it; a node without a name is "node<index>".
std::string ElementName(const std::string& name, int index) {
    if (name.empty())
        return "node" + std::to_string(index);
    std::string out = name;
    for (char& c : out) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!safe)
            c = '_';
    }
    if (!((out[0] >= 'a' && out[0] <= 'z') || (out[0] >= 'A' && out[0] <= 'Z') || out[0] == '_'))
        out.insert(out.begin(), '_');
    return out;
}

struct Planned {
    std::string name;
    std::vector<SerializedContentElement::Property> properties;
    std::vector<std::size_t> children;
};

class Importer {
public:
    Importer(const tinygltf::Model& model, const ImportOptions& options, ImportResult& result)
        : model_(model), options_(options), result_(result) {}

    // Plans the elements of every root node; false with message set when the file is unusable.
    bool Plan(std::vector<std::size_t>& roots) {
        std::vector<int> rootNodes;
        const int sceneIndex = model_.defaultScene >= 0 ? model_.defaultScene : 0;
        if (sceneIndex < static_cast<int>(model_.scenes.size())) {
            rootNodes = model_.scenes[static_cast<std::size_t>(sceneIndex)].nodes;
        } else {
            std::vector<bool> child(model_.nodes.size(), false);
            for (const tinygltf::Node& node : model_.nodes) {
                for (int c : node.children) {
                    if (c >= 0 && c < static_cast<int>(child.size()))
                        child[static_cast<std::size_t>(c)] = true;
                }
            }
            for (std::size_t i = 0; i < child.size(); ++i) {
                if (!child[i])
                    rootNodes.push_back(static_cast<int>(i));
            }
        }
        if (!model_.skins.empty())
            result_.leftOut.push_back(std::to_string(model_.skins.size()) + " skin(s)");
        if (!model_.animations.empty())
            result_.leftOut.push_back(std::to_string(model_.animations.size()) + " animation(s)");
        seen_.assign(model_.nodes.size(), false);
        for (int root : rootNodes) {
            std::size_t planned = 0;
            if (!PlanElement(root, planned))
                return false;
            roots.push_back(planned);
        }
        return true;
    }

    std::vector<Planned> planned;
    std::string message;

private:
    bool Claim(int node) {
        if (node < 0 || node >= static_cast<int>(model_.nodes.size())) {
            message = "node " + std::to_string(node) + " does not exist";
            return false;
        }
        if (seen_[static_cast<std::size_t>(node)]) {
            message =
                "node " + std::to_string(node) + " is reached twice (a cycle or shared child)";
            return false;
        }
        seen_[static_cast<std::size_t>(node)] = true;
        return true;
    }

    // Iterative: each entry is a node to become an element below a planned parent.
    bool PlanElement(int rootNode, std::size_t& rootPlanned) {
        struct Pending {
            int node;
            std::size_t parent;  // index in planned; ignored for the root
            bool root;
        };
        std::vector<Pending> pending{{rootNode, 0, true}};
        while (!pending.empty()) {
            const Pending entry = pending.back();
            pending.pop_back();
            if (!Claim(entry.node))
                return false;
            const tinygltf::Node& node = model_.nodes[static_cast<std::size_t>(entry.node)];
            const std::size_t index = planned.size();
            planned.push_back({});
            if (entry.root)
                rootPlanned = index;
            else
                planned[entry.parent].children.push_back(index);
            ++result_.elements;
            const Json extras = ExtrasOf(node.extras_json_string);
            Planned& element = planned[index];
            element.name = extras.contains("path") ? node.name : ElementName(node.name, entry.node);
            if (!RestoreProperties(extras, element.properties))
                return false;
            AddTransform(node, planned[index].properties);
            if (node.skin >= 0)
                result_.leftOut.push_back("node " + std::to_string(entry.node) + ": its skin");
            if (node.mesh >= 0 && !AddMeshProperties(node.mesh, planned[index].properties))
                return false;
            std::vector<int> elementChildren;
            for (int child : node.children) {
                if (child >= 0 && child < static_cast<int>(model_.nodes.size())) {
                    const Json childExtras =
                        ExtrasOf(model_.nodes[static_cast<std::size_t>(child)].extras_json_string);
                    if (childExtras.contains("property") && childExtras.contains("type")) {
                        if (!AddPropertyNode(child, childExtras, planned[index].properties))
                            return false;
                        continue;
                    }
                }
                elementChildren.push_back(child);
            }
            for (auto it = elementChildren.rbegin(); it != elementChildren.rend(); ++it)
                pending.push_back({*it, index, false});
        }
        return true;
    }

    // The properties an export kept in extras, read as canonical JSON.
    bool RestoreProperties(const Json& extras,
                           std::vector<SerializedContentElement::Property>& out) {
        if (!extras.contains("properties") || !extras["properties"].is_array())
            return true;
        const Json element = {{"name", "x"}, {"properties", extras["properties"]}};
        LoadResult read =
            json::ReadContentJson(element.dump(-1, ' ', false, Json::error_handler_t::replace));
        if (!read) {
            message = "the properties kept in extras are unusable: " + read.error.description();
            return false;
        }
        for (const auto& property : read.tree->GetProperties())
            out.push_back(property);
        return true;
    }

    void AddTransform(const tinygltf::Node& node,
                      std::vector<SerializedContentElement::Property>& out) {
        if (options_.transformProperty.empty())
            return;
        if (!node.matrix.empty()) {
            result_.leftOut.push_back("node '" + node.name + "': its matrix transform");
            return;
        }
        if (node.translation.empty() && node.rotation.empty() && node.scale.empty())
            return;
        for (const auto& property : out) {
            if (property.name.view() == options_.transformProperty)
                return;  // the export kept the original location in extras
        }
        Location location;
        if (node.translation.size() == 3)
            location.position = {node.translation[0], node.translation[1], node.translation[2]};
        if (node.rotation.size() == 4)
            location.orientation = {node.rotation[0], node.rotation[1], node.rotation[2],
                                    node.rotation[3]};
        if (node.scale.size() == 3) {
            location.scale = node.scale[0];
            if (node.scale[1] != node.scale[0] || node.scale[2] != node.scale[0])
                result_.leftOut.push_back("node '" + node.name +
                                          "': a non-uniform scale (its x scale is kept)");
        }
        out.push_back({Symbol(options_.transformProperty), location});
    }

    // A node the export made of a shape or shape list property.
    bool AddPropertyNode(int index, const Json& extras,
                         std::vector<SerializedContentElement::Property>& out) {
        if (!Claim(index))
            return false;
        const tinygltf::Node& node = model_.nodes[static_cast<std::size_t>(index)];
        const std::string name =
            extras["property"].is_string() ? extras["property"].get<std::string>() : node.name;
        if (extras["type"] == "shape[]") {
            std::vector<SmartPtr<Shape>> list;
            for (int child : node.children) {
                if (!Claim(child))
                    return false;
                const tinygltf::Node& entry = model_.nodes[static_cast<std::size_t>(child)];
                SmartPtr<Shape> shape;
                if (!ExtrasOf(entry.extras_json_string).contains("null") &&
                    !ShapeOfNode(entry, shape))
                    return false;
                list.push_back(shape);
            }
            out.push_back({Symbol(name), std::move(list)});
            return true;
        }
        SmartPtr<Shape> shape;
        if (!extras.contains("null") && !ShapeOfNode(node, shape))
            return false;
        out.push_back({Symbol(name), shape});
        return true;
    }

    // The first primitive of the node's mesh as a shape; an empty shape for a node without one.
    bool ShapeOfNode(const tinygltf::Node& node, SmartPtr<Shape>& shape) {
        MeshData mesh;
        if (node.mesh >= 0) {
            if (node.mesh >= static_cast<int>(model_.meshes.size())) {
                message = "mesh " + std::to_string(node.mesh) + " does not exist";
                return false;
            }
            const auto& primitives = model_.meshes[static_cast<std::size_t>(node.mesh)].primitives;
            if (!primitives.empty() && !ReadPrimitive(primitives[0], mesh, true))
                return false;
        }
        return MakeShape(mesh, shape);
    }

    bool MakeShape(const MeshData& mesh, SmartPtr<Shape>& shape) {
        shape = MakeMeshShape(mesh.positions, mesh.indices);
        if (!shape) {
            message = "a mesh cannot be made into a shape (too large, or out of memory)";
            return false;
        }
        ++result_.shapes;
        return true;
    }

    // Shapes of a mesh of a foreign node: "mesh" as a shape for one triangle primitive, as a
    // shape list for several.
    bool AddMeshProperties(int meshIndex, std::vector<SerializedContentElement::Property>& out) {
        if (meshIndex >= static_cast<int>(model_.meshes.size())) {
            message = "mesh " + std::to_string(meshIndex) + " does not exist";
            return false;
        }
        const tinygltf::Mesh& gltfMesh = model_.meshes[static_cast<std::size_t>(meshIndex)];
        std::vector<SmartPtr<Shape>> shapes;
        for (std::size_t p = 0; p < gltfMesh.primitives.size(); ++p) {
            const tinygltf::Primitive& primitive = gltfMesh.primitives[p];
            const int mode = primitive.mode < 0 ? TINYGLTF_MODE_TRIANGLES : primitive.mode;
            if (mode != TINYGLTF_MODE_TRIANGLES) {
                result_.leftOut.push_back("mesh '" + gltfMesh.name + "' primitive " +
                                          std::to_string(p) + ": mode " + std::to_string(mode) +
                                          " is not triangles");
                continue;
            }
            MeshData mesh;
            if (!ReadPrimitive(primitive, mesh, false))
                return false;
            SmartPtr<Shape> shape;
            if (!MakeShape(mesh, shape))
                return false;
            shapes.push_back(shape);
        }
        if (shapes.size() == 1)
            out.push_back({Symbol("mesh"), shapes[0]});
        else if (!shapes.empty())
            out.push_back({Symbol("mesh"), std::move(shapes)});
        return true;
    }

    // Where accessor's items lie in its buffer: first byte and stride; false (message set) when
    // they do not all fit.
    bool Locate(int accessorIndex, int itemSize, const unsigned char*& first, std::size_t& stride) {
        const std::string which = "accessor " + std::to_string(accessorIndex);
        if (accessorIndex < 0 || accessorIndex >= static_cast<int>(model_.accessors.size())) {
            message = which + " does not exist";
            return false;
        }
        const tinygltf::Accessor& accessor =
            model_.accessors[static_cast<std::size_t>(accessorIndex)];
        if (accessor.sparse.isSparse) {
            message = which + " is sparse, which the import does not read";
            return false;
        }
        if (accessor.bufferView < 0 ||
            accessor.bufferView >= static_cast<int>(model_.bufferViews.size())) {
            message = which + " has no buffer view";
            return false;
        }
        const tinygltf::BufferView& view =
            model_.bufferViews[static_cast<std::size_t>(accessor.bufferView)];
        if (view.buffer < 0 || view.buffer >= static_cast<int>(model_.buffers.size())) {
            message = which + ": its buffer does not exist";
            return false;
        }
        const auto& data = model_.buffers[static_cast<std::size_t>(view.buffer)].data;
        stride = view.byteStride != 0 ? view.byteStride : static_cast<std::size_t>(itemSize);
        const std::uint64_t start = std::uint64_t{view.byteOffset} + accessor.byteOffset;
        const std::uint64_t span =
            accessor.count == 0 ? 0 : (accessor.count - 1) * std::uint64_t{stride} + itemSize;
        if (accessor.byteOffset + span > view.byteLength ||
            std::uint64_t{view.byteOffset} + view.byteLength > data.size()) {
            message = which + " reaches past the end of its buffer view or buffer";
            return false;
        }
        first = data.data() + start;
        return true;
    }

    bool ReadPrimitive(const tinygltf::Primitive& primitive, MeshData& mesh, bool ours) {
        const auto position = primitive.attributes.find("POSITION");
        if (position == primitive.attributes.end()) {
            message = "a primitive has no POSITION";
            return false;
        }
        const tinygltf::Accessor* accessor = nullptr;
        if (position->second >= 0 && position->second < static_cast<int>(model_.accessors.size()))
            accessor = &model_.accessors[static_cast<std::size_t>(position->second)];
        if (accessor && (accessor->componentType != TINYGLTF_COMPONENT_TYPE_FLOAT ||
                         accessor->type != TINYGLTF_TYPE_VEC3)) {
            message =
                "accessor " + std::to_string(position->second) + ": positions are not float VEC3";
            return false;
        }
        const unsigned char* first = nullptr;
        std::size_t stride = 0;
        if (!Locate(position->second, 12, first, stride))
            return false;
        mesh.positions.resize(accessor->count * 3);
        for (std::size_t v = 0; v < accessor->count; ++v)
            std::memcpy(&mesh.positions[3 * v], first + v * stride, 12);
        const std::uint64_t vertices = accessor->count;
        if (primitive.indices >= 0) {
            const tinygltf::Accessor* indices =
                primitive.indices < static_cast<int>(model_.accessors.size())
                    ? &model_.accessors[static_cast<std::size_t>(primitive.indices)]
                    : nullptr;
            int size = 0;
            if (indices && indices->type == TINYGLTF_TYPE_SCALAR) {
                switch (indices->componentType) {
                    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
                        size = 1;
                        break;
                    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
                        size = 2;
                        break;
                    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
                        size = 4;
                        break;
                    default:
                        break;
                }
            }
            if (size == 0) {
                message = "accessor " + std::to_string(primitive.indices) +
                          ": indices are not unsigned 8-, 16- or 32-bit scalars";
                return false;
            }
            if (!Locate(primitive.indices, size, first, stride))
                return false;
            mesh.indices.resize(indices->count / 3 * 3);
            for (std::size_t i = 0; i < mesh.indices.size(); ++i) {
                std::uint32_t index = 0;
                const unsigned char* at = first + i * stride;
                for (int b = size; b-- > 0;)
                    index = (index << 8) | at[b];
                if (index >= vertices) {
                    message = "accessor " + std::to_string(primitive.indices) + ": index " +
                              std::to_string(index) + " is beyond the " + std::to_string(vertices) +
                              " vertices";
                    return false;
                }
                mesh.indices[i] = index;
            }
        } else if (primitive.mode != TINYGLTF_MODE_POINTS) {
            mesh.indices.resize(vertices / 3 * 3);
            for (std::size_t i = 0; i < mesh.indices.size(); ++i)
                mesh.indices[i] = static_cast<std::uint32_t>(i);
        }
        if (ours)
            RestoreExported(ExtrasOf(primitive.extras_json_string), mesh);
        return true;
    }

    // Puts back what the export had to change: non-finite coordinates and the triangles it left
    // out, at their places.
    static void RestoreExported(const Json& extras, MeshData& mesh) {
        const std::size_t vertices = mesh.positions.size() / 3;
        if (extras.contains("nonFiniteVertices")) {
            for (const Json& entry : extras["nonFiniteVertices"]) {
                if (!entry.is_array() || entry.size() != 4 || !entry[0].is_number_unsigned() ||
                    entry[0].get<std::size_t>() >= vertices)
                    continue;
                for (std::size_t k = 0; k < 3; ++k) {
                    if (!entry[k + 1].is_string())
                        continue;
                    const std::uint32_t bits = static_cast<std::uint32_t>(
                        std::strtoul(entry[k + 1].get<std::string>().c_str(), nullptr, 16));
                    mesh.positions[3 * entry[0].get<std::size_t>() + k] =
                        std::bit_cast<float>(bits);
                }
            }
        }
        if (extras.contains("droppedTriangles")) {
            std::vector<std::uint32_t> merged;
            std::size_t kept = 0;
            for (const Json& entry : extras["droppedTriangles"]) {
                if (!entry.is_array() || entry.size() != 4)
                    continue;
                bool numbers = true;
                for (const Json& value : entry)
                    numbers = numbers && value.is_number_unsigned();
                if (!numbers)
                    continue;
                const std::size_t at = entry[0].get<std::size_t>();
                while (merged.size() / 3 < at && kept < mesh.indices.size()) {
                    merged.insert(merged.end(),
                                  mesh.indices.begin() + static_cast<std::ptrdiff_t>(kept),
                                  mesh.indices.begin() + static_cast<std::ptrdiff_t>(kept + 3));
                    kept += 3;
                }
                for (std::size_t k = 1; k < 4; ++k)
                    merged.push_back(entry[k].get<std::uint32_t>());
            }
            merged.insert(merged.end(), mesh.indices.begin() + static_cast<std::ptrdiff_t>(kept),
                          mesh.indices.end());
            mesh.indices = std::move(merged);
        }
    }

    const tinygltf::Model& model_;
    const ImportOptions& options_;
    ImportResult& result_;
    std::vector<bool> seen_;
};

// External buffers (a "uri" naming a file) are read below baseDirectory through the library's
// own file access, UTF-8 names on every platform; with no directory none are read. tinygltf's
// defaults would expand the name with wordexp, which no name taken from a file should reach.
struct ExternalFiles {
    std::string baseDirectory;

    // With no directory every name "exists", so that Read says why it is not read.
    static bool Exists(const std::string& path, void* self) {
        return static_cast<ExternalFiles*>(self)->baseDirectory.empty() ||
               files::StatFile(path).regular;
    }
    static std::string Expand(const std::string& path, void*) { return path; }
    static bool Read(std::vector<unsigned char>* out, std::string* error, const std::string& path,
                     void* self) {
        if (static_cast<ExternalFiles*>(self)->baseDirectory.empty()) {
            *error = "external files are not read here: " + path;
            return false;
        }
        std::string bytes;
        if (Error failed = files::ReadRegularFile(path, bytes)) {
            *error = failed.description();
            return false;
        }
        out->assign(bytes.begin(), bytes.end());
        return true;
    }
    static bool Write(std::string* error, const std::string&, const std::vector<unsigned char>&,
                      void*) {
        *error = "nothing is written while importing";
        return false;
    }
};

// ImportGltf and ImportGltfBytes: bytes of a .glb or .gltf file, named path in errors.
ImportResult Import(std::string_view bytes, const std::string& path,
                    const std::string& baseDirectory, SerializedContentElement& parent,
                    const ImportOptions& options) {
    ImportResult result;
    try {
        tinygltf::TinyGLTF loader;
        loader.SetStoreOriginalJSONForExtrasAndExtensions(true);
        loader.SetImageLoader(KeepImageBytes, nullptr);
        ExternalFiles external{baseDirectory};
        loader.SetFsCallbacks({&ExternalFiles::Exists, &ExternalFiles::Expand, &ExternalFiles::Read,
                               &ExternalFiles::Write, &external});
        tinygltf::Model model;
        std::string error, warning;
        const bool binary = bytes.size() >= 4 && bytes.substr(0, 4) == "glTF";
        const bool loaded =
            bytes.size() <= 0xFFFFFFFFu &&
            (binary
                 ? loader.LoadBinaryFromMemory(&model, &error, &warning,
                                               reinterpret_cast<const unsigned char*>(bytes.data()),
                                               static_cast<unsigned>(bytes.size()), baseDirectory)
                 : loader.LoadASCIIFromString(&model, &error, &warning, bytes.data(),
                                              static_cast<unsigned>(bytes.size()), baseDirectory));
        if (!loaded) {
            while (!error.empty() && (error.back() == '\n' || error.back() == ' '))
                error.pop_back();
            result.error =
                MakeError(Error::Malformed,
                          "not a glTF 2.0 file: " + (error.empty() ? "too large" : error), path);
            return result;
        }
        Importer importer(model, options, result);
        std::vector<std::size_t> roots;
        if (!importer.Plan(roots)) {
            ImportResult failed;
            failed.error = MakeError(Error::Malformed, importer.message, path);
            return failed;
        }
        struct Pending {
            std::size_t planned;
            SerializedContentElement* parent;
        };
        std::vector<Pending> pending;
        for (auto it = roots.rbegin(); it != roots.rend(); ++it)
            pending.push_back({*it, &parent});
        while (!pending.empty()) {
            const Pending entry = pending.back();
            pending.pop_back();
            Planned& planned = importer.planned[entry.planned];
            SerializedContentElement* element = entry.parent->StartContent(Symbol(planned.name));
            for (auto& property : planned.properties)
                element->AddPropertyValue(property.name, std::move(property.value));
            element->EndContent();
            for (auto it = planned.children.rbegin(); it != planned.children.rend(); ++it)
                pending.push_back({*it, element});
        }
    } catch (...) {
        result = ImportResult{};
        result.error = FromException(path);
    }
    return result;
}

}  // namespace

ImportResult ImportGltf(const std::string& path, SerializedContentElement& parent,
                        const ImportOptions& options) {
    std::string bytes;
    try {
        if (Error error = files::ReadRegularFile(path, bytes)) {
            ImportResult failed;
            failed.error = std::move(error);
            return failed;
        }
        return Import(bytes, path, files::Utf8Of(files::PathOf(path).parent_path()), parent,
                      options);
    } catch (...) {
        ImportResult failed;
        failed.error = FromException(path);
        return failed;
    }
}

ImportResult ImportGltfBytes(std::string_view bytes, const std::string& baseDirectory,
                             SerializedContentElement& parent, const ImportOptions& options) {
    return Import(bytes, {}, baseDirectory, parent, options);
}

}  // namespace kestrel::gltf
