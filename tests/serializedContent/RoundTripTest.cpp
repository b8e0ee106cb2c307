// Every type of the value table, at its boundary values, and random trees of them, through every
// persistent form and back bit for bit: XML text, a file loaded through the module opened at run
// time, and canonical JSON. NaN payloads, signs of zero, denormals, limits, awkward strings,
// images through the real BMP modules and shapes; types files cannot hold go through JSON alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "ContentCompare.h"
#include "TestFiles.h"
#include "geometry/MeshBuilder.h"
#include "geometry/ValueComponents.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/load/Content.h"
#include "kestrel/values/ValueTraits.h"

namespace {

using Tree = SmartPtr<SerializedContentElement>;

using Element = SerializedContentElement;

// Strict, so that a type files cannot hold does not slip out unnoticed.
kestrel::SaveOptions Strict() {
    kestrel::SaveOptions options;
    options.strict = true;
    return options;
}

// A file named by its path as its text; loading goes through the module opened at run time.
std::string ToFile(const Element& tree, kestrel::Error* error) {
    static const testfiles::TempDir dir;
    const std::string path = (dir.path() / "tree.xml").string();
    *error = kestrel::Save(tree, path, Strict());
    return path;
}

struct Format {
    const char* name;
    bool xml;  // holds only what content files carry
    std::string (*write)(const Element&, kestrel::Error*);
    kestrel::LoadResult (*read)(const std::string&);
};

// clang-format off
const Format kFormats[] = {
    {"XmlText", true, [](const Element& tree, kestrel::Error* error) { return kestrel::SaveText(tree, error, Strict()); },
     [](const std::string& text) { return kestrel::LoadText(text); }},
    {"XmlFile", true, &ToFile, [](const std::string& path) { return kestrel::Load(path); }},
    {"Json", false, [](const Element& tree, kestrel::Error*) { return kestrel::json::WriteContentJson(tree); },
     [](const std::string& text) { return kestrel::json::ReadContentJson(text); }}};
// clang-format on

// "" when tree comes back bit for bit through format and writes again the same text (JSON text
// that a JSON parser of its own takes), else what differs and the written form.
std::string Difference(const Format& format, const Element& tree) {
    kestrel::Error error;
    const std::string text = format.write(tree, &error);
    const kestrel::LoadResult back = error ? kestrel::LoadResult{} : format.read(text);
    std::string difference = error   ? "writing: " + error.description()
                             : !back ? "reading: " + back.error.description()
                                     : contentcompare::FirstDifference(tree, *back.tree);
    if (difference.empty() && format.write(*back.tree, &error) != text)
        difference = "the tree read back writes other text";
    if (difference.empty() && !format.xml && !nlohmann::json::accept(text))
        difference = "not JSON";
    return difference.empty() ? ""
                              : format.name + (": " + difference) + "\n" + text.substr(0, 4000);
}

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
    // The run-time table finds this type, and no other, by its name.
    const auto index = kestrel::values::IndexOfType(Traits::typeName);
    ASSERT_TRUE(index);
    EXPECT_EQ(PropertyValue(TypeParam{}).index(), *index);
    for (const Format& format : kFormats) {
        if (format.xml && !kXmlHolds<TypeParam>)
            continue;
        Tree top(SerializedContentElement::CreateTopElement("figure"));
        SerializedContentElement* element = top->StartContent("values");
        for (const TypeParam& value : PropertyValues<TypeParam>(format.xml))
            element->AddPropertyValue("v", value);
        element->AddProperty("after", std::int32_t{7});
        element->EndContent();
        EXPECT_EQ(Difference(format, *top), "");
        // Files name the type as the value table does (an array by its items' type).
        const std::string type = "type=\"" + std::string(Traits::itemTypeName) + "\"";
        EXPECT_TRUE(!format.xml || kestrel::SaveText(*top).find(type) != std::string::npos);
    }
}

