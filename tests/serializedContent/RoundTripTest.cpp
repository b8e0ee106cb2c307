// Every value type, images (through the real BMP modules) and shapes included, through the
// writer, XML text and the reader, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "ContentCompare.h"
#include "Documents.h"
#include "geometry/ValueComponents.h"

namespace {

using documents::Tree;

// Writes top's children into text and reads the text back.
Tree RoundTrip(const SerializedContentElement& top, std::string* textOut = nullptr) {
    std::string text = documents::Write(top);
    Tree back = documents::Read(text);
    if (textOut)
        *textOut = std::move(text);
    return back;
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

template <class T>
std::vector<T> BoundaryValues() {
    if constexpr (std::is_same_v<T, bool>) {
        return {true, false};
    } else if constexpr (std::is_integral_v<T>) {
        using Limits = std::numeric_limits<T>;
        return {Limits::min(),      static_cast<T>(Limits::min() + 1), T{0},         T{1},
                static_cast<T>(-1), static_cast<T>(Limits::max() - 1), Limits::max()};
    } else if constexpr (std::is_floating_point_v<T>) {
        return RealBoundaries<T>();
    } else if constexpr (std::is_same_v<T, Symbol>) {
        // Control characters other than tab, LF and CR are left out: XML 1.0 cannot carry them,
        // and the writer puts U+FFFD for them (XmlElemTest).
        return {Symbol(),
                Symbol(" "),
                Symbol("  leading and trailing  "),
                Symbol("\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"),
                Symbol("<tag attr=\"v\"> & 'quotes' ]]> &amp;"),
                Symbol("tab\tnewline\ncr\rcrlf\r\n"),
                Symbol("\x7f\xC2\x85 discouraged but allowed"),
                Symbol("\n"),
                Symbol("&#10; &unknown; %s %n")};
    } else if constexpr (std::is_same_v<T, Color>) {
        return {Color(0u), Color(0xffffffffu), Color(0x12345678u), Color(0xff000000u)};
    } else if constexpr (std::is_same_v<T, SmartPtr<Image>>) {
        // Both pixel formats, odd widths whose rows are padded, one pixel and a large image.
        std::vector<SmartPtr<Image>> images;
        for (const auto& [width, height, format] :
             {std::tuple{64u, 48u, PixelFormat::RGBA8}, std::tuple{64u, 48u, PixelFormat::RGB8},
              std::tuple{7u, 5u, PixelFormat::RGB8}, std::tuple{3u, 9u, PixelFormat::RGBA8},
              std::tuple{1u, 1u, PixelFormat::RGB8},
              std::tuple{1500u, 1000u, PixelFormat::RGBA8}}) {
            SmartPtr<Image> image(new Image(width, height, format));
            for (std::size_t i = 0; i < image->GetPixelBytes(); ++i)
                image->GetPixels()[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
            images.push_back(image);
        }
        return images;
    } else if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
        // Every vertex type (written by its positions), with a NaN payload, -0 and a subnormal
        // among the positions; empty shapes and one without triangles.
        std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
        positions[4] = std::bit_cast<float>(0x7fc01234u);
        positions[5] = -0.0f;
        positions[7] = std::bit_cast<float>(0x00000001u);
        const std::vector<std::uint32_t> triangles = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
        std::vector<SmartPtr<Shape>> shapes = {MakeMeshShape({}, {}), MakeMeshShape({1, 2, 3}, {})};
        for (unsigned type : {0u, 1u, 2u, 3u})
            shapes.push_back(MakeMeshShape(positions, triangles, VertexType(type)));
        return shapes;
    } else {
        // Compound values with every component drawn from the real boundaries in turn.
        using Component =
            std::remove_pointer_t<std::remove_cvref_t<decltype(Components(std::declval<T&>())[0])>>;
        const std::vector<Component> reals = RealBoundaries<Component>();
        std::vector<T> values;
        for (std::size_t i = 0; i < reals.size(); ++i) {
            T value{};
            std::size_t k = i;
            for (auto* component : Components(value))
                *component = reals[k++ % reals.size()];
            values.push_back(value);
        }
        return values;
    }
}

template <class T>
class SingleValueRoundTripTest : public testing::Test {};

using SingleTypes =
    testing::Types<bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                   std::uint32_t, std::int64_t, std::uint64_t, float, double, Symbol, Color,
                   DPoint2D, DPoint3D, FPoint3D, DVec2, DVec3, FVec3, Location, Quaternion<float>,
                   SmartPtr<Image>, SmartPtr<Shape>>;
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
