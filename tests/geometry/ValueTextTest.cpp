#include "geometry/ValueText.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "geometry/ValueComponents.h"

namespace {

using Status = ValueParseResult::Status;
constexpr auto Ok = ValueParseResult::Ok;
constexpr auto Empty = ValueParseResult::Empty;
constexpr auto Invalid = ValueParseResult::Invalid;
constexpr auto OutOfRange = ValueParseResult::OutOfRange;

// Floating point values are compared through their bits so that NaN payloads and the sign of
// zero count; the compound types have no padding, so their bytes are their value.
template <class T>
bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class T>
using BitsOf = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;

// The packed colour is the one kind read and written under its own name.
template <class T>
ValueParseResult Read(std::string_view text, T& value) {
    if constexpr (std::is_same_v<T, std::uint32_t>)
        return ParseHexText(text, value);
    else
        return ParseValueText(text, value);
}

template <class T>
std::string Show(const T& value) {
    std::string text;
    if constexpr (std::is_same_v<T, std::uint32_t>)
        AppendHexText(text, value);
    else
        AppendValueText(text, value);
    return text;
}

// A value unlike the default, so that a failed read visibly resets it.
template <class T>
T Sentinel() {
    if constexpr (std::is_same_v<T, bool>) {
        return true;
    } else {
        std::array<unsigned char, sizeof(T)> bytes;
        bytes.fill(0x41);
        return std::bit_cast<T>(bytes);
    }
}

template <class T>
struct Row {
    std::string_view text;
    Status status;
    std::size_t offset;    // checked when status is not Ok
    T value;               // the kind's default when status is not Ok
    bool written = false;  // value is also written exactly as text
};

template <class T>
void ExpectRows(std::span<const Row<T>> rows) {
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << '"' << row.text << '"');
        T value = Sentinel<T>();
        const ValueParseResult result = Read(row.text, value);
        EXPECT_EQ(result.status, row.status) << result.description();
        if (row.status != Ok) {
            EXPECT_EQ(result.offset, row.offset) << result.description();
        }
        EXPECT_TRUE(SameBits(value, row.value)) << Show(value) << " != " << Show(row.value);
        if (row.written) {
            EXPECT_EQ(Show(row.value), row.text);
        }
    }
}

// ---- Integers -----------------------------------------------------------------------------------

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();

TEST(ValueText, Int32) {
    // clang-format off
    const Row<std::int32_t> rows[] = {
        {"0", Ok, 0, 0, true}, {"2147483647", Ok, 0, 2147483647, true}, {"-2147483648", Ok, 0, kInt32Min, true},
        {" 42 ", Ok, 0, 42},
        // Above the signed range: the same 32 bits.
        {"2147483648", Ok, 0, kInt32Min}, {"4294967295", Ok, 0, -1}, {"4294967296", OutOfRange, 0, 0},
        {"  -99999999999999999999999", OutOfRange, 2, 0}, {"", Empty, 0, 0}, {"abc", Invalid, 0, 0},
        {"12x", Invalid, 2, 0}, {"--1", Invalid, 1, 0},
    };
    // clang-format on
    ExpectRows<std::int32_t>(rows);
}

TEST(ValueText, Int64) {
    // clang-format off
    const Row<std::int64_t> rows[] = {
        {"0", Ok, 0, 0, true}, {"9223372036854775807", Ok, 0, std::numeric_limits<std::int64_t>::max(), true},
        {"-9223372036854775808", Ok, 0, kInt64Min, true}, {"9223372036854775808", Ok, 0, kInt64Min},
        {"18446744073709551615", Ok, 0, -1}, {"18446744073709551616", OutOfRange, 0, 0},
        {"-9223372036854775809", OutOfRange, 0, 0}, {"9223372036854775807x", Invalid, 19, 0}, {"", Empty, 0, 0},
    };
    // clang-format on
    ExpectRows<std::int64_t>(rows);
}

// ---- Floating point -----------------------------------------------------------------------------

