// The one table of value facts: for every type a property can hold, its type name, whether it is
// an array and of what, its real components, whether content files carry it and its JSON form.
// It is built on the module's own type table (serializedContent/xmlwriter/PropertyTypes.h), which
// names the types content files carry; what is added here covers the types only trees and JSON
// hold. Everything above the module that needs a per-type fact asks here.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "geometry/ValueComponents.h"
#include "kernel/PropertyValue.h"
#include "kestrel/Export.h"
#include "serializedContent/xmlwriter/NameTable.h"
#include "serializedContent/xmlwriter/PropertyTypes.h"

namespace kestrel::values {

using serializedContent::TypeList;

// How the canonical JSON form (docs/json.md) writes a value.
enum class JsonForm {
    Bool,        // true or false
    Integer,     // an integer, range-checked on reading
    Real,        // a number; "nan", "inf" and "-inf" as strings
    String,      // a string
    Color,       // "#rrggbbaa"
    Hex,         // "0x" and 16 hexadecimal digits
    Components,  // an array of the component numbers
    Mesh,        // {"vertices": ..., "triangles": ...}, or null
    Image,       // {"width", "height", "format": "bmp", "data"}, or null
    Array,       // an array of the items' form
};

namespace detail {

template <class T, class... Ts>
constexpr bool InList(TypeList<Ts...>) {
    return (std::is_same_v<T, Ts> || ...);
}

template <class T>
struct ArrayOf {
    static constexpr bool value = false;
    using Item = T;
};
template <class T>
struct ArrayOf<std::vector<T>> {
    static constexpr bool value = true;
    using Item = T;
};

// The module has a type name for every single value type content files carry.
template <class T>
constexpr bool kNamed = requires {
    serializedContent::PropertyTraits<T>::typeName;
};

template <class T>
constexpr std::string_view SingleName() {
    if constexpr (kNamed<T>) {
        return serializedContent::PropertyTraits<T>::typeName;
    } else {
        static_assert(std::is_same_v<T, DHex>, "every other single type has the module's name");
        return "dhex";
    }
}

// "<item>[]", kept in static storage.
template <class Item>
struct ArrayName {
    static constexpr std::string_view item = SingleName<Item>();
    static constexpr std::array<char, item.size() + 2> chars = [] {
        std::array<char, item.size() + 2> out{};
        for (std::size_t i = 0; i < item.size(); ++i)
            out[i] = item[i];
        out[item.size()] = '[';
        out[item.size() + 1] = ']';
        return out;
    }();
    static constexpr std::string_view name{chars.data(), chars.size()};
};

template <class T>
constexpr std::string_view TypeNameOf() {
    if constexpr (ArrayOf<T>::value)
        return ArrayName<typename ArrayOf<T>::Item>::name;
    else
        return SingleName<T>();
}

// The values made of real components, which Components() hands out in text order.
template <class T>
constexpr bool kCompound = InList<T>(
    TypeList<DVec2, DVec3, FVec3, DPoint2D, DPoint3D, FPoint3D, Quaternion<float>, Location>{});

template <class T>
struct RealOf {
    using type = void;
    static constexpr std::size_t count = 0;
};
template <class T>
requires std::is_floating_point_v<T>
struct RealOf<T> {
    using type = T;
    static constexpr std::size_t count = 1;
};
template <class T>
requires kCompound<T>
struct RealOf<T> {
    using Pointers = decltype(Components(std::declval<T&>()));
    using type = std::remove_pointer_t<typename Pointers::value_type>;
    static constexpr std::size_t count = std::tuple_size_v<Pointers>;
};

template <class T>
constexpr JsonForm JsonFormOf() {
    if constexpr (ArrayOf<T>::value) {
        return JsonForm::Array;
    } else if constexpr (std::is_same_v<T, bool>) {
        return JsonForm::Bool;
    } else if constexpr (std::is_integral_v<T>) {
        return JsonForm::Integer;
    } else if constexpr (std::is_floating_point_v<T>) {
        return JsonForm::Real;
    } else if constexpr (std::is_same_v<T, Symbol>) {
        return JsonForm::String;
    } else if constexpr (std::is_same_v<T, Color>) {
        return JsonForm::Color;
    } else if constexpr (std::is_same_v<T, DHex>) {
        return JsonForm::Hex;
    } else if constexpr (kCompound<T>) {
        return JsonForm::Components;
    } else if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
        return JsonForm::Mesh;
    } else {
        static_assert(std::is_same_v<T, SmartPtr<Image>>, "a value type without a JSON form");
        return JsonForm::Image;
    }
}

}  // namespace detail

