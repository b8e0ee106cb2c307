// A plain C++ tree that mirrors a content tree, for serialization libraries to save and load:
// elements with names, typed properties as a variant, arrays as vectors, meshes as vertex and
// index vectors, images as byte vectors.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

class SerializedContentElement;

namespace mirror {

// clang-format off
struct Point2   { double x = 0, y = 0;        friend bool operator==(const Point2&, const Point2&) = default; };
struct Vector2  { double x = 0, y = 0;        friend bool operator==(const Vector2&, const Vector2&) = default; };
struct Point3   { double x = 0, y = 0, z = 0; friend bool operator==(const Point3&, const Point3&) = default; };
struct Vector3  { double x = 0, y = 0, z = 0; friend bool operator==(const Vector3&, const Vector3&) = default; };
struct Point3f  { float x = 0, y = 0, z = 0;  friend bool operator==(const Point3f&, const Point3f&) = default; };
struct Vector3f { float x = 0, y = 0, z = 0;  friend bool operator==(const Vector3f&, const Vector3f&) = default; };
struct Rotation { float x = 0, y = 0, z = 0, w = 1; friend bool operator==(const Rotation&, const Rotation&) = default; };
struct Rgba     { std::uint32_t packed = 0;   friend bool operator==(const Rgba&, const Rgba&) = default; };
// clang-format on

// Position, orientation quaternion and uniform scale.
struct Placement {
    double px = 0, py = 0, pz = 0;
    double qx = 0, qy = 0, qz = 0, qw = 1;
    double scale = 1;
    friend bool operator==(const Placement&, const Placement&) = default;
};

// x y z per vertex, three vertex indices per triangle.
struct Mesh {
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    friend bool operator==(const Mesh&, const Mesh&) = default;
};

// Rows top to bottom without padding; format 0 is RGBA, 1 RGB.
struct Picture {
    std::uint32_t width = 0, height = 0;
    std::uint8_t format = 0;
    std::vector<std::uint8_t> pixels;
    friend bool operator==(const Picture&, const Picture&) = default;
};

using Value =
    std::variant<bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                 std::uint32_t, std::int64_t, std::uint64_t, float, double, std::string, Rgba,
                 Point2, Point3, Point3f, Vector2, Vector3, Vector3f, Placement, Rotation, Mesh,
                 Picture, std::vector<std::string>, std::vector<bool>, std::vector<std::uint32_t>,
                 std::vector<double>, std::vector<float>, std::vector<Rgba>, std::vector<Point2>>;

struct Property {
    std::string name;
    Value value;
    friend bool operator==(const Property&, const Property&) = default;
};

struct Element {
    std::string name;
    std::vector<Property> properties;
    std::vector<Element> children;
    friend bool operator==(const Element&, const Element&) = default;
};

// The mirror of element and everything below it; values of types a content file cannot hold are
// left out, as the module's writer leaves them out.
Element FromContent(const SerializedContentElement& element);

// The XML text of cereal's XML archive holding root, and root read back from such text.
std::string CerealSave(const Element& root);
Element CerealLoad(const std::string& text);

// The same with Boost.Serialization's XML archives.
std::string BoostSave(const Element& root);
Element BoostLoad(const std::string& text);

}  // namespace mirror