template <class Real>
Row<Real> Reads(std::string_view text, Status status, std::size_t offset, BitsOf<Real> bits) {
    return {text, status, offset, std::bit_cast<Real>(bits)};
}

template <class Real>
Row<Real> Writes(BitsOf<Real> bits, std::string_view text) {
    return {text, Ok, 0, std::bit_cast<Real>(bits), true};
}

TEST(ValueText, Float) {
    // clang-format off
    const Row<float> rows[] = {
        Writes<float>(0x00000000, "0"), Writes<float>(0x80000000, "-0"), Writes<float>(0x3dcccccd, "0.1"),
        Writes<float>(0x00000001, "1e-45"), Writes<float>(0x00800000, "1.1754944e-38"),
        Writes<float>(0x7f7fffff, "3.4028235e+38"), Writes<float>(0x7f800000, "inf"), Writes<float>(0x7fc00000, "nan"),
        Writes<float>(0x7f800001, "nan(0x1)"), Writes<float>(0x7fffffff, "nan(0x7fffff)"),
        Writes<float>(0xffc00001, "-nan(0x400001)"), Reads<float>(" \t-2.5e1\n", Ok, 0, 0xc1c80000),
        Reads<float>("+.5", Ok, 0, 0x3f000000), Reads<float>("1E3", Ok, 0, 0x447a0000),
        Reads<float>("1.4e-45", Ok, 0, 0x00000001),
        // Rounded once, from the text: through double this would be a tie and round to 1.
        Reads<float>("1.00000005960464477539062500000000000000000000001", Ok, 0, 0x3f800001),
        Reads<float>("1.000000059604644775390625", Ok, 0, 0x3f800000),
        // Beyond the range: infinity or zero, with the sign.
        Reads<float>("1e39", Ok, 0, 0x7f800000), Reads<float>("1e-46", Ok, 0, 0x00000000),
        Reads<float>("12345e-99999999999999999999", Ok, 0, 0x00000000),
        Reads<float>("0e99999999999999999999", Ok, 0, 0x00000000),
        // Names, in any letter case.
        Reads<float>("+INF", Ok, 0, 0x7f800000), Reads<float>("-Infinity", Ok, 0, 0xff800000),
        Reads<float>("nan(0X7FFFFF)", Ok, 0, 0x7fffffff), Reads<float>("nan(0x400000)", Ok, 0, 0x7fc00000),
        // Not numbers; the value is zero.
        Reads<float>("", Empty, 0, 0), Reads<float>("true", Invalid, 0, 0), Reads<float>("1.5x", Invalid, 3, 0),
        Reads<float>(".", Invalid, 0, 0), Reads<float>("1e+", Invalid, 1, 0), Reads<float>("0x1p3", Invalid, 1, 0),
        Reads<float>("infx", Invalid, 3, 0), Reads<float>("nanx", Invalid, 3, 0), Reads<float>("nan()", Invalid, 4, 0),
        Reads<float>("nan(0x0)", Invalid, 4, 0), Reads<float>("nan(0x800000)", Invalid, 4, 0),
        Reads<float>("nan(0x000000000000000000000800000)", Invalid, 4, 0), Reads<float>("nan(0x1", Invalid, 7, 0),
        Reads<float>("-nan(0x1g)", Invalid, 8, 0),
    };
    // clang-format on
    ExpectRows<float>(rows);
}

TEST(ValueText, Double) {
    // clang-format off
    const Row<double> rows[] = {
        Writes<double>(0x0000000000000000, "0"), Writes<double>(0x8000000000000000, "-0"),
        Writes<double>(0x7e37e43c8800759c, "1e+300"), Writes<double>(0x0000000000000001, "5e-324"),
        Writes<double>(0x0010000000000000, "2.2250738585072014e-308"),
        Writes<double>(0x7fefffffffffffff, "1.7976931348623157e+308"), Writes<double>(0x7ff0000000000000, "inf"),
        Writes<double>(0x7ff0000000000001, "nan(0x1)"), Writes<double>(0x7fffffffffffffff, "nan(0xfffffffffffff)"),
        Writes<double>(0xfff8000000000001, "-nan(0x8000000000001)"), Reads<double>("3e-324", Ok, 0, 0x0000000000000001),
        Reads<double>("2e-324", Ok, 0, 0x0000000000000000), Reads<double>("-1e-400", Ok, 0, 0x8000000000000000),
        Reads<double>("1e400", Ok, 0, 0x7ff0000000000000), Reads<double>("nan(0x10000000000000)", Invalid, 4, 0),
        Reads<double>("1e308 ", Ok, 0, 0x7fe1ccf385ebc8a0), Reads<double>("1e308x", Invalid, 5, 0),
    };
    // clang-format on
    ExpectRows<double>(rows);
}

