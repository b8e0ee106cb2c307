#include "kestrel/values/ValueFormat.h"

#include <charconv>
#include <type_traits>
#include <variant>

#include <nlohmann/json.hpp>

#include "geometry/MeshBuilder.h"
#include "geometry/ValueText.h"
#include "kestrel/values/ValueTraits.h"

namespace kestrel::values {

namespace {

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
        out += ImageSummary(*value);
    } else if constexpr (ValueTraits<T>::isInteger) {
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
    return std::string(FactsOf(value).typeName);
}

std::string ValueSummary(const PropertyValue& value, std::size_t maxItems) {
    std::string out;
    std::visit(
        [&]<class T>(const T& held) {
            if constexpr (ValueTraits<T>::isArray) {
                AppendArray(out, held, maxItems);
            } else {
                AppendItem(out, held);
            }
        },
        value);
    return out;
}

std::string ImageSummary(const Image& image) {
    return std::to_string(image.GetWidth()) + " x " + std::to_string(image.GetHeight()) + " " +
           PixelFormatName(image.GetFormat());
}

std::string PropertyLine(const SerializedContentElement::Property& property, std::size_t maxItems,
                         bool withValue) {
    std::string line = "@" + std::string(property.name.view()) + ": " + TypeName(property.value);
    if (withValue)
        line += " = " + ValueSummary(property.value, maxItems);
    return line;
}

}  // namespace kestrel::values
