#include "kestrel/meshes/MeshFiles.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <type_traits>
#include <vector>

#include "MakeError.h"
#include "geometry/PolyForm.h"
#include "geometry/ShapeVisitor.h"
#include "kestrel/files/AtomicFile.h"
#include "kestrel/files/FilePath.h"

namespace kestrel::meshes {
namespace {

namespace fs = std::filesystem;

// ---- numbers ----

template <std::size_t Size>
using UnsignedOfSize = std::conditional_t<
    Size == 1, std::uint8_t,
    std::conditional_t<Size == 2, std::uint16_t,
                       std::conditional_t<Size == 4, std::uint32_t, std::uint64_t>>>;

// Byte order by shifts, so the host's own order never matters.
template <class T>
T Load(const unsigned char* bytes, bool bigEndian) {
    using Bits = UnsignedOfSize<sizeof(T)>;
    Bits bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bits = static_cast<Bits>((bits << 8) | bytes[bigEndian ? i : sizeof(T) - 1 - i]);
    return std::bit_cast<T>(bits);
}

template <class T>
void StoreLittle(unsigned char* bytes, T value) {
    auto bits = std::bit_cast<UnsignedOfSize<sizeof(T)>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// from_chars, plus the leading '+' that text files may carry and from_chars refuses.
template <class T>
bool ParseNumber(std::string_view token, T& value) {
    if (token.size() > 1 && token.front() == '+' && token[1] != '-')
        token.remove_prefix(1);
    const char* end = token.data() + token.size();
    const auto [stop, code] = std::from_chars(token.data(), end, value);
    return code == std::errc() && stop == end;
}

// A double beyond float's range would be undefined to convert; NaN and infinities pass as they are.
template <class T>
bool ToFloat(T value, float& out) {
    if constexpr (std::is_same_v<T, double>) {
        if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
            return false;
    }
    out = static_cast<float>(value);
    return true;
}

template <class T>
bool ToIndex(T value, std::uint64_t& out) {
    if constexpr (!std::is_integral_v<T>) {
        return false;
    } else {
        if constexpr (std::is_signed_v<T>) {
            if (value < 0)
                return false;
        }
        out = static_cast<std::uint64_t>(value);
        return true;
    }
}

// ---- PLY ----

// A PLY scalar type: its names, its size in binary bodies and how its values become
// coordinates and indices in either encoding. Every conversion is false when the value does not
// fit; the integer ones also for negative values and for float types.
struct ScalarType {
    std::string_view name;
    std::string_view alias;
    std::size_t size;
    bool integer;
    bool (*binaryFloat)(const unsigned char* bytes, bool bigEndian, float& out);
    bool (*binaryIndex)(const unsigned char* bytes, bool bigEndian, std::uint64_t& out);
    bool (*textFloat)(std::string_view token, float& out);
    bool (*textIndex)(std::string_view token, std::uint64_t& out);
};

template <class T>
constexpr ScalarType DescribeScalar(std::string_view name, std::string_view alias) {
    return {name,
            alias,
            sizeof(T),
            std::is_integral_v<T>,
            [](const unsigned char* bytes, bool bigEndian, float& out) {
                return ToFloat(Load<T>(bytes, bigEndian), out);
            },
            [](const unsigned char* bytes, bool bigEndian, std::uint64_t& out) {
                return ToIndex(Load<T>(bytes, bigEndian), out);
            },
            [](std::string_view token, float& out) {
                T value{};
                return ParseNumber(token, value) && ToFloat(value, out);
            },
            [](std::string_view token, std::uint64_t& out) {
                T value{};
                return ParseNumber(token, value) && ToIndex(value, out);
            }};
}

constexpr ScalarType kScalarTypes[] = {
    DescribeScalar<std::int8_t>("char", "int8"),
    DescribeScalar<std::uint8_t>("uchar", "uint8"),
    DescribeScalar<std::int16_t>("short", "int16"),
    DescribeScalar<std::uint16_t>("ushort", "uint16"),
    DescribeScalar<std::int32_t>("int", "int32"),
    DescribeScalar<std::uint32_t>("uint", "uint32"),
    DescribeScalar<float>("float", "float32"),
    DescribeScalar<double>("double", "float64"),
};

const ScalarType* FindScalarType(std::string_view name) {
    for (const ScalarType& type : kScalarTypes) {
        if (name == type.name || name == type.alias)
            return &type;
    }
    return nullptr;
}

enum class Encoding { Ascii, LittleEndian, BigEndian };

struct PlyProperty {
    std::string name;
    const ScalarType* type = nullptr;       // of the items, for a list
    const ScalarType* countType = nullptr;  // null for a scalar
};

struct PlyElement {
    std::string name;
    std::uint64_t count = 0;
    std::vector<PlyProperty> properties;
};

struct PlyHeader {
    Encoding encoding = Encoding::Ascii;
    std::vector<PlyElement> elements;
    std::size_t bodyOffset = 0;
};

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (true) {
        at = text.find_first_not_of(" \t\r\f\v", at);
        if (at == std::string_view::npos)
            return words;
        const std::size_t end = std::min(text.find_first_of(" \t\r\f\v", at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
}

bool ParsePlyHeader(std::string_view content, PlyHeader& header, Error& error) {
    bool haveFormat = false;
    std::size_t at = 0;
    for (std::size_t lineNumber = 1;; ++lineNumber) {
        const std::size_t end = content.find('\n', at);
        if (end == std::string_view::npos) {
            error.message = "the header has no end_header line";
            return false;
        }
        const std::string_view line = content.substr(at, end - at);
        at = end + 1;
        const std::vector<std::string_view> words = SplitWords(line);
        auto fail = [&](const std::string& message) {
            error.line = static_cast<std::uint32_t>(lineNumber);
            error.message = message;
            return false;
        };
        if (lineNumber == 1)
            continue;  // "ply", checked by the caller
        if (words.empty())
            return fail("empty line");
        const std::string_view keyword = words[0];
        if (keyword == "comment" || keyword == "obj_info")
            continue;
        if (keyword == "end_header") {
            if (!haveFormat)
                return fail("end_header before any format line");
            header.bodyOffset = at;
            return true;
        }
        if (keyword == "format") {
            if (words.size() != 3 || words[2] != "1.0")
                return fail("expected 'format <encoding> 1.0'");
            if (words[1] == "ascii")
                header.encoding = Encoding::Ascii;
            else if (words[1] == "binary_little_endian")
                header.encoding = Encoding::LittleEndian;
            else if (words[1] == "binary_big_endian")
                header.encoding = Encoding::BigEndian;
            else
                return fail("unknown encoding '" + std::string(words[1]) + "'");
            haveFormat = true;
        } else if (keyword == "element") {
            PlyElement element;
            if (words.size() != 3 || !ParseNumber(words[2], element.count))
                return fail("expected 'element <name> <count>'");
            element.name = words[1];
            header.elements.push_back(std::move(element));
        } else if (keyword == "property") {
            if (header.elements.empty())
                return fail("property before any element");
            PlyProperty property;
            const bool list = words.size() == 5 && words[1] == "list";
            if (!list && words.size() != 3)
                return fail(
                    "expected 'property <type> <name>' or 'property list <count type> "
                    "<item type> <name>'");
            if (list) {
                property.countType = FindScalarType(words[2]);
                if (!property.countType || !property.countType->integer)
                    return fail("list count type '" + std::string(words[2]) +
                                "' is not an integer type");
            }
            const std::string_view typeName = words[words.size() - 2];
            property.type = FindScalarType(typeName);
            if (!property.type)
                return fail("unknown type '" + std::string(typeName) + "'");
            property.name = words.back();
            header.elements.back().properties.push_back(std::move(property));
        } else {
            return fail("unknown keyword '" + std::string(keyword) + "'");
        }
    }
}

// Reads the values of a PLY body one at a time. A false return is either the end of the body
// (Truncated()) or a value that does not fit what it is read as.
class PlyBodyReader {
public:
    PlyBodyReader(std::string_view body, Encoding encoding) : body_(body), encoding_(encoding) {}

    bool Float(const ScalarType& type, float& out) {
        if (encoding_ == Encoding::Ascii) {
            const std::string_view token = NextToken();
            return !token.empty() && type.textFloat(token, out);
        }
        const unsigned char* bytes = NextBytes(type.size);
        return bytes && type.binaryFloat(bytes, encoding_ == Encoding::BigEndian, out);
    }

    bool Index(const ScalarType& type, std::uint64_t& out) {
        if (encoding_ == Encoding::Ascii) {
            const std::string_view token = NextToken();
            return !token.empty() && type.textIndex(token, out);
        }
        const unsigned char* bytes = NextBytes(type.size);
        return bytes && type.binaryIndex(bytes, encoding_ == Encoding::BigEndian, out);
    }

    bool Skip(const ScalarType& type) {
        if (encoding_ == Encoding::Ascii)
            return !NextToken().empty();
        return NextBytes(type.size) != nullptr;
    }

    // Whether count values of type could still be in the body: a byte each at least, and a
    // separator, in text.
    bool CouldHold(std::uint64_t count, const ScalarType& type) const {
        const std::uint64_t left = body_.size() - at_;
        return encoding_ == Encoding::Ascii ? count <= left / 2 + 1 : count <= left / type.size;
    }

    bool Truncated() const { return truncated_; }

private:
    std::string_view NextToken() {
        at_ = std::min(body_.find_first_not_of(" \t\r\n\f\v", at_), body_.size());
        const std::size_t end = std::min(body_.find_first_of(" \t\r\n\f\v", at_), body_.size());
        const std::string_view token = body_.substr(at_, end - at_);
        truncated_ = token.empty();
        at_ = end;
        return token;
    }

    const unsigned char* NextBytes(std::size_t size) {
        if (body_.size() - at_ < size) {
            truncated_ = true;
            return nullptr;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(body_.data() + at_);
        at_ += size;
        return bytes;
    }

    std::string_view body_;
    Encoding encoding_;
    std::size_t at_ = 0;
    bool truncated_ = false;
};

// The fewest body bytes one instance of element takes: a byte and a separator per value in
// text, the scalar sizes (and list counts, with no items) in binary.
std::uint64_t SmallestInstanceBytes(const PlyElement& element, Encoding encoding) {
    std::uint64_t bytes = 0;
    for (const PlyProperty& property : element.properties) {
        const ScalarType& first = property.countType ? *property.countType : *property.type;
        bytes += encoding == Encoding::Ascii ? 2 : first.size;
    }
    return bytes;
}

bool ReadPly(std::string_view content, MeshData& mesh, Error& error) {
    PlyHeader header;
    if (!ParsePlyHeader(content, header, error))
        return false;
    const std::string_view body = content.substr(header.bodyOffset);

    // What each property is for: a coordinate (0-2), the face list (3) or nothing (-1).
    constexpr int kSkip = -1, kFaceList = 3;
    std::vector<std::vector<int>> roles;
    const PlyElement* vertexElement = nullptr;
    const PlyElement* faceElement = nullptr;
    const PlyProperty* faceList = nullptr;
    for (const PlyElement& element : header.elements) {
        std::vector<int>& role = roles.emplace_back(element.properties.size(), kSkip);
        const bool isVertex = element.name == "vertex" && !vertexElement;
        const bool isFace = element.name == "face" && !faceElement;
        for (std::size_t p = 0; p < element.properties.size(); ++p) {
            const PlyProperty& property = element.properties[p];
            if (isVertex && property.name.size() == 1 && property.name[0] >= 'x' &&
                property.name[0] <= 'z') {
                const int axis = property.name[0] - 'x';
                if (property.countType) {
                    error.message = "vertex property " + property.name + " is a list";
                    return false;
                }
                if (std::find(role.begin(), role.end(), axis) == role.end())
                    role[p] = axis;
            } else if (isFace && !faceList &&
                       (property.name == "vertex_indices" || property.name == "vertex_index")) {
                if (!property.countType || !property.type->integer) {
                    error.message = "face property " + property.name + " is not a list of integers";
                    return false;
                }
                faceList = &property;
                role[p] = kFaceList;
            }
        }
        if (isVertex) {
            vertexElement = &element;
            for (int axis = 0; axis < 3; ++axis) {
                if (std::find(role.begin(), role.end(), axis) == role.end()) {
                    error.message = std::string("the vertex element has no property ") +
                                    static_cast<char>('x' + axis);
                    return false;
                }
            }
        }
        if (isFace)
            faceElement = &element;
    }
    if (!vertexElement) {
        error.message = "no vertex element";
        return false;
    }
    if (faceElement && faceElement->count > 0 && !faceList) {
        error.message = "the face element has no vertex_indices list";
        return false;
    }
    const std::uint64_t vertexCount = vertexElement->count;
    if (vertexCount > kMaxMeshElements) {
        error.message = std::to_string(vertexCount) + " vertices, more than " +
                        std::to_string(kMaxMeshElements);
        return false;
    }
    // Refuse counts the file cannot hold before allocating anything for them.
    std::uint64_t room = body.size() + (header.encoding == Encoding::Ascii ? 1 : 0);
    for (const PlyElement& element : header.elements) {
        const std::uint64_t each = SmallestInstanceBytes(element, header.encoding);
        if (each != 0 && element.count > room / each) {
            error.message = "element " + element.name + " declares " +
                            std::to_string(element.count) + " entries, more than the file's " +
                            std::to_string(body.size()) + " body bytes can hold";
            return false;
        }
        room -= element.count * each;
    }

    MeshData result;
    result.positions.reserve(static_cast<std::size_t>(vertexCount) * 3);
    PlyBodyReader reader(body, header.encoding);
    std::vector<std::uint32_t> polygon;
    for (std::size_t e = 0; e < header.elements.size(); ++e) {
        const PlyElement& element = header.elements[e];
        if (element.properties.empty())
            continue;
        for (std::uint64_t i = 0; i < element.count; ++i) {
            auto fail = [&](const std::string& what) {
                error.message =
                    reader.Truncated()
                        ? "the file ends inside " + element.name + " " + std::to_string(i)
                        : element.name + " " + std::to_string(i) + ": " + what;
                return false;
            };
            float xyz[3] = {0, 0, 0};
            for (std::size_t p = 0; p < element.properties.size(); ++p) {
                const PlyProperty& property = element.properties[p];
                const int role = roles[e][p];
                if (!property.countType) {
                    const bool ok = role == kSkip ? reader.Skip(*property.type)
                                                  : reader.Float(*property.type, xyz[role]);
                    if (!ok)
                        return fail(property.name + " is not a " +
                                    std::string(property.type->name) + " that fits a float");
                    continue;
                }
                std::uint64_t items = 0;
                if (!reader.Index(*property.countType, items))
                    return fail(property.name + " has a bad list count");
                if (!reader.CouldHold(items, *property.type)) {
                    return fail(property.name + " declares " + std::to_string(items) +
                                " items, more than the rest of the file holds");
                }
                if (role != kFaceList) {
                    for (std::uint64_t k = 0; k < items; ++k) {
                        if (!reader.Skip(*property.type))
                            return fail(property.name + " is cut short");
                    }
                    continue;
                }
                if (items < 3)
                    return fail("a face of " + std::to_string(items) + " vertices");
                polygon.clear();
                for (std::uint64_t k = 0; k < items; ++k) {
                    std::uint64_t index = 0;
                    if (!reader.Index(*property.type, index))
                        return fail("a vertex index that is negative or not a " +
                                    std::string(property.type->name));
                    if (index >= vertexCount)
                        return fail("vertex index " + std::to_string(index) + " out of range (" +
                                    std::to_string(vertexCount) + " vertices)");
                    polygon.push_back(static_cast<std::uint32_t>(index));
                }
                if (result.indices.size() / 3 + (items - 2) > kMaxMeshElements)
                    return fail("more than " + std::to_string(kMaxMeshElements) + " triangles");
                for (std::size_t k = 2; k < polygon.size(); ++k)
                    result.indices.insert(result.indices.end(),
                                          {polygon[0], polygon[k - 1], polygon[k]});
            }
            if (&element == vertexElement)
                result.positions.insert(result.positions.end(), xyz, xyz + 3);
        }
    }
    mesh = std::move(result);
    return true;
}

// ---- OBJ ----

// OBJ statements that carry nothing for a triangle mesh; any other unknown word is an error, so
// a damaged or foreign file is not taken for an empty mesh.
bool IsIgnoredObjStatement(std::string_view keyword) {
    static constexpr std::string_view kIgnored[] = {
        "vt",        "vn",     "vp",     "l",      "p",        "o",        "g",    "s",
        "mg",        "usemtl", "mtllib", "usemap", "maplib",   "cstype",   "deg",  "bmat",
        "step",      "curv",   "curv2",  "surf",   "parm",     "trim",     "hole", "scrv",
        "sp",        "end",    "con",    "bevel",  "c_interp", "d_interp", "lod",  "shadow_obj",
        "trace_obj", "ctech",  "stech",  "call",   "csh"};
    return std::find(std::begin(kIgnored), std::end(kIgnored), keyword) != std::end(kIgnored);
}

// "a", "a/b", "a//c" or "a/b/c", each part an integer (the vertex one not 0); only a counts.
bool ParseFaceCorner(std::string_view corner, std::int64_t& vertex) {
    const std::size_t slash = corner.find('/');
    if (!ParseNumber(corner.substr(0, slash), vertex) || vertex == 0)
        return false;
    if (slash == std::string_view::npos)
        return true;
    std::string_view rest = corner.substr(slash + 1);
    for (int part = 0; part < 2; ++part) {
        const std::size_t next = rest.find('/');
        const std::string_view text = rest.substr(0, next);
        std::int64_t ignored = 0;
        if (!text.empty() && !ParseNumber(text, ignored))
            return false;
        if (next == std::string_view::npos)
            return true;
        rest = rest.substr(next + 1);
    }
    return false;
}

bool ReadObj(std::string_view text, MeshData& mesh, Error& error) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);  // a UTF-8 byte order mark some Windows editors add
    MeshData result;
    std::uint64_t vertexCount = 0;
    // Positive indices may point ahead of the vertices read so far; they are checked at the end.
    std::int64_t largestIndex = 0;
    std::size_t largestIndexLine = 0;
    std::vector<std::uint32_t> polygon;
    std::size_t at = 0;
    for (std::size_t lineNumber = 1; at < text.size(); ++lineNumber) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        auto fail = [&](const std::string& message) {
            error.line = static_cast<std::uint32_t>(lineNumber);
            error.message = message;
            return false;
        };
        if (std::any_of(line.begin(), line.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 && !std::isspace(c);
            }))
            return fail("binary data; neither OBJ text nor a PLY file");
        line = line.substr(0, line.find('#'));
        const std::vector<std::string_view> words = SplitWords(line);
        if (words.empty())
            continue;
        if (words[0] == "v") {
            if (words.size() < 4)
                return fail("a vertex needs x, y and z");
            float xyz[3];
            for (std::size_t k = 1; k < words.size(); ++k) {
                float value = 0;
                if (!ParseNumber(words[k], value))
                    return fail("bad number '" + std::string(words[k]) + "'");
                if (k <= 3)
                    xyz[k - 1] = value;
            }
            if (++vertexCount > kMaxMeshElements)
                return fail("more than " + std::to_string(kMaxMeshElements) + " vertices");
            result.positions.insert(result.positions.end(), xyz, xyz + 3);
        } else if (words[0] == "f") {
            if (words.size() < 4)
                return fail("a face needs at least 3 vertices");
            polygon.clear();
            for (std::size_t k = 1; k < words.size(); ++k) {
                std::int64_t index = 0;
                if (!ParseFaceCorner(words[k], index))
                    return fail("bad face vertex '" + std::string(words[k]) + "'");
                if (index < 0) {
                    const std::uint64_t back = 0 - static_cast<std::uint64_t>(index);
                    if (back > vertexCount)
                        return fail("relative index " + std::to_string(index) +
                                    " reaches before "
                                    "the first vertex (" +
                                    std::to_string(vertexCount) + " so far)");
                    polygon.push_back(static_cast<std::uint32_t>(vertexCount - back));
                } else {
                    if (index > largestIndex) {
                        largestIndex = index;
                        largestIndexLine = lineNumber;
                    }
                    polygon.push_back(static_cast<std::uint32_t>(index - 1));
                }
            }
            if (result.indices.size() / 3 + (polygon.size() - 2) > kMaxMeshElements)
                return fail("more than " + std::to_string(kMaxMeshElements) + " triangles");
            for (std::size_t k = 2; k < polygon.size(); ++k)
                result.indices.insert(result.indices.end(),
                                      {polygon[0], polygon[k - 1], polygon[k]});
        } else if (!IsIgnoredObjStatement(words[0])) {
            return fail("'" + std::string(words[0]) + "' is not an OBJ statement");
        }
    }
    if (static_cast<std::uint64_t>(largestIndex) > vertexCount) {
        error.line = static_cast<std::uint32_t>(largestIndexLine);
        error.message = "vertex index " + std::to_string(largestIndex) + " out of range (" +
                        std::to_string(vertexCount) + " vertices)";
        return false;
    }
    mesh = std::move(result);
    return true;
}

// ---- writing ----

bool CheckMesh(const MeshData& mesh, MeshFormat format, Error& error) {
    if (mesh.positions.size() % 3 != 0 || mesh.indices.size() % 3 != 0) {
        error.message = "positions and indices must come in threes";
        return false;
    }
    const std::uint64_t vertexCount = mesh.positions.size() / 3;
    if (vertexCount > kMaxMeshElements || mesh.indices.size() / 3 > kMaxMeshElements) {
        error.message = "more than " + std::to_string(kMaxMeshElements) + " vertices or triangles";
        return false;
    }
    for (std::size_t i = 0; i < mesh.indices.size(); ++i) {
        if (mesh.indices[i] >= vertexCount) {
            error.message = "triangle " + std::to_string(i / 3) + " has vertex index " +
                            std::to_string(mesh.indices[i]) + " out of range (" +
                            std::to_string(vertexCount) + " vertices)";
            return false;
        }
    }
    if (format == MeshFormat::Obj) {
        for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
            if (!std::isfinite(mesh.positions[i])) {
                error.message = "vertex " + std::to_string(i / 3) +
                                " is not finite, which OBJ cannot carry (PLY can)";
                return false;
            }
        }
    }
    return true;
}

void WriteObj(const MeshData& mesh, FILE* file) {
    std::fprintf(file, "# kestrel-sc mesh: %zu vertices, %zu triangles\n",
                 mesh.positions.size() / 3, mesh.indices.size() / 3);
    char line[128];
    auto emit = [&](char keyword, auto a, auto b, auto c) {
        char* out = line;
        *out++ = keyword;
        for (auto value : {a, b, c}) {
            *out++ = ' ';
            out = std::to_chars(out, line + sizeof(line), value).ptr;
        }
        *out++ = '\n';
        std::fwrite(line, 1, static_cast<std::size_t>(out - line), file);
    };
    const std::vector<float>& p = mesh.positions;
    for (std::size_t i = 0; i < p.size(); i += 3)
        emit('v', p[i], p[i + 1], p[i + 2]);
    const std::vector<std::uint32_t>& t = mesh.indices;
    for (std::size_t i = 0; i < t.size(); i += 3)
        emit('f', std::uint64_t{t[i]} + 1, std::uint64_t{t[i + 1]} + 1,
             std::uint64_t{t[i + 2]} + 1);
}

void WritePly(const MeshData& mesh, FILE* file) {
    std::fprintf(file,
                 "ply\n"
                 "format binary_little_endian 1.0\n"
                 "comment kestrel-sc mesh\n"
                 "element vertex %zu\n"
                 "property float x\n"
                 "property float y\n"
                 "property float z\n"
                 "element face %zu\n"
                 "property list uchar uint vertex_indices\n"
                 "end_header\n",
                 mesh.positions.size() / 3, mesh.indices.size() / 3);
    unsigned char record[13];
    for (std::size_t i = 0; i < mesh.positions.size(); i += 3) {
        for (std::size_t k = 0; k < 3; ++k)
            StoreLittle(record + 4 * k, mesh.positions[i + k]);
        std::fwrite(record, 1, 12, file);
    }
    record[0] = 3;
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3) {
        for (std::size_t k = 0; k < 3; ++k)
            StoreLittle(record + 1 + 4 * k, mesh.indices[i + k]);
        std::fwrite(record, 1, 13, file);
    }
}

}  // namespace

