// The one table of property types: each value type's name in the format, the value kind that
// carries it through the XML element tree, and the conversion to and from that kind. The
// writer, the reader, the JSON form and the tool all work from it.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "geometry/Image.h"
#include "geometry/Shape.h"
#include "geometry/ValueTypes.h"
#include "geometry/XmlElem.h"
#include "serializedContent/xmlwriter/NameTable.h"
#include "utilities/SmartPtr.h"
#include "utilities/Symbol.h"

namespace serializedContent {

// A value kind of the XML element tree: the value type it carries, its text setter and its two
// getters, one for the element text and one for an attribute at an index.
template <class V, class SetParameter, void (XmlElem::*Set)(SetParameter), auto Text,
          auto Attribute>
struct ValueKind {
    using Value = V;
    static constexpr auto set = Set;
    static constexpr auto text = Text;
    static constexpr auto attribute = Attribute;
};

// clang-format off
using TextKind       = ValueKind<std::string, const std::string&, &XmlElem::SetText, &XmlElem::GetText, &XmlElem::GetAttributeText>;
using Int32Kind      = ValueKind<std::int32_t, std::int32_t, &XmlElem::SetText, &XmlElem::GetTextAsInt, &XmlElem::GetAttributeAsInt>;
using Int64Kind      = ValueKind<std::int64_t, std::int64_t, &XmlElem::SetText, &XmlElem::GetTextAsInt64, &XmlElem::GetAttributeAsInt64>;
using FloatKind      = ValueKind<float, float, &XmlElem::SetText, &XmlElem::GetTextAsFloat, &XmlElem::GetAttributeAsFloat>;
using DoubleKind     = ValueKind<double, double, &XmlElem::SetText, &XmlElem::GetTextAsDouble, &XmlElem::GetAttributeAsDouble>;
using BoolKind       = ValueKind<bool, bool, &XmlElem::SetText, &XmlElem::GetTextAsBool, &XmlElem::GetAttributeAsBool>;
using HexKind        = ValueKind<std::uint32_t, std::uint32_t, &XmlElem::SetTextAsHex, &XmlElem::GetTextAsHex, &XmlElem::GetAttributeAsHex>;
using LocationKind   = ValueKind<Location, const Location&, &XmlElem::SetText, &XmlElem::GetTextAsLocation, &XmlElem::GetAttributeAsLocation>;
using QuaternionKind = ValueKind<Quaternion<float>, const Quaternion<float>&, &XmlElem::SetText, &XmlElem::GetTextAsQuaternion, &XmlElem::GetAttributeAsQuaternion>;
using DVec2Kind      = ValueKind<DVec2, const DVec2&, &XmlElem::SetText, &XmlElem::GetTextAsDVec2, &XmlElem::GetAttributeAsDVec2>;
using DVec3Kind      = ValueKind<DVec3, const DVec3&, &XmlElem::SetText, &XmlElem::GetTextAsDVec3, &XmlElem::GetAttributeAsDVec3>;
using FVec3Kind      = ValueKind<FVec3, const FVec3&, &XmlElem::SetText, &XmlElem::GetTextAsFVec3, &XmlElem::GetAttributeAsFVec3>;
using DPoint3DKind   = ValueKind<DPoint3D, const DPoint3D&, &XmlElem::SetText, &XmlElem::GetTextAsDPoint3D, &XmlElem::GetAttributeAsDPoint3D>;
using DPoint2DKind   = ValueKind<DPoint2D, const DPoint2D&, &XmlElem::SetText, &XmlElem::GetTextAsDPoint2D, &XmlElem::GetAttributeAsDPoint2D>;
using FPoint3DKind   = ValueKind<FPoint3D, const FPoint3D&, &XmlElem::SetText, &XmlElem::GetTextAsFPoint3D, &XmlElem::GetAttributeAsFPoint3D>;
// clang-format on

// The facts of one property value type T that has a type name of its own.
template <class T>
struct PropertyTraits;

// A type carried by a kind through plain conversion: integers are widened (sign- or
// zero-extended) on writing and cut back to their width on reading, and unsigned values pass
// through the signed kind of their width with the same bits.
template <class T, class Kind, Symbol NameTable::*Name>
struct CastTraits {
    using KindType = Kind;
    static constexpr Symbol NameTable::*name = Name;
    static typename Kind::Value ToKind(const T& value) {
        return static_cast<typename Kind::Value>(value);
    }
    static T FromKind(const typename Kind::Value& value) { return static_cast<T>(value); }
};

// clang-format off
template <> struct PropertyTraits<bool>              : CastTraits<bool, BoolKind, &NameTable::boolType> { static constexpr const char* typeName = "bool"; };
template <> struct PropertyTraits<double>            : CastTraits<double, DoubleKind, &NameTable::doubleType> { static constexpr const char* typeName = "double"; };
template <> struct PropertyTraits<float>             : CastTraits<float, FloatKind, &NameTable::floatType> { static constexpr const char* typeName = "float"; };
template <> struct PropertyTraits<std::uint8_t>      : CastTraits<std::uint8_t, Int32Kind, &NameTable::uint8Type> { static constexpr const char* typeName = "uint8"; };
template <> struct PropertyTraits<std::uint16_t>     : CastTraits<std::uint16_t, Int32Kind, &NameTable::uint16Type> { static constexpr const char* typeName = "uint16"; };
template <> struct PropertyTraits<std::uint32_t>     : CastTraits<std::uint32_t, Int32Kind, &NameTable::uint32Type> { static constexpr const char* typeName = "uint32"; };
template <> struct PropertyTraits<std::uint64_t>     : CastTraits<std::uint64_t, Int64Kind, &NameTable::uint64Type> { static constexpr const char* typeName = "uint64"; };
template <> struct PropertyTraits<std::int8_t>       : CastTraits<std::int8_t, Int32Kind, &NameTable::int8Type> { static constexpr const char* typeName = "int8"; };
template <> struct PropertyTraits<std::int16_t>      : CastTraits<std::int16_t, Int32Kind, &NameTable::int16Type> { static constexpr const char* typeName = "int16"; };
template <> struct PropertyTraits<std::int32_t>      : CastTraits<std::int32_t, Int32Kind, &NameTable::int32Type> { static constexpr const char* typeName = "int32"; };
template <> struct PropertyTraits<std::int64_t>      : CastTraits<std::int64_t, Int64Kind, &NameTable::int64Type> { static constexpr const char* typeName = "int64"; };
template <> struct PropertyTraits<Location>          : CastTraits<Location, LocationKind, &NameTable::locationType> { static constexpr const char* typeName = "location"; };
template <> struct PropertyTraits<DPoint3D>          : CastTraits<DPoint3D, DPoint3DKind, &NameTable::dpoint3dType> { static constexpr const char* typeName = "dpoint3d"; };
template <> struct PropertyTraits<DPoint2D>          : CastTraits<DPoint2D, DPoint2DKind, &NameTable::dpoint2dType> { static constexpr const char* typeName = "dpoint2d"; };
template <> struct PropertyTraits<FPoint3D>          : CastTraits<FPoint3D, FPoint3DKind, &NameTable::fpoint3dType> { static constexpr const char* typeName = "fpoint3d"; };
template <> struct PropertyTraits<DVec2>             : CastTraits<DVec2, DVec2Kind, &NameTable::dvec2Type> { static constexpr const char* typeName = "dvec2"; };
template <> struct PropertyTraits<DVec3>             : CastTraits<DVec3, DVec3Kind, &NameTable::dvec3Type> { static constexpr const char* typeName = "dvec3"; };
template <> struct PropertyTraits<FVec3>             : CastTraits<FVec3, FVec3Kind, &NameTable::fvec3Type> { static constexpr const char* typeName = "fvec3"; };
template <> struct PropertyTraits<Quaternion<float>> : CastTraits<Quaternion<float>, QuaternionKind, &NameTable::quatType> { static constexpr const char* typeName = "quat"; };
// clang-format on

// Text: a Symbol's bytes, all length() of them, unchanged in both directions.
template <>
struct PropertyTraits<Symbol> {
    using KindType = TextKind;
    static constexpr Symbol NameTable::*name = &NameTable::stringType;
    static constexpr const char* typeName = "string";
    static std::string ToKind(const Symbol& value) {
        return std::string(value.safe_c_str(), value.length());
    }
    static Symbol FromKind(const std::string& value) { return Symbol(value); }
};

// Colours travel packed by Color::GetAsHex and are rebuilt by Color(unsigned int).
template <>
struct PropertyTraits<Color> {
    using KindType = HexKind;
    static constexpr Symbol NameTable::*name = &NameTable::colorType;
    static constexpr const char* typeName = "color";
    static std::uint32_t ToKind(const Color& value) { return value.GetAsHex(); }
    static Color FromKind(std::uint32_t value) { return Color(value); }
};

// Shapes and images carry payloads of their own rather than a value kind.
template <>
struct PropertyTraits<SmartPtr<Shape>> {
    static constexpr Symbol NameTable::*name = &NameTable::shapeType;
    static constexpr const char* typeName = "shape";
};
template <>
struct PropertyTraits<SmartPtr<Image>> {
    static constexpr Symbol NameTable::*name = &NameTable::imageType;
    static constexpr const char* typeName = "image";
};

template <class... Ts>
struct TypeList {};

// The single-valued types with a type name, in the order the reader compares type names.
using SingleValueTypes =
    TypeList<bool, double, float, std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t,
             std::int8_t, std::int16_t, std::int32_t, std::int64_t, Location, DPoint3D, DPoint2D,
             FPoint3D, DVec2, DVec3, FVec3, Quaternion<float>, Symbol, Color>;

// The element types of the arrays with a type name, in the order the reader compares them.
using ArrayValueTypes = TypeList<Symbol, bool, std::uint32_t, double, float, Color, DPoint2D>;

// Calls f.template operator()<T>() for each T of the list in order until one returns true;
// true when one did.
template <class F, class... Ts>
bool AnyOf(TypeList<Ts...>, F&& f) {
    return (f.template operator()<Ts>() || ...);
}

}  // namespace serializedContent
