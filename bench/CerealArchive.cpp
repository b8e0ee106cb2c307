// The mirror tree through cereal's XML archives. Meshes and images go as cereal's binary values
// (Base64 text), as the content format stores them, not as one XML element per number.
#include <cereal/archives/xml.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/variant.hpp>
#include <cereal/types/vector.hpp>
#include <sstream>

#include "Mirror.h"

namespace mirror {

using cereal::make_nvp;

template <class Archive>
void serialize(Archive& archive, Point2& p) {
    archive(make_nvp("x", p.x), make_nvp("y", p.y));
}
template <class Archive>
void serialize(Archive& archive, Vector2& p) {
    archive(make_nvp("x", p.x), make_nvp("y", p.y));
}
template <class Archive>
void serialize(Archive& archive, Point3& p) {
    archive(make_nvp("x", p.x), make_nvp("y", p.y), make_nvp("z", p.z));
}
template <class Archive>
void serialize(Archive& archive, Vector3& p) {
    archive(make_nvp("x", p.x), make_nvp("y", p.y), make_nvp("z", p.z));
}
template <class Archive>
void serialize(Archive& archive, Point3f& p) {
    archive(make_nvp("x", p.x), make_nvp("y", p.y), make_nvp("z", p.z));
}
template <class Archive>
void serialize(Archive& archive, Vector3f& p) {
    archive(make_nvp("x", p.x), make_nvp("y", p.y), make_nvp("z", p.z));
}
template <class Archive>
void serialize(Archive& archive, Rotation& q) {
    archive(make_nvp("x", q.x), make_nvp("y", q.y), make_nvp("z", q.z), make_nvp("w", q.w));
}
template <class Archive>
void serialize(Archive& archive, Rgba& c) {
    archive(make_nvp("rgba", c.packed));
}
template <class Archive>
void serialize(Archive& archive, Placement& l) {
    archive(make_nvp("px", l.px), make_nvp("py", l.py), make_nvp("pz", l.pz), make_nvp("qx", l.qx),
            make_nvp("qy", l.qy), make_nvp("qz", l.qz), make_nvp("qw", l.qw),
            make_nvp("scale", l.scale));
}
template <class Archive>
void serialize(Archive& archive, Property& p) {
    archive(make_nvp("name", p.name), make_nvp("value", p.value));
}
template <class Archive>
void serialize(Archive& archive, Element& e) {
    archive(make_nvp("name", e.name), make_nvp("properties", e.properties),
            make_nvp("children", e.children));
}

void save(cereal::XMLOutputArchive& archive, const Mesh& mesh) {
    const std::uint64_t positions = mesh.positions.size(), indices = mesh.indices.size();
    archive(make_nvp("positionCount", positions), make_nvp("indexCount", indices));
    archive.saveBinaryValue(mesh.positions.data(), positions * sizeof(float), "positions");
    archive.saveBinaryValue(mesh.indices.data(), indices * sizeof(std::uint32_t), "indices");
}
void load(cereal::XMLInputArchive& archive, Mesh& mesh) {
    std::uint64_t positions = 0, indices = 0;
    archive(make_nvp("positionCount", positions), make_nvp("indexCount", indices));
    mesh.positions.resize(positions);
    mesh.indices.resize(indices);
    archive.loadBinaryValue(mesh.positions.data(), positions * sizeof(float), "positions");
    archive.loadBinaryValue(mesh.indices.data(), indices * sizeof(std::uint32_t), "indices");
}

void save(cereal::XMLOutputArchive& archive, const Picture& picture) {
    const std::uint64_t bytes = picture.pixels.size();
    archive(make_nvp("width", picture.width), make_nvp("height", picture.height),
            make_nvp("format", picture.format), make_nvp("byteCount", bytes));
    archive.saveBinaryValue(picture.pixels.data(), bytes, "pixels");
}
void load(cereal::XMLInputArchive& archive, Picture& picture) {
    std::uint64_t bytes = 0;
    archive(make_nvp("width", picture.width), make_nvp("height", picture.height),
            make_nvp("format", picture.format), make_nvp("byteCount", bytes));
    picture.pixels.resize(bytes);
    archive.loadBinaryValue(picture.pixels.data(), bytes, "pixels");
}

std::string CerealSave(const Element& root) {
    std::ostringstream out;
    {
        cereal::XMLOutputArchive archive(out);
        archive(make_nvp("content", root));
    }
    return std::move(out).str();
}

Element CerealLoad(const std::string& text) {
    std::istringstream in(text);
    cereal::XMLInputArchive archive(in);
    Element root;
    archive(make_nvp("content", root));
    return root;
}

}  // namespace mirror
