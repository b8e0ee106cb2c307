#include "ValueFormat.h"

#include <charconv>
#include <type_traits>
#include <variant>

#include <nlohmann/json.hpp>

#include "ContentJson.h"
#include "geometry/MeshBuilder.h"
#include "geometry/ValueText.h"
#include "serializedContent/xmlwriter/PropertyTypes.h"

namespace kestrelsc {

namespace {

using serializedContent::PropertyTraits;

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {
    using Element = T;
};

template <class T>
bool XmlCarries() {
    if constexpr (IsVector<T>::value) {
        using Element = typename IsVector<T>::Element;
        return std::is_same_v<Element, SmartPtr<Shape>> ||
               AnyOf(serializedContent::ArrayValueTypes{},
                     []<class U>() { return std::is_same_v<U, Element>; });
    } else {
        return !std::is_same_v<T, DHex>;
    }
}

template <class T>
void AppendItem(std::string& out, const T& value) {
    if constexpr (std::is_same_v<T, Symbol>) {
        out += nlohmann::json(std::string(value))
                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } else if constexpr (std::is_same_v<T, Color>) {
        AppendHexText(out, value.GetAsHex());
    } else if constexpr (std::is_same_v<T, DHex>) {
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, value.value, 16).ptr;
        out += "0x";
        out.append(digits, end);
    } else if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
        if (!value) {
            out += "<no shape>";
            return;
        }
        MeshData mesh = ExtractMesh(*value);
        out += std::to_string(mesh.positions.size() / 3) + " vertices, " +
               std::to_string(mesh.indices.size() / 3) + " triangles";
    } else if constexpr (std::is_same_v<T, SmartPtr<Image>>) {
        if (!value) {
            out += "<no image>";
            return;
        }
        out += std::to_string(value->GetWidth()) + " x " + std::to_string(value->GetHeight()) +
               " " + PixelFormatName(value->GetFormat());
    } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    } else {
        AppendValueText(out, value);
    }
}

template <class T>
void AppendArray(std::string& out, const std::vector<T>& values, std::size_t maxItems) {
    out += "[" + std::to_string(values.size()) + "]";
    const std::size_t count = values.size();
    const std::size_t head = count <= maxItems ? count : (maxItems + 1) / 2;
    const std::size_t tail = count <= maxItems ? 0 : maxItems / 2;
    for (std::size_t i = 0; i < head; ++i) {
        out += i ? ", " : " ";
        AppendItem<T>(out, values[i]);
    }
    if (tail)
        out += ", ...";
    for (std::size_t i = count - tail; i < count; ++i) {
        out += ", ";
        AppendItem<T>(out, values[i]);
    }
}

}  // namespace

std::string TypeName(const PropertyValue& value) {
    return contentjson::PropertyTypeName(value);
}

bool HasXmlForm(const PropertyValue& value) {
    return std::visit([]<class T>(const T&) { return XmlCarries<T>(); }, value);
}

std::string ValueSummary(const PropertyValue& value, std::size_t maxItems) {
    std::string out;
    std::visit(
        [&]<class T>(const T& held) {
            if constexpr (IsVector<T>::value) {
                AppendArray(out, held, maxItems);
            } else {
                AppendItem(out, held);
            }
        },
        value);
    return out;
}

}  // namespace kestrelsc
