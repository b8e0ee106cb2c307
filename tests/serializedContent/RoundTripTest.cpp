// Every value type through the writer, XML text and the reader, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ContentCompare.h"
#include "geometry/ValueComponents.h"
#include "geometry/XmlElem.h"
#include "kernel/SerializedContentElement.h"
#include "kernel/SerializedContentVisitor.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "serializedContent/xmlwriter/XmlWriter.h"

namespace {

using Tree = SmartPtr<SerializedContentElement>;

// Writes top's children through XmlWriter into text and reads the text back.
Tree RoundTrip(const SerializedContentElement& top, std::string* textOut = nullptr) {
    XmlElem* root = NewXmlElem(Symbol("kestrel_sc:figure"), false);
    serializedContent::XmlWriter writer(root);
    WalkContent(top, writer, WalkTop::ContentsOnly);
    std::string text = WriteXml(*root);
    FreeXml(root);
    if (textOut)
        *textOut = text;
    std::string error;
    XmlElem* parsed = ParseXml(text, false, &error);
    EXPECT_NE(parsed, nullptr) << error << "\n" << text;
    Tree back(SerializedContentElement::CreateTopElement("figure"));
    serializedContent::XmlParser().Parse(parsed, back.get());
    FreeXml(parsed);
    return back;
}

template <class T>
std::vector<T> BoundaryValues();

template <class T>
requires std::is_integral_v<T> &&(!std::is_same_v<T, bool>)std::vector<T> IntegerBoundaries() {
    using Limits = std::numeric_limits<T>;
    return {Limits::min(),      static_cast<T>(Limits::min() + 1), T{0},         T{1},
            static_cast<T>(-1), static_cast<T>(Limits::max() - 1), Limits::max()};
}

template <class F>
std::vector<F> RealBoundaries() {
    using Limits = std::numeric_limits<F>;
    using Bits = std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>;
    const Bits exponent = static_cast<Bits>(sizeof(F) == 4 ? 0x7f800000u : 0x7ff0000000000000u);
    const Bits sign = Bits{1} << (sizeof(F) * 8 - 1);
    return {F(0),
            -F(0),
            F(1) / F(3),
            F(0.1),
            Limits::min(),
            Limits::denorm_min(),
            -Limits::denorm_min(),
            Limits::max(),
            Limits::lowest(),
            Limits::infinity(),
            -Limits::infinity(),
            Limits::quiet_NaN(),
            std::bit_cast<F>(Bits(exponent | 1)),              // signalling NaN, payload 1
            std::bit_cast<F>(Bits(sign | exponent | 0x1234)),  // negative NaN with a payload
            std::bit_cast<F>(Bits(~Bits{0}))};
}

// clang-format off
template <> std::vector<bool> BoundaryValues() { return {true, false}; }
template <> std::vector<std::int8_t> BoundaryValues() { return IntegerBoundaries<std::int8_t>(); }
template <> std::vector<std::uint8_t> BoundaryValues() { return IntegerBoundaries<std::uint8_t>(); }
template <> std::vector<std::int16_t> BoundaryValues() { return IntegerBoundaries<std::int16_t>(); }
template <> std::vector<std::uint16_t> BoundaryValues() { return IntegerBoundaries<std::uint16_t>(); }
template <> std::vector<std::int32_t> BoundaryValues() { return IntegerBoundaries<std::int32_t>(); }
template <> std::vector<std::uint32_t> BoundaryValues() { return IntegerBoundaries<std::uint32_t>(); }
template <> std::vector<std::int64_t> BoundaryValues() { return IntegerBoundaries<std::int64_t>(); }
template <> std::vector<std::uint64_t> BoundaryValues() { return IntegerBoundaries<std::uint64_t>(); }
template <> std::vector<float> BoundaryValues() { return RealBoundaries<float>(); }
template <> std::vector<double> BoundaryValues() { return RealBoundaries<double>(); }
// clang-format on

template <>
std::vector<Symbol> BoundaryValues() {
    return {Symbol(),
            Symbol(" "),
            Symbol("  leading and trailing  "),
            Symbol("\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"),
            Symbol("<tag attr=\"v\"> & 'quotes' ]]> &amp;"),
            Symbol("tab\tnewline\ncr\rcrlf\r\n"),
            Symbol("\x01\x02\x1f control \x7f"),
            Symbol("\n"),
            Symbol("&#10; &unknown; %s %n")};
}

template <>
std::vector<Color> BoundaryValues() {
    return {Color(0u), Color(0xffffffffu), Color(0x12345678u), Color(0xff000000u)};
}

// Compound values with every component drawn from the real boundaries in turn.
template <class V>
std::vector<V> CompoundBoundaries() {
    using Component =
        std::remove_pointer_t<std::remove_cvref_t<decltype(Components(std::declval<V&>())[0])>>;
    std::vector<Component> reals = RealBoundaries<Component>();
    std::vector<V> values;
    for (std::size_t i = 0; i < reals.size(); ++i) {
        V value{};
        std::size_t k = i;
        for (auto* component : Components(value))
            *component = reals[k++ % reals.size()];
        values.push_back(value);
    }
    return values;
}

template <>
std::vector<Location> BoundaryValues() {
    std::vector<Location> values;
    std::vector<double> reals = RealBoundaries<double>();
    for (std::size_t i = 0; i < reals.size(); ++i) {
        Location value;
        std::size_t k = i;
        for (double* component : Components(value))
            *component = reals[k++ % reals.size()];
        values.push_back(value);
    }
    return values;
}

// clang-format off
template <> std::vector<DVec2> BoundaryValues() { return CompoundBoundaries<DVec2>(); }
template <> std::vector<DVec3> BoundaryValues() { return CompoundBoundaries<DVec3>(); }
template <> std::vector<FVec3> BoundaryValues() { return CompoundBoundaries<FVec3>(); }
template <> std::vector<DPoint2D> BoundaryValues() { return CompoundBoundaries<DPoint2D>(); }
template <> std::vector<DPoint3D> BoundaryValues() { return CompoundBoundaries<DPoint3D>(); }
template <> std::vector<FPoint3D> BoundaryValues() { return CompoundBoundaries<FPoint3D>(); }
template <> std::vector<Quaternion<float>> BoundaryValues() { return CompoundBoundaries<Quaternion<float>>(); }
// clang-format on

template <class T>
class SingleValueRoundTripTest : public testing::Test {};

using SingleTypes =
    testing::Types<bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                   std::uint32_t, std::int64_t, std::uint64_t, float, double, Symbol, Color,
                   DPoint2D, DPoint3D, FPoint3D, DVec2, DVec3, FVec3, Location, Quaternion<float>>;
TYPED_TEST_SUITE(SingleValueRoundTripTest, SingleTypes);

TYPED_TEST(SingleValueRoundTripTest, EveryBoundaryValueComesBackBitForBit) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* element = top->StartContent("values");
    for (const TypeParam& value : BoundaryValues<TypeParam>())
        element->AddProperty("v", value);
    element->EndContent();
    std::string text;
    Tree back = RoundTrip(*top, &text);
    EXPECT_EQ(contentcompare::FirstDifference(*top, *back), "") << text;
}

