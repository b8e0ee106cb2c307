#include "Mirror.h"

#include <cstring>
#include <type_traits>

#include "geometry/MeshBuilder.h"
#include "kernel/SerializedContentElement.h"

namespace mirror {

namespace {

template <class T>
struct Converted {
    using Type = void;  // no mirror: left out
};
// clang-format off
template <> struct Converted<bool>              { using Type = bool; };
template <> struct Converted<std::int8_t>       { using Type = std::int8_t; };
template <> struct Converted<std::uint8_t>      { using Type = std::uint8_t; };
template <> struct Converted<std::int16_t>      { using Type = std::int16_t; };
template <> struct Converted<std::uint16_t>     { using Type = std::uint16_t; };
template <> struct Converted<std::int32_t>      { using Type = std::int32_t; };
template <> struct Converted<std::uint32_t>     { using Type = std::uint32_t; };
template <> struct Converted<std::int64_t>      { using Type = std::int64_t; };
template <> struct Converted<std::uint64_t>     { using Type = std::uint64_t; };
template <> struct Converted<float>             { using Type = float; };
template <> struct Converted<double>            { using Type = double; };
template <> struct Converted<Symbol>            { using Type = std::string; };
template <> struct Converted<Color>             { using Type = Rgba; };
template <> struct Converted<DPoint2D>          { using Type = Point2; };
template <> struct Converted<DPoint3D>          { using Type = Point3; };
template <> struct Converted<FPoint3D>          { using Type = Point3f; };
template <> struct Converted<DVec2>             { using Type = Vector2; };
template <> struct Converted<DVec3>             { using Type = Vector3; };
template <> struct Converted<FVec3>             { using Type = Vector3f; };
template <> struct Converted<Location>          { using Type = Placement; };
template <> struct Converted<Quaternion<float>> { using Type = Rotation; };
template <> struct Converted<SmartPtr<Shape>>   { using Type = Mesh; };
template <> struct Converted<SmartPtr<Image>>   { using Type = Picture; };
// clang-format on
// Arrays of the types a content file holds arrays of.
template <class T>
requires(std::is_same_v<T, Symbol> || std::is_same_v<T, bool> || std::is_same_v<T, std::uint32_t> ||
         std::is_same_v<T, double> || std::is_same_v<T, float> || std::is_same_v<T, Color> ||
         std::is_same_v<T, DPoint2D>) struct Converted<std::vector<T>> {
    using Type = std::vector<typename Converted<T>::Type>;
};

template <class T>
T Convert(const T& value) {
    return value;
}
std::string Convert(const Symbol& value) {
    return std::string(value.view());
}
Rgba Convert(const Color& value) {
    return {value.GetAsHex()};
}
Point2 Convert(const DPoint2D& p) {
    return {p.x, p.y};
}
Point3 Convert(const DPoint3D& p) {
    return {p.x, p.y, p.z};
}
Point3f Convert(const FPoint3D& p) {
    return {p.x, p.y, p.z};
}
Vector2 Convert(const DVec2& p) {
    return {p.x, p.y};
}
Vector3 Convert(const DVec3& p) {
    return {p.x, p.y, p.z};
}
Vector3f Convert(const FVec3& p) {
    return {p.x, p.y, p.z};
}
Rotation Convert(const Quaternion<float>& q) {
    return {q.x, q.y, q.z, q.w};
}
Placement Convert(const Location& l) {
    return {l.position.x,    l.position.y,    l.position.z,    l.orientation.x,
            l.orientation.y, l.orientation.z, l.orientation.w, l.scale};
}
Mesh Convert(const SmartPtr<Shape>& shape) {
    Mesh mesh;
    if (shape) {
        MeshData data = ExtractMesh(*shape);
        mesh.positions = std::move(data.positions);
        mesh.indices = std::move(data.indices);
    }
    return mesh;
}
Picture Convert(const SmartPtr<Image>& image) {
    Picture picture;
    if (image) {
        picture.width = image->GetWidth();
        picture.height = image->GetHeight();
        picture.format = static_cast<std::uint8_t>(image->GetFormat());
        picture.pixels.assign(image->GetPixels(), image->GetPixels() + image->GetPixelBytes());
    }
    return picture;
}
template <class T>
auto Convert(const std::vector<T>& values) {
    std::vector<typename Converted<T>::Type> converted;
    converted.reserve(values.size());
    for (const auto& value : values)
        converted.push_back(Convert(T(value)));
    return converted;
}

}  // namespace

// Recursive: generated documents nest at most 150 levels, and the libraries it serves recurse
// anyway.
Element FromContent(const SerializedContentElement& element) {
    Element mirrored;
    mirrored.name = std::string(element.GetName().view());
    for (const SerializedContentElement::Property& property : element.GetProperties()) {
        std::visit(
            [&]<class T>(const T& value) {
                if constexpr (!std::is_void_v<typename Converted<T>::Type>) {
                    mirrored.properties.push_back(
                        {std::string(property.name.view()), Value(Convert(value))});
                }
            },
            property.value);
    }
    mirrored.children.reserve(element.GetChildCount());
    for (std::size_t i = 0; i < element.GetChildCount(); ++i)
        mirrored.children.push_back(FromContent(*element.GetChild(i)));
    return mirrored;
}

}  // namespace mirror
