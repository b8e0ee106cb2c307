#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

#include "MakeError.h"
#include "geometry/MeshBuilder.h"
#include "kestrel/files/AtomicFile.h"
#include "kestrel/files/FilePath.h"
#include "kestrel/gltf/Gltf.h"
#include "kestrel/images/ImageFiles.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/paths/ContentPath.h"
#include "utilities/Base64.h"

namespace kestrel::gltf {
namespace {

using Json = nlohmann::json;

constexpr int kFloat = 5126;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr std::uint64_t kMaxBuffer = 0xFFFFFFFFu - 64;

// The pool whose positions ExtractMesh returns: that of the last face with a PolyForm.
const VertexPool* PoolOf(const Shape& shape) {
    const VertexPool* pool = nullptr;
    for (std::size_t b = 0; b < shape.GetBodyCount(); ++b) {
        const Body* body = shape.GetBody(b);
        for (std::size_t r = 0; r < body->GetRegionCount(); ++r) {
            const Region* region = body->GetRegion(r);
            for (std::size_t s = 0; s < region->GetShellCount(); ++s) {
                const Shell* shell = region->GetShell(s);
                for (std::size_t f = 0; f < shell->GetFaceCount(); ++f) {
                    if (const PolyForm* polyForm = std::as_const(*shell->GetFace(f)).GetPolyForm())
                        pool = polyForm->GetVertexPool();
                }
            }
        }
    }
    return pool;
}

std::string HexBits(float value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x",
                  static_cast<unsigned>(std::bit_cast<std::uint32_t>(value)));
    return text;
}

class SceneBuilder {
public:
    explicit SceneBuilder(const ExportOptions& options) : options_(options) {}

    void Build(const SerializedContentElement& top, GltfScene& scene) {
        struct Pending {
            const SerializedContentElement* element;
            int parent;  // node index, -1 for the scene's root
        };
        std::vector<Pending> pending{{&top, -1}};
        while (!pending.empty()) {
            const Pending entry = pending.back();
            pending.pop_back();
            const int node = AddElementNode(*entry.element);
            if (entry.parent < 0)
                roots_.push_back(node);
            else
                nodes_[static_cast<std::size_t>(entry.parent)]["children"].push_back(node);
            for (std::size_t i = entry.element->GetChildCount(); i-- > 0;)
                pending.push_back({entry.element->GetChild(i), node});
        }
        Json document;
        document["asset"] = {{"version", "2.0"}, {"generator", "kestrel-sc"}};
        document["scene"] = 0;
        document["scenes"] = Json::array({{{"nodes", roots_}}});
        document["nodes"] = std::move(nodes_);
        if (!meshes_.empty())
            document["meshes"] = std::move(meshes_);
        if (!accessors_.empty())
            document["accessors"] = std::move(accessors_);
        if (!images_.empty())
            document["images"] = std::move(images_);
        if (!views_.empty()) {
            document["bufferViews"] = std::move(views_);
            document["buffers"] = Json::array({{{"byteLength", buffer_.size()}}});
        }
        scene.json = document.dump(-1, ' ', false, Json::error_handler_t::replace);
        scene.buffer = std::move(buffer_);
        scene.notes = std::move(notes_);
    }

