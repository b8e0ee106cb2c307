#include "DocumentGenerator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "geometry/Image.h"
#include "geometry/MeshBuilder.h"
#include "kestrel/load/Content.h"

namespace kestrelbench {

namespace {

// The size estimate follows WriteXml's layout: a line break and two spaces per level (at most
// 64 levels) before every element, values in element text except strings, which go into a
// "value" attribute.
constexpr std::uint64_t kDeclaration = 39;  // <?xml version="1.0" encoding="UTF-8"?> + \n
// <kestrel_sc:figure xmlns:kestrel_sc="...">, \n</kestrel_sc:figure>, \n
constexpr std::uint64_t kRoot = 19 + 21 + 1 + std::char_traits<char>::length(" =\"\"") +
                                std::char_traits<char>::length(kestrel::kNamespaceAttribute) +
                                std::char_traits<char>::length(kestrel::kNamespaceName);
constexpr std::uint64_t kPropertyOpen = 20 + 7;  // <kestrel_sc:property type="
constexpr std::uint64_t kNameAttribute = 1 + 7;  // " name="
constexpr std::uint64_t kPropertyClose = 22;     // </kestrel_sc:property>
constexpr int kMaxDepth = 150;

std::uint64_t LineStart(int depth) {
    return 1 + 2 * static_cast<std::uint64_t>(std::min(depth, 64));
}

std::uint64_t Base64Length(std::uint64_t bytes) {
    return (bytes + 2) / 3 * 4;
}

template <class T>
std::uint64_t TextLength(T value) {
    char buffer[40];
    return static_cast<std::uint64_t>(std::to_chars(buffer, buffer + sizeof buffer, value).ptr -
                                      buffer);
}

// Length of text escaped for an attribute or element text.
std::uint64_t EscapedLength(std::string_view text, bool attribute) {
    std::uint64_t length = text.size();
    for (char c : text) {
        switch (c) {
            case '&':
                length += 4;
                break;
            case '<':
            case '>':
                length += 3;
                break;
            case '"':
                length += attribute ? 5 : 0;
                break;
            default:
                break;
        }
    }
    return length;
}

std::uint64_t ValueLength(bool value) {
    return value ? 4 : 5;
}
std::uint64_t ValueLength(const Color&) {
    return 9;
}
std::uint64_t ValueLength(const DPoint2D& p) {
    return TextLength(p.x) + 1 + TextLength(p.y);
}
std::uint64_t ValueLength(const DVec2& p) {
    return TextLength(p.x) + 1 + TextLength(p.y);
}
std::uint64_t ValueLength(const DPoint3D& p) {
    return TextLength(p.x) + TextLength(p.y) + TextLength(p.z) + 2;
}
std::uint64_t ValueLength(const DVec3& p) {
    return TextLength(p.x) + TextLength(p.y) + TextLength(p.z) + 2;
}
std::uint64_t ValueLength(const FPoint3D& p) {
    return TextLength(p.x) + TextLength(p.y) + TextLength(p.z) + 2;
}
std::uint64_t ValueLength(const FVec3& p) {
    return TextLength(p.x) + TextLength(p.y) + TextLength(p.z) + 2;
}
std::uint64_t ValueLength(const Quaternion<float>& q) {
    return TextLength(q.x) + TextLength(q.y) + TextLength(q.z) + TextLength(q.w) + 3;
}
std::uint64_t ValueLength(const Location& l) {
    return ValueLength(l.position) + 1 + TextLength(l.orientation.x) + TextLength(l.orientation.y) +
           TextLength(l.orientation.z) + TextLength(l.orientation.w) + 3 + 1 + TextLength(l.scale);
}
std::uint64_t ValueLength(const Symbol& s) {
    return EscapedLength(s.view(), false);
}
template <class T>
requires std::is_arithmetic_v<T> std::uint64_t ValueLength(T value) {
    // Narrow integers travel widened to 32 bits; unsigned 32 and 64-bit ones as the signed kind
    // of their width, so large values are written negative.
    if constexpr (std::is_same_v<T, bool>) {
        return value ? 4 : 5;
    } else if constexpr (std::is_floating_point_v<T>) {
        return TextLength(value);
    } else if constexpr (sizeof(T) == 8) {
        return TextLength(static_cast<std::int64_t>(value));
    } else {
        return TextLength(static_cast<std::int32_t>(value));
    }
}

constexpr std::array kElementWords = {"assembly", "part",   "frame",  "wheel", "bolt",  "panel",
                                      "light",    "camera", "group",  "layer", "node",  "joint",
                                      "link",     "sensor", "mount",  "cover", "hinge", "shaft",
                                      "gear",     "plate",  "spring", "valve", "pipe",  "bracket"};
constexpr std::array kPropertyWords = {
    "mass",   "offset", "scale",   "label",  "tint",     "pose",   "origin",  "pivot",
    "normal", "weight", "enabled", "count",  "serial",   "ticks",  "gain",    "level",
    "bias",   "port",   "mask",    "spin",   "velocity", "anchor", "outline", "tags",
    "id",     "layer",  "speed",   "length", "width",    "height", "density", "friction"};
constexpr std::array kTextWords = {
    "steel", "painted", "left",  "right", "front",     "rear", "upper", "lower",  "inner",
    "outer", "brushed", "matte", "gloss", "aluminium", "oak",  "glass", "rubber", "red",
    "blue",  "spare",   "main",  "draft", "final",     "v2",   "test",  "north",  "south"};
// Text that makes the writer escape or that is not ASCII.
constexpr std::array kSpiceWords = {"Left & right", "<tag>",        "\"quoted\"",
                                    "caf\xC3\xA9",  "\xE2\x86\x92", "\xE6\x97\xA5\xE6\x9C\xAC",
                                    "a > b"};

class PropertyDocumentBuilder {
public:
    PropertyDocumentBuilder(std::uint64_t seed, GeneratedDocument& document)
        : random_(seed), document_(document) {}

