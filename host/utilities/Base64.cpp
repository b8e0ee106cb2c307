// Base64: RFC 4648 encoding and decoding of byte payloads.
#include "utilities/Base64.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decode table values besides the 64 sextets. Every class marker has one of the two top bits set,
// so OR-ing four looked-up values tells at once whether a whole group is plain alphabet.
constexpr std::uint8_t S = 0x40;  // white space, skipped
constexpr std::uint8_t P = 0x80;  // '=' padding
constexpr std::uint8_t X = 0xFF;  // not part of a Base64 text

// clang-format off
constexpr std::uint8_t kDecode[256] = {
    X,  X,  X,  X,  X,  X,  X,  X,  X,  S,  S,  X,  X,  S,  X,  X,   // 0x00-0x0F: controls; \t \n \r
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0x10-0x1F: controls
    S,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  62, X,  X,  X,  63,  // 0x20-0x2F: space + /
    52, 53, 54, 55, 56, 57, 58, 59, 60, 61, X,  X,  X,  P,  X,  X,   // 0x30-0x3F: 0-9 =
    X,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,  // 0x40-0x4F: A-O
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, X,  X,  X,  X,  X,   // 0x50-0x5F: P-Z
    X,  26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,  // 0x60-0x6F: a-o
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, X,  X,  X,  X,  X,   // 0x70-0x7F: p-z
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0x80-0x8F: non-ASCII
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0x90-0x9F: non-ASCII
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0xA0-0xAF: non-ASCII
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0xB0-0xBF: non-ASCII
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0xC0-0xCF: non-ASCII
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0xD0-0xDF: non-ASCII
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0xE0-0xEF: non-ASCII
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0xF0-0xFF: non-ASCII
};
// clang-format on

Base64Result Problem(Base64Result::Status status, const unsigned char* text, std::size_t offset) {
    Base64Result result;
    result.status = status;
    result.offset = offset;
    result.byte = text[offset];
    return result;
}

// Writes the bytes of a final group of two or three sextets; the low bits that fill the last
// sextet carry no data and are dropped.
char* FlushPartialGroup(char* out, std::uint32_t group, int count) {
    if (count == 2) {
        *out++ = char(group >> 4);
    } else {
        *out++ = char(group >> 10);
        *out++ = char(group >> 2);
    }
    return out;
}

}  // namespace

std::string Base64Result::description() const {
    const char* what = "ok";
    switch (status) {
        case Ok:
            return what;
        case InvalidCharacter:
            what = "invalid character";
            break;
        case BadPadding:
            what = byte == '=' ? "misplaced padding" : "lone final character";
            break;
        case DataAfterPadding:
            what = "data after padding";
            break;
    }
    char text[96];
    if (byte >= 0x20 && byte < 0x7F) {
        std::snprintf(text, sizeof text, "%s 0x%02X ('%c') at offset %zu", what, unsigned(byte),
                      char(byte), offset);
    } else {
        std::snprintf(text, sizeof text, "%s 0x%02X at offset %zu", what, unsigned(byte), offset);
    }
    return text;
}

std::string Base64::Encode(const void* data, std::size_t size) {
    std::string text(EncodedLength(size), '\0');
    if (size == 0) {
        return text;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    char* out = text.data();
    std::size_t i = 0;
    for (; size - i >= 3; i += 3) {
        const std::uint32_t group = (std::uint32_t(in[i]) << 16) | (in[i + 1] << 8) | in[i + 2];
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[(group >> 12) & 63];
        *out++ = kAlphabet[(group >> 6) & 63];
        *out++ = kAlphabet[group & 63];
    }
    if (size - i == 1) {
        const std::uint32_t group = std::uint32_t(in[i]) << 16;
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[(group >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (size - i == 2) {
        const std::uint32_t group = (std::uint32_t(in[i]) << 16) | (in[i + 1] << 8);
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[(group >> 12) & 63];
        *out++ = kAlphabet[(group >> 6) & 63];
        *out++ = '=';
    }
    return text;
}

std::vector<char> Base64::Decode(const char* data, std::size_t size) {
    Base64Result ignored;
    return Decode(data, size, ignored);
}

std::vector<char> Base64::Decode(const char* data, std::size_t size, Base64Result& result) {
    result = Base64Result();
    const auto* in = reinterpret_cast<const unsigned char*>(data);

    // Exact for a well-formed text without white space, an upper bound for any other.
    std::size_t padding = 0;
    while (padding < 2 && padding < size && in[size - 1 - padding] == '=') {
        ++padding;
    }
    const std::size_t significant = size - padding;
    std::vector<char> bytes(significant / 4 * 3 + significant % 4 * 3 / 4);
    char* out = bytes.data();

    std::uint32_t group = 0;  // sextets of the group being read, oldest highest
    int count = 0;            // how many sextets group holds
    std::size_t last = 0;     // offset of the latest alphabet character
    std::size_t i = 0;
    while (i < size) {
        if (count == 0) {
            // Fast path: whole groups of four alphabet characters.
            while (size - i >= 4) {
                const std::uint32_t a = kDecode[in[i]], b = kDecode[in[i + 1]],
                                    c = kDecode[in[i + 2]], d = kDecode[in[i + 3]];
                if ((a | b | c | d) & 0xC0) {
                    break;
                }
                const std::uint32_t value = (a << 18) | (b << 12) | (c << 6) | d;
                *out++ = char(value >> 16);
                *out++ = char(value >> 8);
                *out++ = char(value);
                i += 4;
            }
            if (i == size) {
                break;
            }
        }
        const std::uint8_t value = kDecode[in[i]];
        if (value < 64) {
            group = (group << 6) | value;
            last = i;
            if (++count == 4) {
                *out++ = char(group >> 16);
                *out++ = char(group >> 8);
                *out++ = char(group);
                group = 0;
                count = 0;
            }
        } else if (value == P) {
            if (count < 2) {
                result = Problem(Base64Result::BadPadding, in, i);
                break;
            }
            // The group is closed: keep its bytes, then only white space and, after "xx=", one
            // more '=' may follow.
            out = FlushPartialGroup(out, group, count);
            bool secondPadAllowed = count == 2;
            count = 0;
            for (++i; i < size; ++i) {
                const std::uint8_t next = kDecode[in[i]];
                if (next == S) {
                    continue;
                }
                if (next == P && secondPadAllowed) {
                    secondPadAllowed = false;
                    continue;
                }
                result = Problem(next < 64   ? Base64Result::DataAfterPadding
                                 : next == P ? Base64Result::BadPadding
                                             : Base64Result::InvalidCharacter,
                                 in, i);
                break;
            }
            break;
        } else if (value != S) {
            result = Problem(Base64Result::InvalidCharacter, in, i);
            break;
        }
        ++i;
    }

    if (result && count != 0) {
        // An unpadded final group.
        if (count == 1) {
            result = Problem(Base64Result::BadPadding, in, last);
        } else {
            out = FlushPartialGroup(out, group, count);
        }
    }
    bytes.resize(std::size_t(out - bytes.data()));
    return bytes;
}