    bool tooLarge = false;

private:
    int AddElementNode(const SerializedContentElement& element) {
        const int index = static_cast<int>(nodes_.size());
        nodes_.push_back(Json::object());
        Json node;
        node["name"] = std::string(element.GetName().view());
        Json extras;
        extras["path"] = paths::PathOf(element);
        Json properties = Json::array();
        Json images = Json::array();
        bool transformed = false;
        std::vector<int> propertyNodes;
        for (const auto& property : element.GetProperties()) {
            const std::string name(property.name.view());
            if (const auto* shape = std::get_if<SmartPtr<Shape>>(&property.value)) {
                Json child = {{"name", name}, {"extras", {{"property", name}, {"type", "shape"}}}};
                if (*shape)
                    AttachMesh(**shape, name, child, extras["path"].get<std::string>());
                else
                    child["extras"]["null"] = true;
                propertyNodes.push_back(AddNode(std::move(child)));
                continue;
            }
            if (const auto* list = std::get_if<std::vector<SmartPtr<Shape>>>(&property.value)) {
                Json child = {{"name", name},
                              {"extras", {{"property", name}, {"type", "shape[]"}}}};
                Json entries = Json::array();
                for (std::size_t i = 0; i < list->size(); ++i) {
                    const std::string entryName = name + "[" + std::to_string(i) + "]";
                    Json entry = {{"name", entryName}, {"extras", {{"entry", i}}}};
                    if ((*list)[i])
                        AttachMesh(*(*list)[i], entryName, entry,
                                   extras["path"].get<std::string>());
                    else
                        entry["extras"]["null"] = true;
                    entries.push_back(AddNode(std::move(entry)));
                }
                if (!entries.empty())
                    child["children"] = std::move(entries);
                propertyNodes.push_back(AddNode(std::move(child)));
                continue;
            }
            if (const auto* image = std::get_if<SmartPtr<Image>>(&property.value)) {
                if (*image) {
                    images::PngResult png = images::EncodePng(**image);
                    if (png) {
                        const int view = AddView(png.bytes.data(), png.bytes.size(), 0);
                        images_.push_back(
                            {{"name", name}, {"mimeType", "image/png"}, {"bufferView", view}});
                        images.push_back(
                            {{"property", name}, {"image", static_cast<int>(images_.size()) - 1}});
                        continue;
                    }
                    notes_.push_back(extras["path"].get<std::string>() + "@" + name +
                                     ": image kept in extras only: " + png.error.message);
                }
            }
            if (const auto* location = std::get_if<Location>(&property.value);
                location && !transformed && !options_.transformProperty.empty() &&
                name == options_.transformProperty && SetTransform(*location, node)) {
                transformed = true;
                // A rotation that had to be normalised is kept as it was too.
                if (!node.contains("rotation") || UnitRotation(*location))
                    continue;
            }
            properties.push_back(Json::parse(json::WritePropertyJson(property)));
        }
        if (!properties.empty())
            extras["properties"] = std::move(properties);
        if (!images.empty())
            extras["images"] = std::move(images);
        node["extras"] = std::move(extras);
        if (!propertyNodes.empty())
            node["children"] = propertyNodes;
        nodes_[static_cast<std::size_t>(index)] = std::move(node);
        return index;
    }

    int AddNode(Json node) {
        nodes_.push_back(std::move(node));
        return static_cast<int>(nodes_.size()) - 1;
    }

    static bool UnitRotation(const Location& location) {
        const Quaternion<double>& q = location.orientation;
        return std::fabs(std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w) - 1) < 1e-9;
    }

    // The location as translation, rotation and scale; false (nothing set) when a component is
    // not finite or the rotation has no direction, so the location stays in extras instead.
    bool SetTransform(const Location& location, Json& node) {
        const Quaternion<double>& q = location.orientation;
        const double length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
        const std::array<double, 8> all = {
            location.position.x, location.position.y, location.position.z, q.x, q.y, q.z, q.w,
            location.scale};
        for (double value : all) {
            if (!std::isfinite(value))
                return false;
        }
        if (!(length > 0))
            return false;
        const auto& p = location.position;
        if (p.x != 0 || p.y != 0 || p.z != 0)
            node["translation"] = {p.x, p.y, p.z};
        if (q.x != 0 || q.y != 0 || q.z != 0 || q.w != 1) {
            // A unit quaternion stays as it is, bit for bit; others are normalised.
            const bool unit = std::fabs(length - 1) < 1e-9;
            node["rotation"] = unit ? Json{q.x, q.y, q.z, q.w}
                                    : Json{q.x / length, q.y / length, q.z / length, q.w / length};
        }
        if (location.scale != 1)
            node["scale"] = {location.scale, location.scale, location.scale};
        return true;
    }

    int AddView(const void* data, std::size_t size, int target) {
        while (buffer_.size() % 4 != 0)
            buffer_.push_back('\0');
        if (buffer_.size() + size > kMaxBuffer) {
            tooLarge = true;
            return 0;
        }
        Json view = {{"buffer", 0}, {"byteOffset", buffer_.size()}, {"byteLength", size}};
        if (target != 0)
            view["target"] = target;
        buffer_.append(static_cast<const char*>(data), size);
        views_.push_back(std::move(view));
        return static_cast<int>(views_.size()) - 1;
    }

    int AddAccessor(int view, int componentType, std::size_t count, const char* type) {
        accessors_.push_back({{"bufferView", view},
                              {"componentType", componentType},
                              {"count", count},
                              {"type", type}});
        return static_cast<int>(accessors_.size()) - 1;
    }