    void Build(std::uint64_t target) {
        SerializedContentElement* top = document_.tree.get();
        std::uint64_t& bytes = document_.estimatedBytes;
        bytes = kDeclaration + kRoot;
        std::vector<SerializedContentElement*> path{top};
        int chain = 0;  // levels left of a deep chain being built
        while (bytes < target) {
            const int depth = static_cast<int>(path.size());
            SerializedContentElement* child = path.back()->StartContent(ElementName());
            ++document_.elements;
            // Every element gets at least one property, so it always has an end tag.
            bytes += 2 * LineStart(depth) + 27 + 2 * child->GetName().length();
            const int count = chain > 0 ? 1 : static_cast<int>(random_.Between(1, 12));
            for (int i = 0; i < count; ++i)
                bytes += AddProperty(child, depth + 1);
            // Now and then a chain of one element in another, a hundred levels or so deep.
            if (chain == 0 && depth == 2 && random_.Chance(0.002))
                chain = static_cast<int>(random_.Between(60, kMaxDepth - 4));
            if (chain > 0) {
                if (--chain > 0) {
                    path.push_back(child);
                    continue;
                }
                child->EndContent();
                while (path.size() > 2) {
                    path.back()->EndContent();
                    path.pop_back();
                }
                continue;
            }
            if (depth < 40 && random_.Chance(depth < 4 ? 0.45 : depth < 10 ? 0.3 : 0.15)) {
                path.push_back(child);
                continue;
            }
            child->EndContent();
            while (path.size() > 1 && random_.Chance(std::min(0.8, 0.2 + 0.04 * depth))) {
                path.back()->EndContent();
                path.pop_back();
            }
        }
        while (path.size() > 1) {
            path.back()->EndContent();
            path.pop_back();
        }
    }

private:
    Symbol ElementName() {
        const char* word = kElementWords[random_.Below(kElementWords.size())];
        std::string name = word;
        // A part number now and then. No colon before it: "kestrel_sc:bolt:M6" is a name the
        // reader takes, but namespace-aware XML tools refuse a name with two colons.
        if (random_.Chance(0.02)) {
            name += "-M" + std::to_string(random_.Between(3, 12)) + "x" +
                    std::to_string(random_.Between(10, 80));
        } else {
            name += "_" + std::to_string(random_.Below(200));
        }
        return Symbol(name);
    }

    Symbol PropertyName() {
        const char* word = kPropertyWords[random_.Below(kPropertyWords.size())];
        if (random_.Chance(0.5))
            return Symbol(word);
        return Symbol(std::string(word) + std::to_string(random_.Below(16)));
    }

    std::string Text() {
        std::string text;
        const int words = static_cast<int>(random_.Between(1, 6));
        for (int i = 0; i < words; ++i) {
            if (i != 0)
                text += ' ';
            text += random_.Chance(0.04) ? kSpiceWords[random_.Below(kSpiceWords.size())]
                                         : kTextWords[random_.Below(kTextWords.size())];
        }
        return text;
    }

