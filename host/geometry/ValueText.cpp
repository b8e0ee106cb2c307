// ValueText: the text form of every value kind carried in XML element text and attributes.
#include "geometry/ValueText.h"

#include "geometry/ValueComponents.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>

namespace {

using Status = ValueParseResult::Status;

bool IsSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

char LowerAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = LowerAscii(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::size_t SkipSpace(std::string_view text, std::size_t pos) noexcept {
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    return pos;
}

// Whether text at pos starts with word (lower case), in any letter case.
bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view word) noexcept {
    if (text.size() - pos < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (LowerAscii(text[pos + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// A scan of one token: on Ok, end is just past it; otherwise it is where the problem starts.
struct Scan {
    Status status;
    std::size_t end;
};

ValueParseResult Failure(Status status, std::size_t offset) noexcept {
    ValueParseResult result;
    result.status = status;
    result.offset = offset;
    return result;
}

// Reads a whole text made of one token read by scan, with white space around it.
template <class T, class Scanner>
ValueParseResult ParseWhole(std::string_view text, T& value, Scanner scan) {
    const std::size_t start = SkipSpace(text, 0);
    if (start == text.size()) {
        value = T{};
        return Failure(Status::Empty, 0);
    }
    Scan s = scan(text, start, value);
    if (s.status == Status::Ok) {
        const std::size_t rest = SkipSpace(text, s.end);
        if (rest == text.size()) {
            return ValueParseResult();
        }
        s = {Status::Invalid, rest};
    }
    value = T{};
    return Failure(s.status, s.end);
}

// ---- Integers -----------------------------------------------------------------------------------

template <class Int>
Scan ScanInteger(std::string_view text, std::size_t pos, Int& value) {
    using Unsigned = std::make_unsigned_t<Int>;
    const std::size_t start = pos;
    const bool negative = text[pos] == '-';
    if (negative || text[pos] == '+') {
        ++pos;
    }
    // from_chars would take a second sign, so the digits are checked for here.
    if (pos == text.size() || !IsDigit(text[pos])) {
        return {Status::Invalid, pos};
    }
    Unsigned magnitude = 0;
    const char* first = text.data() + pos;
    const auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), magnitude);
    // The negative range ends one past the positive signed range: 2^31 or 2^63.
    constexpr Unsigned kNegativeLimit = Unsigned(std::numeric_limits<Int>::max()) + 1;
    if (ec == std::errc::result_out_of_range || (negative && magnitude > kNegativeLimit)) {
        return {Status::OutOfRange, start};
    }
    // Above the signed range the same bits are meant: 4294967295 is -1 as a 32-bit value.
    value = Int(negative ? Unsigned(Unsigned(0) - magnitude) : magnitude);
    return {Status::Ok, std::size_t(ptr - text.data())};
}

// ---- Floating point -----------------------------------------------------------------------------

template <class Real>
struct RealBits {
    using Bits = std::conditional_t<sizeof(Real) == 4, std::uint32_t, std::uint64_t>;
    static constexpr int kFractionBits = std::numeric_limits<Real>::digits - 1;
    static constexpr Bits kFractionMask = (Bits(1) << kFractionBits) - 1;
    static constexpr Bits kQuietBit = Bits(1) << (kFractionBits - 1);
    static constexpr Bits kSignBit = Bits(1) << (sizeof(Bits) * 8 - 1);
    static constexpr Bits kExponentMask = ~kSignBit & ~kFractionMask;
};

template <class Real>
void AppendReal(std::string& out, Real value) {
    using B = RealBits<Real>;
    const auto bits = std::bit_cast<typename B::Bits>(value);
    // Big enough for the longest shortest form, "-2.2250738585072014e-308", and any NaN form.
    char buffer[32];
    char* end = buffer;
    if ((bits & B::kExponentMask) == B::kExponentMask && (bits & B::kFractionMask) != 0) {
        // to_chars drops a NaN's payload; write it so the value reads back bit for bit.
        if (bits & B::kSignBit) {
            *end++ = '-';
        }
        *end++ = 'n';
        *end++ = 'a';
        *end++ = 'n';
        const auto fraction = bits & B::kFractionMask;
        if (fraction != B::kQuietBit) {
            *end++ = '(';
            *end++ = '0';
            *end++ = 'x';
            end = std::to_chars(end, buffer + sizeof buffer, fraction, 16).ptr;
            *end++ = ')';
        }
    } else {
        end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    }
    out.append(buffer, end);
}

// Whether a decimal number that from_chars found out of range is too large rather than too small:
// the power of ten of its first nonzero digit is positive for an overflow, negative for an
// underflow, and no representable magnitude lies between.
bool DecimalOverflows(std::string_view number) noexcept {
    std::size_t i = 0;
    std::int64_t power = 0;
    bool found = false;
    std::int64_t integerDigits = 0;
    for (; i < number.size() && IsDigit(number[i]); ++i) {
        if (!found && number[i] != '0') {
            found = true;
            integerDigits = 0;
        }
        ++integerDigits;
    }
    if (found) {
        power = integerDigits - 1;
    }
    if (i < number.size() && number[i] == '.') {
        ++i;
        for (std::int64_t place = -1; i < number.size() && IsDigit(number[i]); ++i, --place) {
            if (!found && number[i] != '0') {
                found = true;
                power = place;
            }
        }
    }
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '-' || number[i] == '+')) {
            ++i;
        }
        // Saturated far beyond any count of digits a text can hold, so that it still decides.
        constexpr std::int64_t kHuge = 100'000'000'000'000'000;
        std::int64_t exponent = 0;
        for (; i < number.size() && IsDigit(number[i]); ++i) {
            exponent = std::min(exponent * 10 + (number[i] - '0'), kHuge);
        }
        power += negative ? -exponent : exponent;
    }
    return power >= 0;
}

// Reads "nan" and its optional "(0x<fraction>)" at pos, sign already seen.
template <class Real>
Scan ScanNan(std::string_view text, std::size_t pos, bool negative, Real& value) {
    using B = RealBits<Real>;
    using Bits = typename B::Bits;
    pos += 3;
    Bits fraction = B::kQuietBit;
    if (pos < text.size() && text[pos] == '(') {
        const std::size_t payload = pos + 1;
        if (!StartsWithNoCase(text, payload, "0x")) {
            return {Status::Invalid, payload};
        }
        fraction = 0;
        std::size_t i = payload + 2;
        int digit = 0;
        for (; i < text.size() && (digit = HexDigitValue(text[i])) >= 0; ++i) {
            // Once beyond the field it stays beyond, and the shift cannot overflow Bits.
            fraction = (fraction << 4) | Bits(digit);
            if (fraction > B::kFractionMask) {
                return {Status::Invalid, payload};
            }
        }
        // A zero fraction would be an infinity.
        if (fraction == 0) {
            return {Status::Invalid, payload};
        }
        if (i == text.size() || text[i] != ')') {
            return {Status::Invalid, i};
        }
        pos = i + 1;
    }
    value = std::bit_cast<Real>(Bits((negative ? B::kSignBit : 0) | B::kExponentMask | fraction));
    return {Status::Ok, pos};
}

template <class Real>
Scan ScanReal(std::string_view text, std::size_t pos, Real& value) {
    const bool negative = text[pos] == '-';
    if (negative || text[pos] == '+') {
        ++pos;
    }
    if (StartsWithNoCase(text, pos, "inf")) {
        value = negative ? -std::numeric_limits<Real>::infinity()
                         : std::numeric_limits<Real>::infinity();
        return {Status::Ok, pos + (StartsWithNoCase(text, pos, "infinity") ? 8 : 3)};
    }
    if (StartsWithNoCase(text, pos, "nan")) {
        return ScanNan(text, pos, negative, value);
    }
    // from_chars would take a second sign, and names handled above.
    if (pos == text.size() || !(IsDigit(text[pos]) || text[pos] == '.')) {
        return {Status::Invalid, pos};
    }
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    Real magnitude = 0;
    const auto [ptr, ec] = std::from_chars(first, last, magnitude, std::chars_format::general);
    if (ec == std::errc::invalid_argument) {
        return {Status::Invalid, pos};
    }
    if (ec == std::errc::result_out_of_range) {
        magnitude = DecimalOverflows(std::string_view(first, std::size_t(ptr - first)))
                        ? std::numeric_limits<Real>::infinity()
                        : Real(0);
    }
    value = negative ? -magnitude : magnitude;
    return {Status::Ok, std::size_t(ptr - text.data())};
}

// ---- Compound values ----------------------------------------------------------------------------

template <class V>
void AppendCompound(std::string& out, const V& value) {
    bool first = true;
    for (const auto* component : Components(value)) {
        if (!first) {
            out.push_back(' ');
        }
        first = false;
        AppendReal(out, *component);
    }
}

template <class V>
Scan ScanCompound(std::string_view text, std::size_t pos, V& value) {
    bool first = true;
    for (auto* component : Components(value)) {
        if (!first) {
            // Between components: white space, one comma, or both.
            const std::size_t separator = pos;
            pos = SkipSpace(text, pos);
            if (pos < text.size() && text[pos] == ',') {
                pos = SkipSpace(text, pos + 1);
            } else if (pos == separator && pos < text.size()) {
                return {Status::Invalid, pos};
            }
            if (pos == text.size()) {
                return {Status::Invalid, pos};
            }
        }
        first = false;
        const Scan s = ScanReal(text, pos, *component);
        if (s.status != Status::Ok) {
            return s;
        }
        pos = s.end;
    }
    return {Status::Ok, pos};
}

// ---- Booleans and packed colours ----------------------------------------------------------------

Scan ScanBool(std::string_view text, std::size_t pos, bool& value) {
    static constexpr std::pair<std::string_view, bool> kWords[] = {
        {"true", true}, {"false", false}, {"1", true}, {"0", false}};
    for (const auto& [word, meaning] : kWords) {
        if (StartsWithNoCase(text, pos, word)) {
            value = meaning;
            return {Status::Ok, pos + word.size()};
        }
    }
    return {Status::Invalid, pos};
}

Scan ScanHex(std::string_view text, std::size_t pos, std::uint32_t& value) {
    const bool hash = text[pos] == '#';
    if (hash) {
        ++pos;
    } else if (StartsWithNoCase(text, pos, "0x")) {
        pos += 2;
    }
    const std::size_t digits = pos;
    std::uint64_t packed = 0;
    int digit = 0;
    for (; pos < text.size() && (digit = HexDigitValue(text[pos])) >= 0; ++pos) {
        if (pos - digits == 8) {
            return {Status::OutOfRange, digits};
        }
        packed = (packed << 4) | std::uint64_t(digit);
    }
    if (pos == digits) {
        return {Status::Invalid, pos};
    }
    // "#rrggbb", the common web form, is an opaque colour.
    if (hash && pos - digits == 6) {
        packed = (packed << 8) | 0xff;
    }
    value = std::uint32_t(packed);
    return {Status::Ok, pos};
}

}  // namespace