// The facts of the property value type T, one of the alternatives of PropertyValue.
template <class T>
struct ValueTraits {
    static_assert(IsPropertyValueType<T>, "not a type a property can hold");

    // Whether T is an array, and the type of its items (T itself for a single value).
    static constexpr bool isArray = detail::ArrayOf<T>::value;
    using Item = typename detail::ArrayOf<T>::Item;

    // The name in content files and JSON ("int32", "float[]"); "dhex" and "<item>[]" for the
    // types content files have no name for.
    static constexpr std::string_view typeName = detail::TypeNameOf<T>();
    static constexpr std::string_view itemTypeName = detail::SingleName<Item>();

    // Single values only: an integer type (bool is not), a value made of real components, and
    // the real type of its components (float or double; a float or double is its own single
    // component), void and 0 for the rest.
    static constexpr bool isInteger = !isArray && std::is_integral_v<T> && !std::is_same_v<T, bool>;
    static constexpr bool isCompound = !isArray && detail::kCompound<T>;
    using Real = std::conditional_t<isArray, void, typename detail::RealOf<T>::type>;
    static constexpr std::size_t components = isArray ? 0 : detail::RealOf<T>::count;

    // Whether content files carry it: the single types the module names, and arrays of the
    // module's array types and of shapes (written on a path of their own, and loaded back as
    // separate shape properties of the list's name). The writer leaves the others out.
    static constexpr bool xmlCarries =
        isArray ? detail::InList<Item>(serializedContent::ArrayValueTypes{}) ||
                      std::is_same_v<Item, SmartPtr<Shape>>
                : detail::kNamed<T>;

    // How JSON writes it; the items of an array take the form of their own type.
    static constexpr JsonForm json = detail::JsonFormOf<T>();
};

namespace detail {
template <class V>
struct Alternatives;
template <class... Ts>
struct Alternatives<std::variant<Ts...>> {
    using type = TypeList<Ts...>;
};
}  // namespace detail

// Every type a property can hold, in the order of PropertyValue's alternatives.
using ValueTypes = detail::Alternatives<PropertyValue>::type;

// Calls f.template operator()<T>() for each type a property can hold, in order.
template <class F>
constexpr void ForEachType(F&& f) {
    serializedContent::AnyOf(ValueTypes{}, [&]<class T>() {
        f.template operator()<T>();
        return false;
    });
}

// The facts of ValueTraits<T> for use at run time.
struct TypeFacts {
    std::string_view typeName;
    std::string_view itemTypeName;
    bool isArray = false;
    bool isInteger = false;
    bool isCompound = false;
    std::size_t components = 0;
    bool xmlCarries = false;
    JsonForm json = JsonForm::Bool;
};

template <class T>
constexpr TypeFacts FactsOf() {
    using Traits = ValueTraits<T>;
    return {Traits::typeName,   Traits::itemTypeName, Traits::isArray,    Traits::isInteger,
            Traits::isCompound, Traits::components,   Traits::xmlCarries, Traits::json};
}

// The facts of every type, indexed like the alternatives of PropertyValue.
inline constexpr auto kTypeTable = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<TypeFacts, sizeof...(I)>{
        FactsOf<std::variant_alternative_t<I, PropertyValue>>()...};
}
(std::make_index_sequence<std::variant_size_v<PropertyValue>>());

// The facts of the type value holds.
constexpr const TypeFacts& FactsOf(const PropertyValue& value) {
    return kTypeTable[value.index()];
}

// The index in PropertyValue of the type called typeName; none for names of no type.
constexpr std::optional<std::size_t> IndexOfType(std::string_view typeName) {
    for (std::size_t i = 0; i < kTypeTable.size(); ++i) {
        if (kTypeTable[i].typeName == typeName)
            return i;
    }
    return std::nullopt;
}

// The prefix of every element name in content files.
inline constexpr std::string_view kElementPrefix = "kestrel_sc:";

// The element, attribute and type names of content files, as the module's reader and writer
// spell them.
KESTREL_CONTENT_API const serializedContent::NameTable& Names();

}  // namespace kestrel::values