// ---- Booleans and packed colours ----------------------------------------------------------------

TEST(ValueText, Bool) {
    // clang-format off
    const Row<bool> rows[] = {
        {"true", Ok, 0, true, true}, {"false", Ok, 0, false, true}, {"tRuE", Ok, 0, true}, {" False\n", Ok, 0, false},
        {"1", Ok, 0, true}, {" 0 ", Ok, 0, false}, {"", Empty, 0, false}, {"yes", Invalid, 0, false},
        {"t", Invalid, 0, false}, {"2", Invalid, 0, false}, {"-1", Invalid, 0, false}, {"10", Invalid, 1, false},
        {"truex", Invalid, 4, false}, {"true false", Invalid, 5, false},
    };
    // clang-format on
    ExpectRows<bool>(rows);
}

TEST(ValueText, PackedColour) {
    // clang-format off
    const Row<std::uint32_t> rows[] = {
        {"#00000000", Ok, 0, 0x00000000, true}, {"#deadbeef", Ok, 0, 0xdeadbeef, true}, {"#FF8000", Ok, 0, 0xff8000ff},
        {"0xff8000", Ok, 0, 0x00ff8000}, {"ff8000", Ok, 0, 0x00ff8000}, {"#fff", Ok, 0, 0x00000fff},
        {" #DeadBeef\t", Ok, 0, 0xdeadbeef}, {"", Empty, 0, 0}, {"#", Invalid, 1, 0}, {"0x", Invalid, 2, 0},
        {"#12345g", Invalid, 6, 0}, {"# 12", Invalid, 1, 0}, {"#12 34", Invalid, 4, 0}, {"0x0x1", Invalid, 3, 0},
        {"#123456789", OutOfRange, 1, 0}, {"0x000000001", OutOfRange, 2, 0},
    };
    // clang-format on
    ExpectRows<std::uint32_t>(rows);
}
// ---- Compound values ----------------------------------------------------------------------------

template <class V>
class CompoundValueText : public testing::Test {
protected:
    using Scalar =
        std::remove_pointer_t<typename decltype(Components(std::declval<V&>()))::value_type>;
    static constexpr std::size_t kCount = sizeof(V) / sizeof(Scalar);
    static_assert(sizeof(V) == kCount * sizeof(Scalar), "components must be packed");

    // Components are laid out in declaration order, the order of the text.
    static V FromComponents(const std::array<Scalar, kCount>& components) {
        return std::bit_cast<V>(components);
    }

    // "1<sep>2<sep>...<sep>count"
    static std::string Numbers(std::size_t count, std::string_view separator) {
        std::string text;
        for (std::size_t i = 1; i <= count; ++i)
            text += (i > 1 ? std::string(separator) : "") + std::to_string(i);
        return text;
    }

    static V OneToN() {
        std::array<Scalar, kCount> components;
        for (std::size_t i = 0; i < kCount; ++i)
            components[i] = Scalar(i + 1);
        return FromComponents(components);
    }
};

using CompoundKinds =
    testing::Types<DVec2, DVec3, FVec3, DPoint2D, DPoint3D, FPoint3D, Quaternion<float>, Location>;
TYPED_TEST_SUITE(CompoundValueText, CompoundKinds);