    // Gives node a mesh of the shape: positions with their bounds, unit normals, 32-bit indices.
    // Non-finite coordinates, which glTF forbids, become 0 and the triangles using them (and any
    // with an index out of range) are left out of the index list; extras keep both, so that an
    // import restores the shape bit for bit.
    void AttachMesh(const Shape& shape, const std::string& name, Json& node,
                    const std::string& where) {
        MeshData mesh = ExtractMesh(shape);
        const std::size_t vertices = mesh.positions.size() / 3;
        mesh.positions.resize(vertices * 3);
        mesh.indices.resize(mesh.indices.size() / 3 * 3);
        if (vertices == 0)
            return;
        Json extras = Json::object();
        std::vector<bool> bad(vertices, false);
        Json nonFinite = Json::array();
        for (std::size_t v = 0; v < vertices; ++v) {
            float* p = &mesh.positions[3 * v];
            if (std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]))
                continue;
            bad[v] = true;
            nonFinite.push_back({v, HexBits(p[0]), HexBits(p[1]), HexBits(p[2])});
            p[0] = p[1] = p[2] = 0;
        }
        std::vector<std::uint32_t> kept;
        kept.reserve(mesh.indices.size());
        Json dropped = Json::array();
        for (std::size_t t = 0; t < mesh.indices.size() / 3; ++t) {
            const std::uint32_t* abc = &mesh.indices[3 * t];
            bool usable = true;
            for (int k = 0; k < 3; ++k)
                usable = usable && abc[k] < vertices && !bad[abc[k]];
            if (usable)
                kept.insert(kept.end(), abc, abc + 3);
            else
                dropped.push_back({t, abc[0], abc[1], abc[2]});
        }
        if (!nonFinite.empty()) {
            notes_.push_back(where + "@" + name + ": " + std::to_string(nonFinite.size()) +
                             " vertices with non-finite coordinates written as 0 0 0, and " +
                             std::to_string(dropped.size()) +
                             " triangles using them or out-of-range indices left out");
            extras["nonFiniteVertices"] = std::move(nonFinite);
        }
        if (!dropped.empty())
            extras["droppedTriangles"] = std::move(dropped);
        if (kept.empty() && !mesh.indices.empty())
            extras["triangles"] = 0;  // every triangle was dropped; shown as points

        std::array<float, 3> low{}, high{};
        for (int k = 0; k < 3; ++k)
            low[k] = high[k] = mesh.positions[static_cast<std::size_t>(k)];
        for (std::size_t v = 1; v < vertices; ++v) {
            for (std::size_t k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], mesh.positions[3 * v + k]);
                high[k] = std::max(high[k], mesh.positions[3 * v + k]);
            }
        }
        Json attributes;
        const int positionView =
            AddView(mesh.positions.data(), mesh.positions.size() * sizeof(float), kArrayBuffer);
        const int position = AddAccessor(positionView, kFloat, vertices, "VEC3");
        accessors_[static_cast<std::size_t>(position)]["min"] = {low[0], low[1], low[2]};
        accessors_[static_cast<std::size_t>(position)]["max"] = {high[0], high[1], high[2]};
        attributes["POSITION"] = position;

        const VertexPool* pool = PoolOf(shape);
        if (pool && pool->GetVertexType().HasNormals() && pool->GetVertexCount() == vertices) {
            std::vector<float> normals(vertices * 3);
            for (std::uint32_t v = 0; v < vertices; ++v) {
                const float* n = pool->GetNormal(v);
                const double length =
                    std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
                // Vertices no usable triangle touches have no normal; glTF wants unit length.
                if (bad[v] || !(length > 0) || !std::isfinite(length)) {
                    normals[3 * v + 2] = 1;
                    continue;
                }
                for (int k = 0; k < 3; ++k)
                    normals[3 * v + static_cast<std::size_t>(k)] =
                        static_cast<float>(n[k] / length);
            }
            const int normalView =
                AddView(normals.data(), normals.size() * sizeof(float), kArrayBuffer);
            attributes["NORMAL"] = AddAccessor(normalView, kFloat, vertices, "VEC3");
        }
        Json primitive = {{"attributes", std::move(attributes)}};
        if (kept.empty()) {
            primitive["mode"] = 0;
        } else {
            const int indexView =
                AddView(kept.data(), kept.size() * sizeof(std::uint32_t), kElementArrayBuffer);
            primitive["indices"] = AddAccessor(indexView, kUnsignedInt, kept.size(), "SCALAR");
        }
        if (!extras.empty())
            primitive["extras"] = std::move(extras);
        meshes_.push_back({{"name", name}, {"primitives", Json::array({std::move(primitive)})}});
        node["mesh"] = static_cast<int>(meshes_.size()) - 1;
    }

    const ExportOptions& options_;
    Json nodes_ = Json::array();
    Json meshes_ = Json::array();
    Json accessors_ = Json::array();
    Json views_ = Json::array();
    Json images_ = Json::array();
    std::vector<int> roots_;
    std::string buffer_;
    std::vector<std::string> notes_;
};

