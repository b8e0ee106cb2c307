#include "kestrel/json/ContentJson.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "MakeError.h"
#include "geometry/MeshBuilder.h"
#include "geometry/ValueComponents.h"
#include "geometry/ValueText.h"
#include "kernel/ImageModules.h"
#include "kernel/Loader.h"
#include "kernel/SerializedContentElement.h"
#include "kestrel/values/ValueTraits.h"
#include "utilities/Base64.h"

namespace kestrel::json {

namespace {

using Json = nlohmann::json;

using values::JsonForm;
using values::ValueTraits;

// ---- Shared pieces ------------------------------------------------------------------------------

// A JSON string literal; bytes that are not UTF-8 become U+FFFD so the output stays valid JSON.
void AppendString(std::string& out, std::string_view text) {
    out += Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Quoted(std::string_view text) {
    std::string out;
    AppendString(out, text);
    return out;
}

// One JSON Pointer reference token ("~" and "/" escaped) with its leading "/".
std::string PointerToken(std::string_view token) {
    std::string out = "/";
    for (char c : token) {
        if (c == '~') {
            out += "~0";
        } else if (c == '/') {
            out += "~1";
        } else {
            out += c;
        }
    }
    return out;
}

std::string PointerToken(std::size_t index) {
    return "/" + std::to_string(index);
}

// Why a value could not be read, and where below the value being read (filled in on the way out).
struct Fault {
    std::string path;
    std::string message;

    bool Fail(std::string why) {
        message = std::move(why);
        return false;
    }
    bool FailBelow(std::string token) {
        path.insert(0, token);
        return false;
    }
};

// The text of a number with a fraction or an exponent, which the DOM keeps as a binary value
// (JSON text never makes one); see DomBuilder::number_float.
std::string_view NumberText(const Json& json) {
    const auto& bytes = json.get_binary();
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// ---- Value forms --------------------------------------------------------------------------------

template <class T>
concept Integer = ValueTraits<T>::json == JsonForm::Integer;
template <class T>
concept Real = ValueTraits<T>::json == JsonForm::Real;
// The values made of real components (Components() gives them in order).
template <class T>
concept Compound = ValueTraits<T>::json == JsonForm::Components;

// How values of T are written (Write) and read back (Read); chosen by what kind of value T is.
template <class T>
struct Form;

template <Integer T>
struct Form<T> {
    static void Write(std::string& out, T value, std::string_view) {
        char buffer[24];
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    }
    static bool Read(const Json& json, T& value, Fault& fault) {
        if (json.is_number_unsigned()) {
            return Narrow(json.get<std::uint64_t>(), value, fault);
        }
        if (json.is_number_integer()) {
            return Narrow(json.get<std::int64_t>(), value, fault);
        }
        return fault.Fail("expected an integer");
    }
    template <class Wide>
    static bool Narrow(Wide wide, T& value, Fault& fault) {
        if (!std::in_range<T>(wide)) {
            return fault.Fail("integer " + std::to_string(wide) + " out of range for " +
                              std::string(ValueTraits<T>::typeName));
        }
        value = static_cast<T>(wide);
        return true;
    }
};

template <Real T>
struct Form<T> {
    static constexpr const char* kExpected =
        "expected a number or a string \"nan\", \"inf\" or \"-inf\"";

    static void Write(std::string& out, T value, std::string_view) {
        const std::size_t start = out.size();
        if (!std::isfinite(value)) {
            // The text forms of non-finite values need no escaping.
            out += '"';
            AppendValueText(out, value);
            out += '"';
            return;
        }
        AppendValueText(out, value);
        // Without one of these, JSON readers take the number for an integer, and -0 for 0.
        if (out.find_first_of(".eE", start) == std::string::npos) {
            out += ".0";
        }
    }
    static bool Read(const Json& json, T& value, Fault& fault) {
        switch (json.type()) {
            case Json::value_t::binary:
                // Read from the text: through a double a float would be rounded twice.
                return ParseValueText(NumberText(json), value) || fault.Fail(kExpected);
            case Json::value_t::number_unsigned:
                value = static_cast<T>(json.get<std::uint64_t>());
                return true;
            case Json::value_t::number_integer:
                value = static_cast<T>(json.get<std::int64_t>());
                return true;
            case Json::value_t::string:
                // Strings are for the values JSON numbers cannot hold.
                if (!ParseValueText(json.get_ref<const std::string&>(), value) ||
                    std::isfinite(value)) {
                    return fault.Fail(kExpected);
                }
                return true;
            default:
                return fault.Fail(kExpected);
        }
    }
};

template <>
struct Form<bool> {
    static void Write(std::string& out, bool value, std::string_view) {
        out += value ? "true" : "false";
    }
    static bool Read(const Json& json, bool& value, Fault& fault) {
        if (!json.is_boolean()) {
            return fault.Fail("expected true or false");
        }
        value = json.get<bool>();
        return true;
    }
};

template <>
struct Form<Symbol> {
    static void Write(std::string& out, const Symbol& value, std::string_view) {
        AppendString(out, value.view());
    }
    static bool Read(const Json& json, Symbol& value, Fault& fault) {
        if (!json.is_string()) {
            return fault.Fail("expected a string");
        }
        value = Symbol(json.get_ref<const std::string&>());
        return true;
    }
};

template <>
struct Form<Color> {
    static void Write(std::string& out, const Color& value, std::string_view) {
        out += '"';
        AppendHexText(out, value.GetAsHex());
        out += '"';
    }
    static bool Read(const Json& json, Color& value, Fault& fault) {
        if (!json.is_string()) {
            return fault.Fail("expected a string");
        }
        std::uint32_t packed = 0;
        if (!ParseHexText(json.get_ref<const std::string&>(), packed)) {
            return fault.Fail("expected a colour \"#rrggbbaa\"");
        }
        value = Color(packed);
        return true;
    }
};

template <>
struct Form<DHex> {
    static void Write(std::string& out, const DHex& value, std::string_view) {
        char digits[16];
        const char* end = std::to_chars(digits, digits + sizeof digits, value.value, 16).ptr;
        out += "\"0x";
        out.append(sizeof digits - std::size_t(end - digits), '0');
        out.append(digits, std::size_t(end - digits));
        out += '"';
    }
    static bool Read(const Json& json, DHex& value, Fault& fault) {
        if (!json.is_string()) {
            return fault.Fail("expected a string");
        }
        const std::string& text = json.get_ref<const std::string&>();
        const std::size_t digits = text.size() - std::min<std::size_t>(text.size(), 2);
        if (digits >= 1 && digits <= 16 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            const char* end = text.data() + text.size();
            const auto [ptr, ec] = std::from_chars(text.data() + 2, end, value.value, 16);
            if (ec == std::errc() && ptr == end) {
                return true;
            }
        }
        return fault.Fail("expected \"0x\" and 1 to 16 hexadecimal digits");
    }
};

template <Compound T>
struct Form<T> {
    using Component = typename ValueTraits<T>::Real;
    static constexpr std::size_t kCount = ValueTraits<T>::components;

    static void Write(std::string& out, const T& value, std::string_view comma) {
        out += '[';
        bool first = true;
        for (const Component* component : Components(value)) {
            if (!first) {
                out += comma;
            }
            first = false;
            Form<Component>::Write(out, *component, comma);
        }
        out += ']';
    }
    static bool Read(const Json& json, T& value, Fault& fault) {
        if (!json.is_array() || json.size() != kCount) {
            return fault.Fail("expected an array of " + std::to_string(kCount) + " numbers");
        }
        std::size_t index = 0;
        for (Component* component : Components(value)) {
            if (!Form<Component>::Read(json[index], *component, fault)) {
                return fault.FailBelow(PointerToken(index));
            }
            ++index;
        }
        return true;
    }
};

// Shapes are their mesh: {"vertices": [[x, y, z], ...], "triangles": [[i, j, k], ...]}, the
// positions and triangles the content writer stores; a null shape is null.
template <>
struct Form<SmartPtr<Shape>> {
    static void Write(std::string& out, const SmartPtr<Shape>& value, std::string_view comma) {
        if (!value) {
            out += "null";
            return;
        }
        const MeshData mesh = ExtractMesh(*value);
        out += "{\"vertices\":";
        WriteRecords(out, mesh.positions, comma);
        out += comma;
        out += "\"triangles\":";
        WriteRecords(out, mesh.indices, comma);
        out += '}';
    }
    static bool Read(const Json& json, SmartPtr<Shape>& value, Fault& fault) {
        if (json.is_null()) {
            value = nullptr;
            return true;
        }
        if (!json.is_object())
            return fault.Fail("expected an object with vertices and triangles");
        MeshData mesh;
        for (const auto& [key, member] : json.items()) {
            if (key == "vertices") {
                if (!ReadRecords(member, mesh.positions, fault))
                    return fault.FailBelow("/vertices");
            } else if (key == "triangles") {
                if (!ReadRecords(member, mesh.indices, fault))
                    return fault.FailBelow("/triangles");
            } else {
                return fault.Fail("unknown member \"" + key + "\"");
            }
        }
        const std::size_t vertexCount = mesh.positions.size() / 3;
        for (std::size_t i = 0; i < mesh.indices.size(); ++i) {
            if (mesh.indices[i] >= vertexCount) {
                fault.Fail("triangle index " + std::to_string(mesh.indices[i]) +
                           " is not below the vertex count " + std::to_string(vertexCount));
                return fault.FailBelow("/triangles" + PointerToken(i / 3) + PointerToken(i % 3));
            }
        }
        value = MakeMeshShape(mesh.positions, mesh.indices);
        return value || fault.Fail("the mesh cannot be made into a shape");
    }

private:
    template <class V>
    static void WriteRecords(std::string& out, const std::vector<V>& values,
                             std::string_view comma) {
        out += '[';
        for (std::size_t i = 0; i + 2 < values.size(); i += 3) {
            if (i)
                out += comma;
            out += '[';
            for (std::size_t k = 0; k < 3; ++k) {
                if (k)
                    out += comma;
                Form<V>::Write(out, values[i + k], comma);
            }
            out += ']';
        }
        out += ']';
    }
    template <class V>
    static bool ReadRecords(const Json& json, std::vector<V>& values, Fault& fault) {
        if (!json.is_array())
            return fault.Fail("expected an array of 3-element arrays");
        values.reserve(json.size() * 3);
        for (std::size_t i = 0; i < json.size(); ++i) {
            const Json& record = json[i];
            if (!record.is_array() || record.size() != 3) {
                fault.Fail("expected an array of 3 numbers");
                return fault.FailBelow(PointerToken(i));
            }
            for (std::size_t k = 0; k < 3; ++k) {
                V item{};
                if (!Form<V>::Read(record[k], item, fault)) {
                    return fault.FailBelow(PointerToken(i) + PointerToken(k));
                }
                values.push_back(item);
            }
        }
        return true;
    }
};

// Images are the bytes of the host's "bmp" saver module, in Base64:
// {"width": w, "height": h, "format": "bmp", "data": "Qk..."}; a null image, or one that cannot
// be saved, is null. Width and height are there for people and must agree with the data.
template <>
struct Form<SmartPtr<Image>> {
    static void Write(std::string& out, const SmartPtr<Image>& value, std::string_view comma) {
        std::string bytes;
        if (!value || !SaveBmp(value, bytes)) {
            out += "null";
            return;
        }
        out += "{\"width\":" + std::to_string(value->GetWidth());
        out += comma;
        out += "\"height\":" + std::to_string(value->GetHeight());
        out += comma;
        out += "\"format\":\"bmp\"";
        out += comma;
        out += "\"data\":\"" + Base64::Encode(bytes.data(), bytes.size()) + "\"}";
    }
    static bool Read(const Json& json, SmartPtr<Image>& value, Fault& fault) {
        if (json.is_null()) {
            value = nullptr;
            return true;
        }
        if (!json.is_object())
            return fault.Fail("expected an object with width, height, format and data");
        std::uint32_t width = 0, height = 0;
        std::string data;
        bool haveData = false;
        for (const auto& [key, member] : json.items()) {
            if (key == "width" || key == "height") {
                if (!Form<std::uint32_t>::Read(member, key == "width" ? width : height, fault)) {
                    return fault.FailBelow("/" + key);
                }
            } else if (key == "format") {
                if (!member.is_string() || member.get_ref<const std::string&>() != "bmp") {
                    fault.Fail("expected \"bmp\"");
                    return fault.FailBelow("/format");
                }
            } else if (key == "data") {
                if (!member.is_string()) {
                    fault.Fail("expected a Base64 string");
                    return fault.FailBelow("/data");
                }
                data = member.get_ref<const std::string&>();
                haveData = true;
            } else {
                return fault.Fail("unknown member \"" + key + "\"");
            }
        }
        if (!haveData)
            return fault.Fail("missing member \"data\"");
        Base64Result decoded;
        const std::vector<char> bytes = Base64::Decode(data.data(), data.size(), decoded);
        if (!decoded) {
            fault.Fail("data: " + decoded.description());
            return fault.FailBelow("/data");
        }
        value = LoadBmp(bytes);
        if (!value) {
            fault.Fail("data is not a BMP image the host's bmp loader reads");
            return fault.FailBelow("/data");
        }
        if (value->GetWidth() != width || value->GetHeight() != height) {
            return fault.Fail("width and height " + std::to_string(width) + " x " +
                              std::to_string(height) + " disagree with the image, " +
                              std::to_string(value->GetWidth()) + " x " +
                              std::to_string(value->GetHeight()));
        }
        return true;
    }

private:
    static bool SaveBmp(const SmartPtr<Image>& image, std::string& bytes) {
        SmartPtr<Loader> loader = Loader::GetLoader();
        SmartPtr<RefCounted> module;
        if (!loader || !loader->LoadModule("saver", "image", "bmp", module))
            return false;
        auto* saver = dynamic_cast<ImageWriter*>(module.get());
        std::uint64_t count = 0;
        const char* data = nullptr;
        if (!saver || !saver->Write(image, count, data))
            return false;
        bytes.assign(data, static_cast<std::size_t>(count));
        return true;
    }
    static SmartPtr<Image> LoadBmp(const std::vector<char>& bytes) {
        SmartPtr<Loader> loader = Loader::GetLoader();
        SmartPtr<RefCounted> module;
        if (!loader || !loader->LoadModule("loader", "image", "bmp", module))
            return {};
        auto* parser = dynamic_cast<ImageParser*>(module.get());
        SmartPtr<Image> image;
        if (!parser || !parser->Parse(image, bytes.size(), bytes.data()))
            return {};
        return image;
    }
};

template <class T>
struct Form<std::vector<T>> {
    static void Write(std::string& out, const std::vector<T>& value, std::string_view comma) {
        out += '[';
        bool first = true;
        for (const auto& item : value) {
            if (!first) {
                out += comma;
            }
            first = false;
            Form<T>::Write(out, item, comma);
        }
        out += ']';
    }
    static bool Read(const Json& json, std::vector<T>& value, Fault& fault) {
        if (!json.is_array()) {
            return fault.Fail("expected an array");
        }
        value.reserve(json.size());
        for (std::size_t index = 0; index < json.size(); ++index) {
            T item{};
            if (!Form<T>::Read(json[index], item, fault)) {
                return fault.FailBelow(PointerToken(index));
            }
            value.push_back(std::move(item));
        }
        return true;
    }
};

// ---- The type table -----------------------------------------------------------------------------

// How a JSON value becomes a PropertyValue of one type.
using Reader = bool (*)(const Json& json, PropertyValue& value, Fault& fault);

template <class T>
bool ReadAs(const Json& json, PropertyValue& value, Fault& fault) {
    T read{};
    if (!Form<T>::Read(json, read, fault)) {
        return false;
    }
    value.emplace<T>(std::move(read));
    return true;
}

// Indexed like the alternatives of PropertyValue, and so like the type table.
constexpr auto kReaders = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<Reader, sizeof...(I)>{
        &ReadAs<std::variant_alternative_t<I, PropertyValue>>...};
}
(std::make_index_sequence<std::variant_size_v<PropertyValue>>());

// ---- Writing ------------------------------------------------------------------------------------

constexpr std::size_t kMaxIndentDepth = 64;

class JsonWriter {
public:
    JsonWriter(std::string& out, int indent)
        : out_(out),
          indent_(indent > 0 ? std::size_t(indent) : 0),
          colon_(indent_ ? ": " : ":"),
          comma_(indent_ ? ", " : ",") {}

    // Indentation stops growing past kMaxIndentDepth so that very deep trees stay linear in size.
    void NewLine(std::size_t depth) {
        if (indent_ == 0) {
            return;
        }
        out_ += '\n';
        out_.append(std::min(depth, kMaxIndentDepth) * indent_, ' ');
    }

    // Opens an element object up to the "children" array, which is left open.
    void OpenElement(const SerializedContentElement& element, std::size_t depth) {
        out_ += '{';
        NewLine(depth + 1);
        Member("name");
        AppendString(out_, element.GetName().view());
        out_ += ',';
        NewLine(depth + 1);
        Member("properties");
        out_ += '[';
        const auto& properties = element.GetProperties();
        for (std::size_t i = 0; i < properties.size(); ++i) {
            if (i) {
                out_ += ',';
            }
            NewLine(depth + 2);
            WriteProperty(properties[i]);
        }
        if (!properties.empty()) {
            NewLine(depth + 1);
        }
        out_ += "],";
        NewLine(depth + 1);
        Member("children");
        out_ += '[';
    }

    void CloseElement(bool hadChildren, std::size_t depth) {
        if (hadChildren) {
            NewLine(depth + 1);
        }
        out_ += ']';
        NewLine(depth);
        out_ += '}';
    }

    // A property is one line: {"name": ..., "type": ..., "value": ...}.
    void WriteProperty(const SerializedContentElement::Property& property) {
        out_ += '{';
        Member("name");
        AppendString(out_, property.name.view());
        out_ += comma_;
        Member("type");
        out_ += '"';
        out_ += values::FactsOf(property.value).typeName;
        out_ += '"';
        out_ += comma_;
        Member("value");
        std::visit([this]<class T>(const T& value) { Form<T>::Write(out_, value, comma_); },
                   property.value);
        out_ += '}';
    }

private:
    void Member(std::string_view name) {
        out_ += '"';
        out_ += name;
        out_ += '"';
        out_ += colon_;
    }

    std::string& out_;
    std::size_t indent_;
    std::string_view colon_;
    std::string_view comma_;
};

// ---- Parsing ------------------------------------------------------------------------------------

// Builds the DOM as nlohmann's own parser does, with two differences: a member given twice is an
// error rather than silently overwritten, and numbers with a fraction or an exponent keep their
// text. Containers are held on an explicit stack, so depth costs no native stack.
class DomBuilder {
public:
    explicit DomBuilder(Json& root, std::string_view text) : root_(root), text_(text) {}

    Error error;  // Malformed at a position, or Invalid at a JSON Pointer (a member given twice)

    bool null() { return Add(nullptr); }
    bool boolean(bool value) { return Add(value); }
    bool number_integer(Json::number_integer_t value) { return Add(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return Add(value); }
    bool number_float(Json::number_float_t, const std::string& text) {
        return Add(Json::binary(Json::binary_t::container_type(text.begin(), text.end())));
    }
    bool string(std::string& value) { return Add(std::move(value)); }
    // Only the binary formats make these.
    bool binary(Json::binary_t&) { return false; }
    bool start_object(std::size_t) {
        open_.push_back(Add(Json::value_t::object));
        return true;
    }
    bool key(std::string& key) {
        // try_emplace leaves key alone when it is already there.
        auto [it, added] = open_.back()->get_ref<Json::object_t&>().try_emplace(std::move(key));
        if (!added) {
            error = MakeError(Error::Invalid, "duplicate member " + Quoted(key));
            error.place = PathOf(open_.size() - 1) + PointerToken(key);
            return false;
        }
        member_ = &it->second;
        return true;
    }
    bool end_object() {
        open_.pop_back();
        return true;
    }
    bool start_array(std::size_t) {
        open_.push_back(Add(Json::value_t::array));
        return true;
    }
    bool end_array() {
        open_.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string& lastToken, const Json::exception& e) {
        error = MakeError(Error::Malformed, Explanation(e.what(), lastToken));
        // The parser counts position from 1, at the character after the one it stopped on.
        const std::size_t index = std::min(position > 0 ? position - 1 : 0, text_.size());
        const std::string_view before = text_.substr(0, index);
        const std::size_t lineStart = before.rfind('\n') + 1;  // 0 when there is none
        error.line = static_cast<std::uint32_t>(1 + std::count(before.begin(), before.end(), '\n'));
        error.column = static_cast<std::uint32_t>(index - lineStart + 1);
        error.offset = index;
        return false;
    }

private:
    template <class Value>
    Json* Add(Value&& value) {
        if (open_.empty()) {
            root_ = Json(std::forward<Value>(value));
            return &root_;
        }
        Json& container = *open_.back();
        if (container.is_array()) {
            container.get_ref<Json::array_t&>().emplace_back(std::forward<Value>(value));
            return &container.back();
        }
        *member_ = Json(std::forward<Value>(value));
        return member_;
    }

    // The JSON Pointer of the open container at level.
    std::string PathOf(std::size_t level) const {
        std::string out;
        for (std::size_t i = 1; i <= level; ++i) {
            const Json& parent = *open_[i - 1];
            if (parent.is_array()) {
                // An open container is always the last item of its parent.
                out += PointerToken(parent.size() - 1);
                continue;
            }
            for (auto it = parent.begin(); it != parent.end(); ++it) {
                if (&*it == open_[i]) {
                    out += PointerToken(it.key());
                    break;
                }
            }
        }
        return out;
    }

    // nlohmann's message without its id, position and echo of the last token.
    static std::string Explanation(std::string what, const std::string& lastToken) {
        if (const auto id = what.find("] ");
            what.starts_with("[json.exception.") && id != std::string::npos) {
            what.erase(0, id + 2);
        }
        if (what.starts_with("parse error")) {
            if (const auto colon = what.find(": "); colon != std::string::npos) {
                what.erase(0, colon + 2);
            }
        }
        const std::string echo = "; last read: '" + lastToken + "'";
        if (const auto at = what.find(echo); at != std::string::npos) {
            what.erase(at, echo.size());
        }
        return what;
    }

    Json& root_;
    std::string_view text_;
    std::vector<Json*> open_;
    Json* member_ = nullptr;
};

// ---- Reading ------------------------------------------------------------------------------------

// Fails on a value that is not an object or has a member not in names.
template <std::size_t N>
bool CheckMembers(const Json& json, const std::array<std::string_view, N>& names, Fault& fault) {
    if (!json.is_object()) {
        return fault.Fail("expected an object");
    }
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (std::find(names.begin(), names.end(), it.key()) == names.end()) {
            fault.path = PointerToken(it.key());
            return fault.Fail("unknown member " + Quoted(it.key()));
        }
    }
    return true;
}

// The member called name of an object, or null.
const Json* FindMember(const Json& object, std::string_view name) {
    const auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

// The member called name, which must be present and a string; null on failure.
const std::string* StringMember(const Json& object, std::string_view name, Fault& fault) {
    const Json* member = FindMember(object, name);
    if (!member) {
        fault.Fail("missing member " + Quoted(name));
        return nullptr;
    }
    if (!member->is_string()) {
        fault.path = PointerToken(name);
        fault.Fail("expected a string");
        return nullptr;
    }
    return &member->get_ref<const std::string&>();
}

// The member called name, which must be an array when present (absent, it is empty); null on
// failure.
const Json::array_t* ArrayMember(const Json& object, std::string_view name, Fault& fault) {
    static const Json::array_t kEmpty;
    const Json* member = FindMember(object, name);
    if (!member) {
        return &kEmpty;
    }
    if (!member->is_array()) {
        fault.path = PointerToken(name);
        fault.Fail("expected an array");
        return nullptr;
    }
    return &member->get_ref<const Json::array_t&>();
}

bool ReadProperty(const Json& json, SerializedContentElement& element, Fault& fault) {
    static constexpr std::array<std::string_view, 3> kMembers{"name", "type", "value"};
    if (!CheckMembers(json, kMembers, fault)) {
        return false;
    }
    const std::string* name = StringMember(json, "name", fault);
    if (!name) {
        return false;
    }
    const std::string* type = StringMember(json, "type", fault);
    if (!type) {
        return false;
    }
    const std::optional<std::size_t> index = values::IndexOfType(*type);
    if (!index) {
        fault.path = "/type";
        return fault.Fail("unknown type " + Quoted(*type));
    }
    const Json* jsonValue = FindMember(json, "value");
    if (!jsonValue) {
        return fault.Fail("missing member \"value\"");
    }
    PropertyValue value;
    if (!kReaders[*index](*jsonValue, value, fault)) {
        return fault.FailBelow("/value");
    }
    element.AddPropertyValue(Symbol(*name), std::move(value));
    return true;
}

// Reads the element object json: creates it (as a top element when parent is null) with its
// properties, and gives its children to the caller; null on failure.
SerializedContentElement* ReadElement(const Json& json, SerializedContentElement* parent,
                                      SmartPtr<SerializedContentElement>& top,
                                      const Json::array_t*& children, Fault& fault) {
    static constexpr std::array<std::string_view, 3> kMembers{"name", "properties", "children"};
    if (!CheckMembers(json, kMembers, fault)) {
        return nullptr;
    }
    const std::string* name = StringMember(json, "name", fault);
    if (!name) {
        return nullptr;
    }
    const Json::array_t* properties = ArrayMember(json, "properties", fault);
    if (!properties) {
        return nullptr;
    }
    children = ArrayMember(json, "children", fault);
    if (!children) {
        return nullptr;
    }
    SerializedContentElement* element = nullptr;
    if (parent) {
        element = parent->StartContent(Symbol(*name));
    } else {
        top = SmartPtr<SerializedContentElement>(
            SerializedContentElement::CreateTopElement(Symbol(*name)));
        element = top.get();
    }
    for (std::size_t i = 0; i < properties->size(); ++i) {
        if (!ReadProperty((*properties)[i], *element, fault)) {
            fault.FailBelow("/properties" + PointerToken(i));
            return nullptr;
        }
    }
    return element;
}

}  // namespace

std::string WritePropertyJson(const SerializedContentElement::Property& property,
                              const JsonWriteOptions& options) {
    std::string out;
    JsonWriter(out, options.indent).WriteProperty(property);
    out += '\n';
    return out;
}

std::string WriteContentJson(const SerializedContentElement& element,
                             const JsonWriteOptions& options) {
    std::string out;
    JsonWriter writer(out, options.indent);
    // Frames hold an open element, its depth in the output and its next child.
    struct Frame {
        const SerializedContentElement* element;
        std::size_t depth;
        std::size_t nextChild;
    };
    std::vector<Frame> stack{{&element, 0, 0}};
    writer.OpenElement(element, 0);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextChild == frame.element->GetChildCount()) {
            writer.CloseElement(frame.nextChild != 0, frame.depth);
            stack.pop_back();
            continue;
        }
        if (frame.nextChild) {
            out += ',';
        }
        const SerializedContentElement* child = frame.element->GetChild(frame.nextChild++);
        std::size_t depth = frame.depth + 2;
        writer.NewLine(depth);
        writer.OpenElement(*child, depth);
        stack.push_back({child, depth, 0});
    }
    out += '\n';
    return out;
}

LoadResult ReadContentJson(std::string_view text) {
    LoadResult result;
    Json dom;
    DomBuilder builder(dom, text);
    if (!Json::sax_parse(text, &builder)) {
        result.error = std::move(builder.error);
        return result;
    }

    SmartPtr<SerializedContentElement> top;
    Fault fault;
    // Frames hold an element being read, its children and the next child to read.
    struct Frame {
        SerializedContentElement* element;
        const Json::array_t* children;
        std::size_t nextChild;
    };
    std::vector<Frame> stack;
    const Json::array_t* children = nullptr;
    SerializedContentElement* element = ReadElement(dom, nullptr, top, children, fault);
    if (element) {
        stack.push_back({element, children, 0});
    }
    while (element && !stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextChild == frame.children->size()) {
            if (stack.size() > 1) {
                frame.element->EndContent();
            }
            stack.pop_back();
            continue;
        }
        const Json& child = (*frame.children)[frame.nextChild++];
        element = ReadElement(child, frame.element, top, children, fault);
        if (element) {
            stack.push_back({element, children, 0});
        }
    }
    if (!element) {
        std::string path;
        for (const Frame& frame : stack) {
            path += "/children" + PointerToken(frame.nextChild - 1);
        }
        result.error = MakeError(Error::Invalid, std::move(fault.message));
        result.error.place = path + fault.path;
        return result;
    }
    result.tree = std::move(top);
    return result;
}

}  // namespace kestrel::json