    double Real() {
        switch (random_.Below(5)) {
            case 0:
                return static_cast<double>(random_.Between(-1000, 1000));
            case 1:
                return static_cast<double>(random_.Between(-4000, 4000)) / 8;
            case 2:
                return static_cast<double>(random_.Between(-100000, 100000)) / 100;
            default:
                return (random_.Unit() * 2 - 1) * std::pow(10.0, random_.Between(-3, 5));
        }
    }

    template <class T>
    T Integer() {
        if (random_.Chance(0.5))
            return static_cast<T>(random_.Below(1000));
        return static_cast<T>(random_.Next());
    }

    Quaternion<float> Rotation() {
        const double angle = random_.Unit() * 2 * std::numbers::pi;
        DVec3 axis{random_.Unit() - 0.5, random_.Unit() - 0.5, random_.Unit() - 0.5};
        const double norm = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z) + 1e-9;
        const double s = std::sin(angle / 2) / norm;
        return {static_cast<float>(axis.x * s), static_cast<float>(axis.y * s),
                static_cast<float>(axis.z * s), static_cast<float>(std::cos(angle / 2))};
    }

    template <class T>
    T Value() {
        if constexpr (std::is_same_v<T, bool>) {
            return random_.Chance(0.5);
        } else if constexpr (std::is_same_v<T, double>) {
            return Real();
        } else if constexpr (std::is_same_v<T, float>) {
            return static_cast<float>(Real());
        } else if constexpr (std::is_integral_v<T>) {
            return Integer<T>();
        } else if constexpr (std::is_same_v<T, Symbol>) {
            return Symbol(Text());
        } else if constexpr (std::is_same_v<T, Color>) {
            return Color(static_cast<unsigned>(random_.Next()));
        } else if constexpr (std::is_same_v<T, DPoint2D> || std::is_same_v<T, DVec2>) {
            return T{Real(), Real()};
        } else if constexpr (std::is_same_v<T, DPoint3D> || std::is_same_v<T, DVec3>) {
            return T{Real(), Real(), Real()};
        } else if constexpr (std::is_same_v<T, FPoint3D> || std::is_same_v<T, FVec3>) {
            return T{static_cast<float>(Real()), static_cast<float>(Real()),
                     static_cast<float>(Real())};
        } else if constexpr (std::is_same_v<T, Quaternion<float>>) {
            return Rotation();
        } else {
            static_assert(std::is_same_v<T, Location>);
            const Quaternion<float> q = Rotation();
            return Location{{Real(), Real(), Real()},
                            {q.x, q.y, q.z, q.w},
                            random_.Chance(0.7) ? 1.0 : random_.Unit() * 4};
        }
    }

    // Appends one property of the next type in turn, so that every type appears; gives the
    // bytes it adds.
    std::uint64_t AddProperty(SerializedContentElement* element, int depth) {
        ++document_.properties;
        const Symbol name = PropertyName();
        if (random_.Chance(0.15))
            return AddArray(element, depth, name, nextArray_++ % 7);
        std::uint64_t bytes = 0;
        auto single = [&]<class T>(const char* type) {
            T value = Value<T>();
            bytes = LineStart(depth) + kPropertyOpen + std::strlen(type) + kNameAttribute +
                    name.length();
            if constexpr (std::is_same_v<T, Symbol>) {
                bytes += 1 + 8 + EscapedLength(value.view(), true) + 1 + 2;
            } else {
                bytes += 2 + ValueLength(value) + kPropertyClose;
            }
            element->AddProperty(name, std::move(value));
        };
        switch (nextSingle_++ % 21) {
            case 0:
                single.operator()<bool>("bool");
                break;
            case 1:
                single.operator()<std::int8_t>("int8");
                break;
            case 2:
                single.operator()<std::uint8_t>("uint8");
                break;
            case 3:
                single.operator()<std::int16_t>("int16");
                break;
            case 4:
                single.operator()<std::uint16_t>("uint16");
                break;
            case 5:
                single.operator()<std::int32_t>("int32");
                break;
            case 6:
                single.operator()<std::uint32_t>("uint32");
                break;
            case 7:
                single.operator()<std::int64_t>("int64");
                break;
            case 8:
                single.operator()<std::uint64_t>("uint64");
                break;
            case 9:
                single.operator()<float>("float");
                break;
            case 10:
                single.operator()<double>("double");
                break;
            case 11:
                single.operator()<Symbol>("string");
                break;
            case 12:
                single.operator()<Color>("color");
                break;
            case 13:
                single.operator()<Location>("location");
                break;
            case 14:
                single.operator()<Quaternion<float>>("quat");
                break;
            case 15:
                single.operator()<DVec2>("dvec2");
                break;
            case 16:
                single.operator()<DVec3>("dvec3");
                break;
            case 17:
                single.operator()<FVec3>("fvec3");
                break;
            case 18:
                single.operator()<DPoint2D>("dpoint2d");
                break;
            case 19:
                single.operator()<DPoint3D>("dpoint3d");
                break;
            default:
                single.operator()<FPoint3D>("fpoint3d");
                break;
        }
        return bytes;
    }