std::string ValueParseResult::description() const {
    const char* what = "ok";
    switch (status) {
        case Ok:
            return what;
        case Empty:
            return "empty value";
        case Invalid:
            what = "not a number";
            break;
        case OutOfRange:
            what = "out of range";
            break;
    }
    return std::string(what) + " at offset " + std::to_string(offset);
}

void AppendValueText(std::string& out, std::int32_t value) {
    char buffer[16];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

void AppendValueText(std::string& out, std::int64_t value) {
    char buffer[24];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

void AppendValueText(std::string& out, float value) {
    AppendReal(out, value);
}
void AppendValueText(std::string& out, double value) {
    AppendReal(out, value);
}
void AppendValueText(std::string& out, bool value) {
    out.append(value ? "true" : "false");
}
void AppendValueText(std::string& out, const DVec2& value) {
    AppendCompound(out, value);
}
void AppendValueText(std::string& out, const DVec3& value) {
    AppendCompound(out, value);
}
void AppendValueText(std::string& out, const FVec3& value) {
    AppendCompound(out, value);
}
void AppendValueText(std::string& out, const DPoint2D& value) {
    AppendCompound(out, value);
}
void AppendValueText(std::string& out, const DPoint3D& value) {
    AppendCompound(out, value);
}
void AppendValueText(std::string& out, const FPoint3D& value) {
    AppendCompound(out, value);
}
void AppendValueText(std::string& out, const Quaternion<float>& value) {
    AppendCompound(out, value);
}
void AppendValueText(std::string& out, const Location& value) {
    AppendCompound(out, value);
}

void AppendHexText(std::string& out, std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char buffer[9];
    buffer[0] = '#';
    for (int i = 0; i < 8; ++i) {
        buffer[8 - i] = kDigits[(value >> (4 * i)) & 15];
    }
    out.append(buffer, sizeof buffer);
}

ValueParseResult ParseValueText(std::string_view text, std::int32_t& value) {
    return ParseWhole(text, value, ScanInteger<std::int32_t>);
}
ValueParseResult ParseValueText(std::string_view text, std::int64_t& value) {
    return ParseWhole(text, value, ScanInteger<std::int64_t>);
}
ValueParseResult ParseValueText(std::string_view text, float& value) {
    return ParseWhole(text, value, ScanReal<float>);
}
ValueParseResult ParseValueText(std::string_view text, double& value) {
    return ParseWhole(text, value, ScanReal<double>);
}
ValueParseResult ParseValueText(std::string_view text, bool& value) {
    return ParseWhole(text, value, ScanBool);
}
ValueParseResult ParseValueText(std::string_view text, DVec2& value) {
    return ParseWhole(text, value, ScanCompound<DVec2>);
}
ValueParseResult ParseValueText(std::string_view text, DVec3& value) {
    return ParseWhole(text, value, ScanCompound<DVec3>);
}
ValueParseResult ParseValueText(std::string_view text, FVec3& value) {
    return ParseWhole(text, value, ScanCompound<FVec3>);
}
ValueParseResult ParseValueText(std::string_view text, DPoint2D& value) {
    return ParseWhole(text, value, ScanCompound<DPoint2D>);
}
ValueParseResult ParseValueText(std::string_view text, DPoint3D& value) {
    return ParseWhole(text, value, ScanCompound<DPoint3D>);
}
ValueParseResult ParseValueText(std::string_view text, FPoint3D& value) {
    return ParseWhole(text, value, ScanCompound<FPoint3D>);
}
ValueParseResult ParseValueText(std::string_view text, Quaternion<float>& value) {
    return ParseWhole(text, value, ScanCompound<Quaternion<float>>);
}
ValueParseResult ParseValueText(std::string_view text, Location& value) {
    return ParseWhole(text, value, ScanCompound<Location>);
}
ValueParseResult ParseHexText(std::string_view text, std::uint32_t& value) {
    return ParseWhole(text, value, ScanHex);
}