template <class T>
class ArrayRoundTripTest : public testing::Test {};

using ArrayElementTypes =
    testing::Types<std::uint32_t, float, double, Color, DPoint2D, Symbol, bool>;
TYPED_TEST_SUITE(ArrayRoundTripTest, ArrayElementTypes);

TYPED_TEST(ArrayRoundTripTest, ArraysComeBackItemForItem) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* element = top->StartContent("arrays");
    element->AddProperty("empty", std::vector<TypeParam>{});
    element->AddProperty("boundaries", BoundaryValues<TypeParam>());
    element->EndContent();
    std::string text;
    Tree back = RoundTrip(*top, &text);
    EXPECT_EQ(contentcompare::FirstDifference(*top, *back), "") << text;
}

TEST(RoundTripTest, NamesAndStructureSurvive) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* a = top->StartContent("a:with:colons");
    a->AddProperty("", std::int32_t{1});
    a->AddProperty("\xC3\xA9 & <x>", std::int32_t{2});
    a->StartContent("")->EndContent();
    a->EndContent();
    top->StartContent("b")->EndContent();
    Tree back = RoundTrip(*top);
    EXPECT_EQ(contentcompare::FirstDifference(*top, *back), "");
}

TEST(RoundTripTest, MillionItemArraysStayExact) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* a = top->StartContent("a");
    std::vector<float> values(1000000);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = std::bit_cast<float>(static_cast<std::uint32_t>(i * 2654435761u));
    }
    a->AddProperty("random", values);
    a->EndContent();
    Tree back = RoundTrip(*top);
    EXPECT_EQ(contentcompare::FirstDifference(*top, *back), "");
}

}  // namespace