TYPED_TEST(CompoundValueText, ReadsAnySeparatorOfWhiteSpaceAndOneComma) {
    EXPECT_EQ(ValueToText(this->OneToN()), this->Numbers(this->kCount, " "));
    for (std::string_view separator : {" ", ",", " , ", "\t\r\n", "  ,\n"}) {
        const std::string text = "\n " + this->Numbers(this->kCount, separator) + " \t";
        TypeParam value = Sentinel<TypeParam>();
        const ValueParseResult result = ParseValueText(text, value);
        EXPECT_TRUE(result) << '"' << text << "\": " << result.description();
        EXPECT_TRUE(SameBits(value, this->OneToN())) << text;
    }
}

TYPED_TEST(CompoundValueText, MalformedTextsGiveTheDefault) {
    const std::string all = this->Numbers(this->kCount, " ");
    const std::string fewer = this->Numbers(this->kCount - 1, " ");
    const std::string more = this->Numbers(this->kCount + 1, ",");
    const struct {
        std::string text;
        Status status;
        std::size_t offset;
    } rows[] = {
        {"", Empty, 0},
        {" \n", Empty, 0},
        {fewer, Invalid, fewer.size()},
        {more, Invalid, more.rfind(',')},
        {all + ",", Invalid, all.size()},
        {"," + all, Invalid, 0},
        {"1,," + all.substr(2), Invalid, 2},
        {"1;" + all.substr(2), Invalid, 1},
        {"1 x" + all.substr(3), Invalid, 2},
        {"nan(0x0)" + all.substr(1), Invalid, 4},
    };
    for (const auto& row : rows) {
        TypeParam value = Sentinel<TypeParam>();
        const ValueParseResult result = ParseValueText(row.text, value);
        EXPECT_EQ(result.status, row.status) << '"' << row.text << "\": " << result.description();
        EXPECT_EQ(result.offset, row.offset) << '"' << row.text << "\": " << result.description();
        EXPECT_TRUE(SameBits(value, TypeParam{})) << '"' << row.text << '"';
    }
}

// Every bit pattern, NaNs and denormals included, survives the trip through text.
TYPED_TEST(CompoundValueText, RandomBitPatternsRoundTrip) {
    using Scalar = typename TestFixture::Scalar;
    std::mt19937_64 random(this->kCount);
    for (int i = 0; i < 20000; ++i) {
        std::array<Scalar, TestFixture::kCount> components;
        for (Scalar& component : components) {
            component = std::bit_cast<Scalar>(BitsOf<Scalar>(random()));
        }
        const TypeParam value = this->FromComponents(components);
        const std::string text = ValueToText(value);
        TypeParam back = Sentinel<TypeParam>();
        const ValueParseResult result = ParseValueText(text, back);
        ASSERT_TRUE(result) << text << ": " << result.description();
        ASSERT_TRUE(SameBits(back, value)) << text;
    }
}

TEST(ValueText, CompoundExamples) {
    EXPECT_EQ(ValueToText(Quaternion<float>{}), "0 0 0 1");
    EXPECT_EQ(ValueToText(Location{}), "0 0 0 0 0 0 1 1");
    EXPECT_EQ(ValueToText(Location{{1, -2, 3.5}, {0.5, 0.5, 0.5, 0.5}, 2}),
              "1 -2 3.5 0.5 0.5 0.5 0.5 2");
    EXPECT_EQ(ValueToText(FVec3{0.1f, -0.0f, 1e10f}), "0.1 -0 1e+10");
    EXPECT_EQ(ValueToText(DVec2{0.1, std::numeric_limits<double>::quiet_NaN()}), "0.1 nan");
}

TEST(ValueText, ResultDescriptions) {
    const struct {
        std::string_view text;
        std::string_view description;
    } rows[] = {
        {" 12 ", "ok"},
        {"   ", "empty value"},
        {"12 x", "not a number at offset 3"},
        {"4294967296", "out of range at offset 0"},
    };
    for (const auto& row : rows) {
        std::int32_t value = 0;
        EXPECT_EQ(ParseValueText(row.text, value).description(), row.description) << row.text;
    }
}

}  // namespace
