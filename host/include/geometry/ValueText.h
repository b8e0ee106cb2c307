// ValueText: the text form of every value kind carried in XML element text and attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "geometry/Export.h"
#include "geometry/ValueTypes.h"

// The forms, written exactly and read back bit for bit (docs/format.md shows them to authors):
//   32/64-bit integer  decimal, "-" for negatives: "-42". Read: optional sign; a 32-bit value
//                      also accepts 2147483648..4294967295 and a 64-bit value
//                      9223372036854775808..18446744073709551615, taken as the same bits.
//   float, double      shortest text that reads back to the same bits: "0.1", "-0", "1e+300",
//                      "inf", "-inf", "nan", "-nan"; a NaN other than the default quiet NaN
//                      carries its fraction bits: "nan(0x1)".
//   bool               "true" / "false". Read: also "1" / "0", any letter case.
//   packed colour      "#" and eight lower-case hex digits, 0xRRGGBBAA: "#ff8000ff". Read:
//                      "#" or "0x" optional, 1 to 8 digits; "#" with exactly six digits
//                      means full alpha.
//   compound values    components separated by one space, in declaration order:
//                      DVec2/DPoint2D "x y"; DVec3/DPoint3D/FVec3/FPoint3D "x y z";
//                      Quaternion "x y z w"; Location "px py pz qx qy qz qw scale".
//                      Read: separated by white space and/or one comma.
// Reading skips leading and trailing white space everywhere.

// What reading a value text found.
struct GEOMETRY_API ValueParseResult {
    enum Status {
        Ok = 0,
        Empty,       // nothing but white space
        Invalid,     // not a value of the kind
        OutOfRange,  // a number beyond the kind's range
    };
    Status status = Ok;
    std::size_t offset = 0;  // where in the text the problem starts

    explicit operator bool() const noexcept { return status == Ok; }
    // "ok", or the problem and its offset.
    std::string description() const;
};

// Appends the text form of a value to out.
GEOMETRY_API void AppendValueText(std::string& out, std::int32_t value);
GEOMETRY_API void AppendValueText(std::string& out, std::int64_t value);
GEOMETRY_API void AppendValueText(std::string& out, float value);
GEOMETRY_API void AppendValueText(std::string& out, double value);
GEOMETRY_API void AppendValueText(std::string& out, bool value);
GEOMETRY_API void AppendValueText(std::string& out, const DVec2& value);
GEOMETRY_API void AppendValueText(std::string& out, const DVec3& value);
GEOMETRY_API void AppendValueText(std::string& out, const FVec3& value);
GEOMETRY_API void AppendValueText(std::string& out, const DPoint2D& value);
GEOMETRY_API void AppendValueText(std::string& out, const DPoint3D& value);
GEOMETRY_API void AppendValueText(std::string& out, const FPoint3D& value);
GEOMETRY_API void AppendValueText(std::string& out, const Quaternion<float>& value);
GEOMETRY_API void AppendValueText(std::string& out, const Location& value);
// Appends the packed colour form ("#rrggbbaa") of a 32-bit value.
GEOMETRY_API void AppendHexText(std::string& out, std::uint32_t value);

// Reads text as a value of the kind of value. On failure value holds the kind's default (zero,
// false, the zero vector, the identity quaternion, the default Location).
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, std::int32_t& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, std::int64_t& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, float& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, double& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, bool& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, DVec2& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, DVec3& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, FVec3& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, DPoint2D& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, DPoint3D& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, FPoint3D& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, Quaternion<float>& value);
GEOMETRY_API ValueParseResult ParseValueText(std::string_view text, Location& value);
// Reads the packed colour form into a 32-bit value.
GEOMETRY_API ValueParseResult ParseHexText(std::string_view text, std::uint32_t& value);

// The text form of a value, as a new string.
template <class T>
std::string ValueToText(const T& value) {
    std::string out;
    AppendValueText(out, value);
    return out;
}