// Random trees: elements with awkward names, nested at random, holding properties of random
// types and names with their boundary values (and, for reals, any bits at all).
class RandomTree {
public:
    RandomTree(std::uint64_t seed, bool xml) : random_(seed), xml_(xml) {
        kestrel::values::ForEachType([&]<class T>() {
            if (!xml || kXmlHolds<T>)
                adders_.push_back(&RandomTree::Add<T>);
        });
    }

    Tree Make() {
        Tree top(SerializedContentElement::CreateTopElement("figure"));
        std::vector<SerializedContentElement*> elements{top.get()};
        for (std::uint64_t i = 0, steps = Below(OneIn(20) ? 400 : 40); i < steps; ++i) {
            // Half the time below the newest element, for deep chains as well as wide levels.
            SerializedContentElement* at = OneIn(2) ? elements.back() : Pick(elements);
            if (OneIn(3))
                elements.push_back(at->StartContent(ElementName()));
            else if (!xml_ || at != top.get())  // the root of a file carries no properties
                (this->*Pick(adders_))(at);
        }
        return top;
    }

private:
    std::uint64_t Below(std::uint64_t n) { return n ? random_() % n : 0; }
    bool OneIn(std::uint64_t n) { return Below(n) == 0; }
    template <class T>
    T Pick(const std::vector<T>& from) {
        return from[Below(from.size())];
    }

    // XML names only for files, which refuse the others, and never "property", read back as one.
    Symbol ElementName() {
        static const std::vector<Symbol> kNames = {"a",
                                                   "a:b:c",
                                                   "_x.y-z9",
                                                   "Property",
                                                   "kestrel_sc:x",
                                                   "\xC3\xA9l\xC3\xA9ment",
                                                   "\xE6\x97\xA5\xE6\x9C\xAC\xC2\xB7",
                                                   "\xF0\x90\x80\x80"};
        return xml_ || OneIn(2) ? Pick(kNames) : Pick(Strings());
    }
    const std::vector<Symbol>& Strings() {
        static const std::vector<Symbol> strings[2] = {ValuesFor<Symbol>(false),
                                                       ValuesFor<Symbol>(true)};
        return strings[xml_];
    }

    template <class T>
    void Add(SerializedContentElement* element) {
        static const std::vector<T> values[2] = {PropertyValues<T>(false), PropertyValues<T>(true)};
        T value = Pick(values[xml_]);
        if constexpr (std::is_floating_point_v<T>) {
            if (OneIn(2))
                value = static_cast<T>(static_cast<std::int64_t>(Below(20001)) - 10000) / 100;
            if (OneIn(2))  // any bits, NaN payloads and denormals included
                value = std::bit_cast<T>(
                    static_cast<std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>(
                        random_()));
        }
        element->AddPropertyValue(Pick(Strings()), PropertyValue(std::move(value)));
    }

    std::mt19937_64 random_;
    bool xml_;
    std::vector<void (RandomTree::*)(SerializedContentElement*)> adders_;
};

std::uint64_t EnvironmentNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 0) : fallback;
}

// Tree i of a format comes from seed KESTREL_ROUNDTRIP_SEED + i; a failure names its seed, and
// KESTREL_ROUNDTRIP_COUNT=1 replays just that one.
TEST(RandomRoundTripTest, TreesComeBackUnchangedInEveryFormat) {
    const std::uint64_t first = EnvironmentNumber("KESTREL_ROUNDTRIP_SEED", 1000000);
    const std::uint64_t count =
        EnvironmentNumber("KESTREL_ROUNDTRIP_COUNT", KESTREL_TEST_RANDOM_TREES);
    for (const Format& format : kFormats) {
        // A file load waits on the host's fetch thread: fewer trees go through files.
        const std::uint64_t end =
            first + std::max<std::uint64_t>(1, format.write == &ToFile ? count / 5 : count);
        int failures = 0;
        for (std::uint64_t seed = first; seed < end && failures < 5; ++seed) {
            const std::string difference = Difference(format, *RandomTree(seed, format.xml).Make());
            failures += !difference.empty();
            EXPECT_EQ(difference, "") << "seed " << seed;
        }
    }
}

}  // namespace
