// Every type of the value table, at its boundary values, through every persistent form (Formats.h)
// and back bit for bit: NaN payloads, signs of zero, denormals, limits, awkward strings, images
// through the real BMP modules and shapes. Types content files cannot hold go through JSON alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <tuple>
#include <type_traits>
#include <vector>

#include "Formats.h"
#include "TestFiles.h"
#include "geometry/MeshBuilder.h"
#include "geometry/ValueComponents.h"
#include "kestrel/values/ValueTraits.h"

namespace {

using formats::Tree;

template <class F>
F FromBits(std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t> bits) {
    return std::bit_cast<F>(bits);
}

// The float whose shortest text, 7.038531e-26, rounds to another float when read as a double
// first: with its negative, the only one where double rounding shows (found by trying them all).
const std::uint32_t kDoubleRoundingFloat = 0x15ae43fd;

template <class T>
std::vector<T> Values();

template <class T>
std::vector<T> IntegerValues() {
    using Limits = std::numeric_limits<T>;
    return {Limits::min(),      static_cast<T>(Limits::min() + 1), T{0},         T{1},
            static_cast<T>(-1), static_cast<T>(Limits::max() - 1), Limits::max()};
}

template <class F>
std::vector<F> RealValues() {
    using Limits = std::numeric_limits<F>;
    using Bits = std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>;
    const Bits exponent = sizeof(F) == 4 ? Bits(0x7f800000u) : Bits(0x7ff0000000000000u);
    const Bits sign = Bits{1} << (sizeof(F) * 8 - 1);
    // clang-format off
    return {F(0), -F(0), F(1), -F(1), F(1) / F(3), F(0.1), F(1e7), F(16777216), F(123456789),
            Limits::min(), -Limits::min(), Limits::denorm_min(), -Limits::denorm_min(),
            FromBits<F>(std::bit_cast<Bits>(Limits::min()) - 1),  // the largest denormal
            Limits::max(), Limits::lowest(), Limits::epsilon(),
            Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN(), -Limits::quiet_NaN(),
            FromBits<F>(exponent | 1),              // signalling NaN, payload 1
            FromBits<F>(sign | exponent | 0x1234),  // negative NaN with a payload
            FromBits<F>(Bits(~Bits{0}))};
    // clang-format on
}

// clang-format off
template <> std::vector<bool> Values() { return {true, false}; }
template <> std::vector<std::int8_t> Values() { return IntegerValues<std::int8_t>(); }
template <> std::vector<std::uint8_t> Values() { return IntegerValues<std::uint8_t>(); }
template <> std::vector<std::int16_t> Values() { return IntegerValues<std::int16_t>(); }
template <> std::vector<std::uint16_t> Values() { return IntegerValues<std::uint16_t>(); }
template <> std::vector<std::int32_t> Values() { return IntegerValues<std::int32_t>(); }
template <> std::vector<std::uint32_t> Values() { return IntegerValues<std::uint32_t>(); }
template <> std::vector<std::int64_t> Values() { return IntegerValues<std::int64_t>(); }
template <> std::vector<std::uint64_t> Values() { return IntegerValues<std::uint64_t>(); }
template <> std::vector<double> Values() { return RealValues<double>(); }
template <> std::vector<DHex> Values() { return {{0}, {1}, {0x0123456789abcdef}, {~std::uint64_t{0}}}; }
template <> std::vector<Color> Values() {
    return {Color(0u), Color(0xffffffffu), Color(0x12345678u), Color(0xff000000u)};
}
// clang-format on

template <>
std::vector<float> Values() {
    std::vector<float> values = RealValues<float>();
    values.push_back(FromBits<float>(kDoubleRoundingFloat));
    return values;
}

template <>
std::vector<Symbol> Values() {
    // clang-format off
    return {Symbol(), Symbol(" "), Symbol("\n"), Symbol("  leading and trailing  "),
            Symbol("\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 \xE2\x80\xA8"),
            Symbol("<tag attr=\"v\"> & 'quotes' ]]> &amp; &#10; &unknown; %s %n"),
            Symbol("\"quotes\" \\backslash\\ /slash/ \\u0041"), Symbol("tab\tnewline\ncr\rcrlf\r\n"),
            Symbol("\x7f\xC2\x85 discouraged but allowed"), Symbol("#ff0000ff"), Symbol("nan"),
            Symbol("\b\f\x01\x02\x1f control"), Symbol(std::string_view("nul\0inside", 10))};
    // clang-format on
}

// Compound values with their components drawn from the real values in turn.
template <class V>
std::vector<V> CompoundValues() {
    using Component =
        std::remove_pointer_t<std::remove_cvref_t<decltype(Components(std::declval<V&>())[0])>>;
    const std::vector<Component> reals = Values<Component>();
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

// clang-format off
template <> std::vector<DVec2> Values() { return CompoundValues<DVec2>(); }
template <> std::vector<DVec3> Values() { return CompoundValues<DVec3>(); }
template <> std::vector<FVec3> Values() { return CompoundValues<FVec3>(); }
template <> std::vector<DPoint2D> Values() { return CompoundValues<DPoint2D>(); }
template <> std::vector<DPoint3D> Values() { return CompoundValues<DPoint3D>(); }
template <> std::vector<FPoint3D> Values() { return CompoundValues<FPoint3D>(); }
template <> std::vector<Quaternion<float>> Values() { return CompoundValues<Quaternion<float>>(); }
template <> std::vector<Location> Values() { return CompoundValues<Location>(); }
// clang-format on

// Every vertex type (written by its positions), with a NaN payload, -0 and a denormal among the
// positions; empty shapes and one without triangles.
template <>
std::vector<SmartPtr<Shape>> Values() {
    std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    positions[4] = std::bit_cast<float>(0x7fc01234u);
    positions[5] = -0.0f;
    positions[7] = std::bit_cast<float>(0x00000001u);
    const std::vector<std::uint32_t> triangles = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    std::vector<SmartPtr<Shape>> shapes = {SmartPtr<Shape>(), MakeMeshShape({}, {}),
                                           MakeMeshShape({1, 2, 3}, {})};
    for (unsigned type : {0u, 1u, 2u, 3u})
        shapes.push_back(MakeMeshShape(positions, triangles, VertexType(type)));
    return shapes;
}

// Both pixel formats, odd widths whose rows are padded, one pixel and a large image.
template <>
std::vector<SmartPtr<Image>> Values() {
    std::vector<SmartPtr<Image>> images = {SmartPtr<Image>()};
    for (const auto& [width, height, format] :
         {std::tuple{64u, 48u, PixelFormat::RGBA8}, std::tuple{64u, 48u, PixelFormat::RGB8},
          std::tuple{7u, 5u, PixelFormat::RGB8}, std::tuple{3u, 9u, PixelFormat::RGBA8},
          std::tuple{1u, 1u, PixelFormat::RGB8}, std::tuple{1500u, 1000u, PixelFormat::RGBA8}}) {
        SmartPtr<Image> image(new Image(width, height, format));
        for (std::size_t i = 0; i < image->GetPixelBytes(); ++i)
            image->GetPixels()[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
        images.push_back(image);
    }
    return images;
}

// Whether content files give value back: XML 1.0 cannot carry control characters but tab, LF and
// CR (the writer puts U+FFFD), a null shape is not written and a null image does not load back.
template <class T>
bool XmlKeeps(const T& value) {
    if constexpr (std::is_same_v<T, Symbol>) {
        return std::none_of(value.view().begin(), value.view().end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
        });
    } else if constexpr (std::is_same_v<T, SmartPtr<Shape>> || std::is_same_v<T, SmartPtr<Image>>) {
        return bool(value);
    } else {
        return true;
    }
}

template <class T>
std::vector<T> ValuesFor(bool xml) {
    std::vector<T> values = Values<T>();
    if (xml)
        std::erase_if(values, [](const T& value) { return !XmlKeeps(value); });
    return values;
}

// The values put in properties of type T: those of the type, or for arrays an empty array and
// one of all the values of the item type.
template <class T>
std::vector<T> PropertyValues(bool xml) {
    if constexpr (kestrel::values::ValueTraits<T>::isArray)
        return {T{}, ValuesFor<typename kestrel::values::ValueTraits<T>::Item>(xml)};
    else
        return ValuesFor<T>(xml);
}

// A shape list is written, but loads back as separate shape properties (ShapePropertyTest).
template <class T>
constexpr bool kXmlHolds =
    kestrel::values::ValueTraits<T>::xmlCarries && !std::is_same_v<T, std::vector<SmartPtr<Shape>>>;

template <class... Ts>
testing::Types<Ts...> AsTestTypes(serializedContent::TypeList<Ts...>);

template <class T>
class RoundTripTest : public testing::Test {};
TYPED_TEST_SUITE(RoundTripTest, decltype(AsTestTypes(kestrel::values::ValueTypes{})));

TYPED_TEST(RoundTripTest, BoundaryValuesComeBackBitForBitInEveryFormat) {
    using Traits = kestrel::values::ValueTraits<TypeParam>;
    testfiles::TempDir dir;
    for (const formats::Format& format : formats::kFormats) {
        if (format.xml && !kXmlHolds<TypeParam>)
            continue;
        Tree top(SerializedContentElement::CreateTopElement("figure"));
        SerializedContentElement* element = top->StartContent("values");
        for (const TypeParam& value : PropertyValues<TypeParam>(format.xml))
            element->AddPropertyValue("v", value);
        element->AddProperty("after", std::int32_t{7});
        element->EndContent();
        EXPECT_EQ(formats::Difference(format, *top, dir.path()), "");
        // Files name the type as the value table does (an array by its items' type).
        const std::string type = "type=\"" + std::string(Traits::itemTypeName) + "\"";
        EXPECT_TRUE(!format.xml || kestrel::SaveText(*top).find(type) != std::string::npos);
    }
}

}  // namespace