void AppendLittle32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Percent-encodes what a relative URI reference cannot hold as it is.
std::string UriOf(const std::string& name) {
    std::string uri;
    for (unsigned char c : name) {
        const bool plain = std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            uri.push_back(static_cast<char>(c));
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    return uri;
}

}  // namespace

GltfScene BuildScene(const SerializedContentElement& element, const ExportOptions& options) {
    GltfScene scene;
    try {
        SceneBuilder builder(options);
        builder.Build(element, scene);
        if (builder.tooLarge) {
            scene = GltfScene{};
            scene.error = MakeError(Error::NotSavable,
                                    "the meshes and images need more than the 4 GiB a glTF "
                                    "buffer can hold");
        }
    } catch (...) {
        scene = GltfScene{};
        scene.error = FromException({});
    }
    return scene;
}

GlbResult PackGlb(const GltfScene& scene) {
    GlbResult result;
    try {
        const std::size_t jsonLength = (scene.json.size() + 3) / 4 * 4;
        const std::size_t binLength = (scene.buffer.size() + 3) / 4 * 4;
        const std::uint64_t total =
            12 + 8 + jsonLength + (scene.buffer.empty() ? 0 : 8 + std::uint64_t{binLength});
        if (total > 0xFFFFFFFFu) {
            result.error = MakeError(Error::NotSavable, "the scene needs more than 4 GiB");
            return result;
        }
        std::string& out = result.bytes;
        out.reserve(total);
        AppendLittle32(out, 0x46546C67);  // "glTF"
        AppendLittle32(out, 2);
        AppendLittle32(out, static_cast<std::uint32_t>(total));
        AppendLittle32(out, static_cast<std::uint32_t>(jsonLength));
        AppendLittle32(out, 0x4E4F534A);  // "JSON"
        out += scene.json;
        out.append(jsonLength - scene.json.size(), ' ');
        if (!scene.buffer.empty()) {
            AppendLittle32(out, static_cast<std::uint32_t>(binLength));
            AppendLittle32(out, 0x004E4942);  // "BIN"
            out += scene.buffer;
            out.append(binLength - scene.buffer.size(), '\0');
        }
    } catch (...) {
        result = GlbResult{};
        result.error = FromException({});
    }
    return result;
}

Error WriteGltf(const SerializedContentElement& element, const std::string& path,
                const ExportOptions& options, BufferPlacement placement,
                std::vector<std::string>* notes) {
    std::string extension;
    std::filesystem::path binPath;
    try {
        const std::filesystem::path target = files::PathOf(path);
        extension = files::Utf8Of(target.extension());
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        binPath = target;
        binPath.replace_extension(".bin");
    } catch (...) {
        return FromException(path);
    }
    if (extension != ".glb" && extension != ".gltf")
        return MakeError(Error::InvalidArgument,
                         "cannot tell the glTF form from the extension (use .glb or .gltf)", path);
    GltfScene scene = BuildScene(element, options);
    if (!scene)
        return MakeError(scene.error.code, scene.error.message, path);
    if (notes)
        *notes = scene.notes;
    if (extension == ".glb") {
        GlbResult glb = PackGlb(scene);
        if (!glb)
            return MakeError(glb.error.code, glb.error.message, path);
        return files::WriteFileAtomically(path, glb.bytes);
    }
    try {
        if (!scene.buffer.empty()) {
            Json document = Json::parse(scene.json);
            if (placement == BufferPlacement::Beside) {
                const std::string binName = files::Utf8Of(binPath.filename());
                if (Error error = files::WriteFileAtomically(files::Utf8Of(binPath), scene.buffer))
                    return error;
                document["buffers"][0]["uri"] = UriOf(binName);
            } else {
                document["buffers"][0]["uri"] =
                    "data:application/octet-stream;base64," +
                    Base64::Encode(scene.buffer.data(), scene.buffer.size());
            }
            scene.json = document.dump(-1, ' ', false, Json::error_handler_t::replace);
        }
        return files::WriteFileAtomically(path, scene.json);
    } catch (...) {
        return FromException(path);
    }
}

}  // namespace kestrel::gltf