std::optional<MeshFormat> FormatFromPath(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".obj")
        return MeshFormat::Obj;
    if (extension == ".ply")
        return MeshFormat::Ply;
    return std::nullopt;
}

Error WriteMeshFile(const MeshData& mesh, const std::string& path, MeshFormat format) {
    Error refused;
    if (!CheckMesh(mesh, format, refused))
        return MakeError(Error::NotSavable, std::move(refused.message), path);
    return files::WriteFileAtomically(path, [&](FILE* file) {
        format == MeshFormat::Obj ? WriteObj(mesh, file) : WritePly(mesh, file);
        return true;
    });
}

MeshReadResult ReadMeshFile(const std::string& path) {
    MeshReadResult result;
    std::string content;
    if ((result.error = files::ReadRegularFile(path, content)))
        return result;
    Error bad;
    bool ok = !content.empty();
    if (!ok) {
        bad.message = "empty file";
    } else {
        const bool ply = content.starts_with("ply\n") || content.starts_with("ply\r\n");
        ok = ply ? ReadPly(content, result.mesh, bad) : ReadObj(content, result.mesh, bad);
    }
    if (!ok) {
        result.mesh = {};
        result.error = MakeError(Error::Malformed, std::move(bad.message), path);
        result.error.line = bad.line;
    }
    return result;
}