    std::uint64_t AddArray(SerializedContentElement* element, int depth, const Symbol& name,
                           unsigned which) {
        const double size = random_.Unit();
        const std::size_t count =
            static_cast<std::size_t>(size < 0.9    ? random_.Between(1, 8)
                                     : size < 0.98 ? random_.Between(9, 64)
                                                   : random_.Between(65, 256));
        std::uint64_t bytes = 0;
        auto array = [&]<class T>(const char* type) {
            std::vector<T> values;
            values.reserve(count);
            bytes = LineStart(depth) + 26 + 7 + std::strlen(type) + kNameAttribute + name.length() +
                    1 + 8 + TextLength(count) + 2 + LineStart(depth) + 28;
            for (std::size_t i = 0; i < count; ++i) {
                T value = Value<T>();
                bytes += LineStart(depth + 1) + 21 + ValueLength(value) + kPropertyClose;
                values.push_back(std::move(value));
            }
            element->AddProperty(name, std::move(values));
        };
        switch (which) {
            case 0:
                array.operator()<Symbol>("string");
                break;
            case 1:
                array.operator()<bool>("bool");
                break;
            case 2:
                array.operator()<std::uint32_t>("uint32");
                break;
            case 3:
                array.operator()<double>("double");
                break;
            case 4:
                array.operator()<float>("float");
                break;
            case 5:
                array.operator()<Color>("color");
                break;
            default:
                array.operator()<DPoint2D>("dpoint2d");
                break;
        }
        return bytes;
    }

