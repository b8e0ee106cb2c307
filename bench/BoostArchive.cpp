// The mirror tree through Boost.Serialization's XML archives. Meshes and images go as binary
// objects (Base64 text), as the content format stores them. This Boost has no std::variant
// support, so the variant is written as its index and the value.
#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/binary_object.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/split_free.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <sstream>
#include <utility>

#include "Mirror.h"

namespace mirror {

using boost::serialization::make_nvp;

template <class Archive>
void serialize(Archive& archive, Point2& p, unsigned) {
    archive& make_nvp("x", p.x) & make_nvp("y", p.y);
}
template <class Archive>
void serialize(Archive& archive, Vector2& p, unsigned) {
    archive& make_nvp("x", p.x) & make_nvp("y", p.y);
}
template <class Archive>
void serialize(Archive& archive, Point3& p, unsigned) {
    archive& make_nvp("x", p.x) & make_nvp("y", p.y) & make_nvp("z", p.z);
}
template <class Archive>
void serialize(Archive& archive, Vector3& p, unsigned) {
    archive& make_nvp("x", p.x) & make_nvp("y", p.y) & make_nvp("z", p.z);
}
template <class Archive>
void serialize(Archive& archive, Point3f& p, unsigned) {
    archive& make_nvp("x", p.x) & make_nvp("y", p.y) & make_nvp("z", p.z);
}
template <class Archive>
void serialize(Archive& archive, Vector3f& p, unsigned) {
    archive& make_nvp("x", p.x) & make_nvp("y", p.y) & make_nvp("z", p.z);
}
template <class Archive>
void serialize(Archive& archive, Rotation& q, unsigned) {
    archive& make_nvp("x", q.x) & make_nvp("y", q.y) & make_nvp("z", q.z) & make_nvp("w", q.w);
}
template <class Archive>
void serialize(Archive& archive, Rgba& c, unsigned) {
    archive& make_nvp("rgba", c.packed);
}
template <class Archive>
void serialize(Archive& archive, Placement& l, unsigned) {
    archive& make_nvp("px", l.px) & make_nvp("py", l.py) & make_nvp("pz", l.pz) &
        make_nvp("qx", l.qx) & make_nvp("qy", l.qy) & make_nvp("qz", l.qz) & make_nvp("qw", l.qw) &
        make_nvp("scale", l.scale);
}
template <class Archive>
void serialize(Archive& archive, Property& p, unsigned) {
    archive& make_nvp("name", p.name) & make_nvp("value", p.value);
}
template <class Archive>
void serialize(Archive& archive, Element& e, unsigned) {
    archive& make_nvp("name", e.name) & make_nvp("properties", e.properties) &
        make_nvp("children", e.children);
}

template <class Archive>
void serialize(Archive& archive, Mesh& mesh, unsigned) {
    std::uint64_t positions = mesh.positions.size(), indices = mesh.indices.size();
    archive& make_nvp("positionCount", positions) & make_nvp("indexCount", indices);
    mesh.positions.resize(positions);
    mesh.indices.resize(indices);
    auto positionBytes =
        boost::serialization::make_binary_object(mesh.positions.data(), positions * sizeof(float));
    auto indexBytes = boost::serialization::make_binary_object(mesh.indices.data(),
                                                               indices * sizeof(std::uint32_t));
    archive& make_nvp("positions", positionBytes) & make_nvp("indices", indexBytes);
}

template <class Archive>
void serialize(Archive& archive, Picture& picture, unsigned) {
    std::uint64_t bytes = picture.pixels.size();
    archive& make_nvp("width", picture.width) & make_nvp("height", picture.height) &
        make_nvp("format", picture.format) & make_nvp("byteCount", bytes);
    picture.pixels.resize(bytes);
    auto pixels = boost::serialization::make_binary_object(picture.pixels.data(), bytes);
    archive& make_nvp("pixels", pixels);
}

namespace {

template <std::size_t Index>
void LoadAlternative(boost::archive::xml_iarchive& archive, Value& value) {
    std::variant_alternative_t<Index, Value> alternative{};
    archive >> make_nvp("value", alternative);
    value.emplace<Index>(std::move(alternative));
}

template <std::size_t... Indices>
void LoadValue(boost::archive::xml_iarchive& archive, Value& value, int which,
               std::index_sequence<Indices...>) {
    using Loader = void (*)(boost::archive::xml_iarchive&, Value&);
    static constexpr Loader loaders[] = {&LoadAlternative<Indices>...};
    if (which < 0 || static_cast<std::size_t>(which) >= sizeof...(Indices))
        throw boost::archive::archive_exception(boost::archive::archive_exception::other_exception,
                                                "variant index out of range");
    loaders[which](archive, value);
}

}  // namespace

}  // namespace mirror

namespace boost::serialization {

template <class Archive>
void save(Archive& archive, const mirror::Value& value, unsigned) {
    const int which = static_cast<int>(value.index());
    archive << make_nvp("which", which);
    std::visit([&](const auto& alternative) { archive << make_nvp("value", alternative); }, value);
}

template <class Archive>
void load(Archive& archive, mirror::Value& value, unsigned) {
    int which = 0;
    archive >> make_nvp("which", which);
    mirror::LoadValue(archive, value, which,
                      std::make_index_sequence<std::variant_size_v<mirror::Value>>());
}

}  // namespace boost::serialization

BOOST_SERIALIZATION_SPLIT_FREE(mirror::Value)

namespace mirror {

std::string BoostSave(const Element& root) {
    std::ostringstream out;
    {
        boost::archive::xml_oarchive archive(out);
        archive << make_nvp("content", root);
    }
    return std::move(out).str();
}

Element BoostLoad(const std::string& text) {
    std::istringstream in(text);
    boost::archive::xml_iarchive archive(in);
    Element root;
    archive >> make_nvp("content", root);
    return root;
}

}  // namespace mirror