namespace {

// The last face in walk order that has a PolyForm, as ExtractMesh picks it.
struct LastPolyForm : orbg::ShapeVisitor {
    using orbg::ShapeVisitor::Visit;
    State Visit(const Face* face) override {
        if (face->GetPolyForm())
            polyForm = face->GetPolyForm();
        return State::Continue;
    }
    const PolyForm* polyForm = nullptr;
};

}  // namespace

MeshView ViewMesh(Shape& shape) {
    MeshView view;
    LastPolyForm visitor;
    shape.Accept(visitor);
    if (!visitor.polyForm || !visitor.polyForm->GetVertexPool())
        return view;
    // The walk hands out const faces of the shape the caller may change.
    auto* polyForm = const_cast<PolyForm*>(visitor.polyForm);
    VertexPool* pool = polyForm->GetVertexPool();
    view.stride = pool->GetRecordLength();
    view.vertexCount = pool->GetVertexCount();
    view.positions = pool->Vertices() + pool->GetVertexType().PositionOffset();
    if (const Mesh* mesh = polyForm->GetMeshes().GetHead()) {
        view.triangleCount = mesh->GetNumTriangles();
        view.indices = view.triangleCount ? mesh->GetIndices().data() : nullptr;
    }
    return view;
}

}  // namespace kestrel::meshes