    SplitMix64 random_;
    GeneratedDocument& document_;
    unsigned nextSingle_ = 0;
    unsigned nextArray_ = 0;
};

// The few properties every model or texture element carries besides its payload; gives bytes.
std::uint64_t AddDescription(SerializedContentElement* element, int depth, SplitMix64& random,
                             int index) {
    const std::string label = std::string("item ") + std::to_string(index);
    element->AddProperty("label", Symbol(label));
    const Color tint(static_cast<unsigned>(random.Next()));
    element->AddProperty("tint", tint);
    const Location pose{{static_cast<double>(index), 0, 0}, {0, 0, 0, 1}, 1};
    element->AddProperty("pose", pose);
    return LineStart(depth) + kPropertyOpen + 6 + kNameAttribute + 5 + 1 + 8 + label.size() + 3 +
           LineStart(depth) + kPropertyOpen + 5 + kNameAttribute + 4 + 2 + 9 + kPropertyClose +
           LineStart(depth) + kPropertyOpen + 8 + kNameAttribute + 4 + 2 + ValueLength(pose) +
           kPropertyClose;
}

// Bytes of an element at depth with children, without them.
std::uint64_t ElementBytes(int depth, std::size_t nameLength) {
    return 2 * LineStart(depth) + 27 + 2 * nameLength;
}

// A document of a few large payloads splits its bytes in shares of 4, 3, 2 and 1 tenths; the
// rest of the document (names, descriptions) is guessed at 300 bytes a payload.
constexpr std::array<double, 4> kPayloadShares = {0.4, 0.3, 0.2, 0.1};
constexpr std::uint64_t kPayloadFrame = 300;

std::uint64_t PayloadBytes(std::uint64_t target, std::uint64_t fixed) {
    const std::uint64_t frame = fixed + kPayloadShares.size() * kPayloadFrame;
    return target > frame ? target - frame : 0;
}

void BuildMeshDocument(std::uint64_t target, std::uint64_t seed, GeneratedDocument& document) {
    SplitMix64 random(seed);
    std::uint64_t& bytes = document.estimatedBytes;
    bytes = kDeclaration + kRoot + ElementBytes(1, 6);
    const std::uint64_t payload = PayloadBytes(target, bytes);
    SerializedContentElement* models = document.tree->StartContent("models");
    ++document.elements;
    for (std::size_t i = 0; i < kPayloadShares.size(); ++i) {
        // Payload text: 16 bytes a vertex and 16 bytes a triangle, two triangles a vertex.
        const std::uint64_t vertices = std::max<std::uint64_t>(
            9, static_cast<std::uint64_t>(static_cast<double>(payload) * kPayloadShares[i] / 48));
        const std::uint32_t rings = static_cast<std::uint32_t>(
            std::max<double>(3, std::round(std::sqrt(static_cast<double>(vertices) / 2))));
        const std::uint32_t around =
            static_cast<std::uint32_t>(std::max<std::uint64_t>(3, vertices / rings));
        const std::uint64_t vertexCount = std::uint64_t{rings} * around;
        // A torus of rings x around vertices, shaken a little.
        std::vector<float> positions(3 * vertexCount);
        const double major = 1.0 + static_cast<double>(i);
        const double minor = 0.25 + 0.05 * static_cast<double>(i);
        for (std::uint32_t r = 0; r < rings; ++r) {
            const double u = 2 * std::numbers::pi * r / rings;
            for (std::uint32_t a = 0; a < around; ++a) {
                const double v = 2 * std::numbers::pi * a / around;
                const double wobble = 1 + 0.02 * (random.Unit() - 0.5);
                const double radius = major + minor * wobble * std::cos(v);
                float* p = &positions[3 * (std::uint64_t{r} * around + a)];
                p[0] = static_cast<float>(radius * std::cos(u));
                p[1] = static_cast<float>(radius * std::sin(u));
                p[2] = static_cast<float>(minor * wobble * std::sin(v));
            }
        }
        std::vector<std::uint32_t> indices;
        indices.reserve(6 * vertexCount);
        for (std::uint32_t r = 0; r < rings; ++r) {
            const std::uint32_t next = (r + 1) % rings;
            for (std::uint32_t a = 0; a < around; ++a) {
                const std::uint32_t after = (a + 1) % around;
                const std::uint32_t p00 = r * around + a, p10 = next * around + a;
                const std::uint32_t p11 = next * around + after, p01 = r * around + after;
                indices.insert(indices.end(), {p00, p10, p11, p00, p11, p01});
            }
        }
        const std::uint64_t triangleCount = indices.size() / 3;
        SmartPtr<Shape> shape = MakeMeshShape(positions, indices);
        if (!shape)
            throw std::bad_alloc();
        positions = {};
        indices = {};
        const std::string name = "model_" + std::to_string(i);
        SerializedContentElement* model = models->StartContent(Symbol(name));
        ++document.elements;
        bytes += ElementBytes(2, name.size());
        bytes += AddDescription(model, 3, random, static_cast<int>(i));
        model->AddProperty("mesh", std::move(shape));
        model->EndContent();
        document.properties += 4;
        document.triangles += triangleCount;
        // <kestrel_sc:property type="shape" name="mesh">, <vertices count="N" vertices="base64">
        // and <triangles count="N" triangles="base64"> with their payloads and end tags.
        bytes += 2 * LineStart(3) + kPropertyOpen + 5 + kNameAttribute + 4 + 2 + kPropertyClose;
        bytes +=
            LineStart(4) + 17 + TextLength(vertexCount) + 20 + Base64Length(12 * vertexCount) + 11;
        bytes += LineStart(4) + 18 + TextLength(triangleCount) + 21 +
                 Base64Length(12 * triangleCount) + 12;
    }
    models->EndContent();
}

void BuildImageDocument(std::uint64_t target, std::uint64_t seed, GeneratedDocument& document) {
    SplitMix64 random(seed);
    std::uint64_t& bytes = document.estimatedBytes;
    bytes = kDeclaration + kRoot + ElementBytes(1, 9);
    const std::uint64_t payload = PayloadBytes(target, bytes);
    SerializedContentElement* materials = document.tree->StartContent("materials");
    ++document.elements;
    for (std::size_t i = 0; i < kPayloadShares.size(); ++i) {
        // Even ones RGBA (a 122-byte BMP header), odd ones RGB (54 bytes, rows padded to 4).
        const PixelFormat format = i % 2 == 0 ? PixelFormat::RGBA8 : PixelFormat::RGB8;
        const double fileBytes = static_cast<double>(payload) * kPayloadShares[i] * 3 / 4;
        const std::uint64_t header = format == PixelFormat::RGBA8 ? 122 : 54;
        const double pixels = std::clamp(
            (fileBytes - static_cast<double>(header)) / static_cast<double>(BytesPerPixel(format)),
            1.0, static_cast<double>(1u << 28));
        const std::uint32_t width = static_cast<std::uint32_t>(
            std::clamp(std::round(std::sqrt(pixels * 4 / 3)), 1.0, 65535.0));
        const std::uint32_t height =
            static_cast<std::uint32_t>(std::clamp(std::round(pixels / width), 1.0, 65535.0));
        SmartPtr<Image> image(new Image(width, height, format));
        const std::size_t rowBytes = image->GetRowBytes();
        for (std::uint32_t y = 0; y < height; ++y) {
            std::uint8_t* row = image->GetPixels() + std::size_t{y} * rowBytes;
            for (std::size_t x = 0; x < rowBytes; x += 8) {
                std::uint64_t noise = random.Next();
                for (std::size_t k = x; k < std::min(rowBytes, x + 8); ++k, noise >>= 8)
                    row[k] = static_cast<std::uint8_t>((k >> 3) + (y >> 1) + (noise & 0x1F));
            }
        }
        const std::uint64_t paddedRow =
            (std::uint64_t{width} * BytesPerPixel(format) + 3) & ~std::uint64_t{3};
        const std::string name = "texture_" + std::to_string(i);
        SerializedContentElement* texture = materials->StartContent(Symbol(name));
        ++document.elements;
        bytes += ElementBytes(2, name.size());
        bytes += AddDescription(texture, 3, random, static_cast<int>(i));
        texture->AddProperty("image", std::move(image));
        texture->EndContent();
        document.properties += 4;
        document.pixels += std::uint64_t{width} * height;
        // <kestrel_sc:property type="image" name="image" format="bmp">, the BMP file, end tag.
        bytes += LineStart(3) + kPropertyOpen + 5 + kNameAttribute + 5 + 15 +
                 Base64Length(header + paddedRow * height) + kPropertyClose;
    }
    materials->EndContent();
}

}  // namespace

const char* KindName(DocumentKind kind) noexcept {
    switch (kind) {
        case DocumentKind::Property:
            return "property";
        case DocumentKind::Mesh:
            return "mesh";
        case DocumentKind::Image:
            return "image";
    }
    return "?";
}

std::optional<DocumentKind> ParseKind(std::string_view name) noexcept {
    for (DocumentKind kind : {DocumentKind::Property, DocumentKind::Mesh, DocumentKind::Image}) {
        if (name == KindName(kind))
            return kind;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> ParseSize(std::string_view text) noexcept {
    double number = 0;
    const char* end = text.data() + text.size();
    auto [rest, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || !(number > 0))
        return std::nullopt;
    std::string unit(rest, end);
    for (char& c : unit)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!unit.empty() && unit.back() == 'b')
        unit.pop_back();
    double scale = 1;
    if (unit == "k") {
        scale = 1e3;
    } else if (unit == "m") {
        scale = 1e6;
    } else if (unit == "g") {
        scale = 1e9;
    } else if (unit == "ki") {
        scale = 1024.0;
    } else if (unit == "mi") {
        scale = 1024.0 * 1024;
    } else if (unit == "gi") {
        scale = 1024.0 * 1024 * 1024;
    } else if (!unit.empty()) {
        return std::nullopt;
    }
    const double bytes = std::round(number * scale);
    if (bytes < 1 || bytes > 1e15)
        return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

GeneratedDocument GenerateDocument(DocumentKind kind, std::uint64_t targetBytes,
                                   std::uint64_t seed) {
    GeneratedDocument document;
    document.tree =
        SmartPtr<SerializedContentElement>(SerializedContentElement::CreateTopElement("figure"));
    // Each kind draws from its own sequence, so that one seed gives unrelated documents.
    const std::uint64_t kindSeed = seed * 3 + static_cast<std::uint64_t>(kind);
    switch (kind) {
        case DocumentKind::Property:
            PropertyDocumentBuilder(kindSeed, document).Build(targetBytes);
            break;
        case DocumentKind::Mesh:
            BuildMeshDocument(targetBytes, kindSeed, document);
            break;
        case DocumentKind::Image:
            BuildImageDocument(targetBytes, kindSeed, document);
            break;
    }
    return document;
}

}  // namespace kestrelbench
