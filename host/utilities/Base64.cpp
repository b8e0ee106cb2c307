// Base64: RFC 4648 encoding and decoding of byte payloads.
#include "utilities/Base64.h"
#include "utilities/LargeBuffer.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KESTREL_BASE64_X86 1
#include <immintrin.h>
#endif

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

static_assert(std::endian::native == std::endian::little ||
              std::endian::native == std::endian::big);

// Places value in byte index (0 first in memory) of a 32-bit word stored with memcpy.
constexpr std::uint32_t InByte(int index, std::uint32_t value) {
    return value << (8 * (std::endian::native == std::endian::little ? index : 3 - index));
}

// Set in a group word when one of its characters is not in the alphabet; no sextet reaches the
// fourth byte, which the next group overwrites anyway.
constexpr std::uint32_t kNotAlphabet = InByte(3, 0xFF);

// kDecodeAt[k][c]: what character c at place k of a group adds to the group's three bytes, already
// in memory order, so a group is four lookups OR-ed together and one 4-byte store.
struct DecodeTables {
    std::uint32_t at[4][256];
};

constexpr DecodeTables MakeDecodeTables() {
    DecodeTables tables{};
    for (int c = 0; c < 256; ++c) {
        const std::uint32_t v = kDecode[c];
        if (v >= 64) {
            for (auto& at : tables.at) {
                at[c] = kNotAlphabet;
            }
            continue;
        }
        tables.at[0][c] = InByte(0, v << 2);
        tables.at[1][c] = InByte(0, v >> 4) | InByte(1, (v & 0x0F) << 4);
        tables.at[2][c] = InByte(1, v >> 2) | InByte(2, (v & 0x03) << 6);
        tables.at[3][c] = InByte(2, v);
    }
    return tables;
}

constexpr DecodeTables kDecodeAt = MakeDecodeTables();

// The two characters of every 12-bit value, so a 3-byte group is two lookups.
constexpr std::array<std::array<char, 2>, 4096> MakeEncodePairs() {
    std::array<std::array<char, 2>, 4096> pairs{};
    for (std::size_t v = 0; v < pairs.size(); ++v) {
        pairs[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
    }
    return pairs;
}

constexpr std::array<std::array<char, 2>, 4096> kEncodePairs = MakeEncodePairs();

// The widest store the fast paths make past their last decoded byte: 32 bytes carrying 24.
constexpr std::size_t kDecodeSlack = 8;

// Encodes count bytes, a multiple of three; two groups a step while there are.
inline void EncodeGroups(const unsigned char* in, std::size_t count, char* out) {
    const auto& pairs = kEncodePairs;
    std::size_t i = 0;
    for (; count - i >= 6; i += 6, out += 8) {
        const std::uint64_t groups =
            (std::uint64_t(in[i]) << 40) | (std::uint64_t(in[i + 1]) << 32) |
            (std::uint64_t(in[i + 2]) << 24) | (std::uint64_t(in[i + 3]) << 16) |
            (std::uint64_t(in[i + 4]) << 8) | in[i + 5];
        std::memcpy(out, pairs[groups >> 36].data(), 2);
        std::memcpy(out + 2, pairs[(groups >> 24) & 0xFFF].data(), 2);
        std::memcpy(out + 4, pairs[(groups >> 12) & 0xFFF].data(), 2);
        std::memcpy(out + 6, pairs[groups & 0xFFF].data(), 2);
    }
    for (; i < count; i += 3, out += 4) {
        const std::uint32_t group = (std::uint32_t(in[i]) << 16) | (in[i + 1] << 8) | in[i + 2];
        std::memcpy(out, pairs[group >> 12].data(), 2);
        std::memcpy(out + 2, pairs[group & 0xFFF].data(), 2);
    }
}

// Decodes whole groups of four alphabet characters and stops before the first group holding
// anything else, which the careful path then takes character by character. Returns the
// characters read and moves out past the bytes written.
inline std::size_t DecodeGroups(const unsigned char* in, std::size_t size, char*& out) {
    const auto& at = kDecodeAt.at;
    std::size_t i = 0;
    char* o = out;
    for (; size - i >= 8; i += 8, o += 6) {
        const std::uint32_t first =
            at[0][in[i]] | at[1][in[i + 1]] | at[2][in[i + 2]] | at[3][in[i + 3]];
        const std::uint32_t second =
            at[0][in[i + 4]] | at[1][in[i + 5]] | at[2][in[i + 6]] | at[3][in[i + 7]];
        if ((first | second) & kNotAlphabet) {
            break;
        }
        std::memcpy(o, &first, 4);
        std::memcpy(o + 3, &second, 4);
    }
    for (; size - i >= 4; i += 4, o += 3) {
        const std::uint32_t group =
            at[0][in[i]] | at[1][in[i + 1]] | at[2][in[i + 2]] | at[3][in[i + 3]];
        if (group & kNotAlphabet) {
            break;
        }
        std::memcpy(o, &group, 4);
    }
    out = o;
    return i;
}

std::size_t EncodeScalar(const unsigned char* in, std::size_t size, char* out) {
    const std::size_t count = size / 3 * 3;
    EncodeGroups(in, count, out);
    return count;
}

#if defined(KESTREL_BASE64_X86)

// The vector paths work on runs of plain alphabet; a block holding anything else is left to the
// scalar code, so every error is still found and placed by the careful path.

// 12 bytes (in the low 12 of 16) to 16 characters.
__attribute__((target("sse4.1"))) inline __m128i EncodeBlock(__m128i bytes) {
    // Each 32-bit lane gets bytes b1 b0 b2 b1 of its group, so every sextet sits in one 16-bit
    // half, where a multiply moves it into its own byte.
    const __m128i spread =
        _mm_shuffle_epi8(bytes, _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    const __m128i first = _mm_mulhi_epu16(_mm_and_si128(spread, _mm_set1_epi32(0x0FC0FC00)),
                                          _mm_set1_epi32(0x04000040));
    const __m128i second = _mm_mullo_epi16(_mm_and_si128(spread, _mm_set1_epi32(0x003F03F0)),
                                           _mm_set1_epi32(0x01000010));
    const __m128i sextets = _mm_or_si128(first, second);
    // Ranges A-Z, a-z, 0-9, '+', '/' get indices 0, 1, 2-11, 12, 13 for their distance to ASCII.
    const __m128i range = _mm_sub_epi8(_mm_subs_epu8(sextets, _mm_set1_epi8(51)),
                                       _mm_cmpgt_epi8(sextets, _mm_set1_epi8(25)));
    const __m128i toAscii =
        _mm_setr_epi8('A', 'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 0, 0);
    return _mm_add_epi8(sextets, _mm_shuffle_epi8(toAscii, range));
}

// 16 characters to 12 bytes (in the low 12 of 16), or false if any is not in the alphabet.
__attribute__((target("sse4.1"))) inline bool DecodeBlock(__m128i text, __m128i& bytes) {
    const __m128i low = _mm_and_si128(text, _mm_set1_epi8(0x0F));
    const __m128i high = _mm_and_si128(_mm_srli_epi32(text, 4), _mm_set1_epi8(0x0F));
    // A character is in the alphabet when its high nibble's class bit is clear in the set of
    // classes its low nibble is invalid for. Classes: 2x, 3x, 4x/6x, 5x/7x, everything else.
    const __m128i invalidFor = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                             0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i classOf = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10,
                                          0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    if (!_mm_testz_si128(_mm_shuffle_epi8(invalidFor, low), _mm_shuffle_epi8(classOf, high))) {
        return false;
    }
    // The sextet is the character plus an offset set by its high nibble; '/' borrows slot 1.
    const __m128i toSextet = _mm_setr_epi8(0, '/' - 63, '+' - 62, '0' - 52, 'A' - 0, 'A' - 0,
                                           'a' - 26, 'a' - 26, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i slot = _mm_add_epi8(high, _mm_cmpeq_epi8(text, _mm_set1_epi8('/')));
    const __m128i sextets = _mm_sub_epi8(text, _mm_shuffle_epi8(toSextet, slot));
    // Pack four sextets into 24 bits per lane, then gather the three bytes of each lane.
    const __m128i pairs = _mm_maddubs_epi16(sextets, _mm_set1_epi32(0x01400140));
    const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    bytes = _mm_shuffle_epi8(groups,
                             _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    return true;
}

__attribute__((target("sse4.1"))) inline std::size_t EncodeBlocks16(const unsigned char* in,
                                                                    std::size_t size, char* out) {
    std::size_t i = 0;
    // Each step loads 16 bytes and uses 12.
    for (; size - i >= 16; i += 12, out += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), EncodeBlock(bytes));
    }
    return i;
}

__attribute__((target("sse4.1"))) inline std::size_t DecodeBlocks16(const unsigned char* in,
                                                                    std::size_t size, char*& out) {
    std::size_t i = 0;
    char* o = out;
    // Each step stores 16 bytes and keeps 12.
    for (; size - i >= 16; i += 16, o += 12) {
        __m128i bytes;
        if (!DecodeBlock(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), bytes)) {
            break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), bytes);
    }
    out = o;
    return i;
}

__attribute__((target("sse4.1"))) std::size_t EncodeSse41(const unsigned char* in, std::size_t size,
                                                          char* out) {
    const std::size_t done = EncodeBlocks16(in, size, out);
    return done + EncodeScalar(in + done, size - done, out + done / 3 * 4);
}

__attribute__((target("sse4.1"))) std::size_t DecodeSse41(const unsigned char* in, std::size_t size,
                                                          char*& out) {
    const std::size_t done = DecodeBlocks16(in, size, out);
    return done + DecodeGroups(in + done, size - done, out);
}

__attribute__((target("avx2"))) std::size_t EncodeAvx2(const unsigned char* in, std::size_t size,
                                                       char* out) {
    std::size_t i = 0;
    // Each step loads 16 bytes per half, 12 apart, and encodes 24.
    for (; size - i >= 28; i += 24, out += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 12));
        const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        const __m256i spread = _mm256_shuffle_epi8(
            bytes, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1,
                                    4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
        const __m256i first = _mm256_mulhi_epu16(
            _mm256_and_si256(spread, _mm256_set1_epi32(0x0FC0FC00)), _mm256_set1_epi32(0x04000040));
        const __m256i second = _mm256_mullo_epi16(
            _mm256_and_si256(spread, _mm256_set1_epi32(0x003F03F0)), _mm256_set1_epi32(0x01000010));
        const __m256i sextets = _mm256_or_si256(first, second);
        const __m256i range = _mm256_sub_epi8(_mm256_subs_epu8(sextets, _mm256_set1_epi8(51)),
                                              _mm256_cmpgt_epi8(sextets, _mm256_set1_epi8(25)));
        const __m256i toAscii = _mm256_setr_epi8(
            'A', 'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
            '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 0, 0, 'A', 'a' - 26, '0' - 52,
            '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
            '0' - 52, '+' - 62, '/' - 63, 0, 0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_add_epi8(sextets, _mm256_shuffle_epi8(toAscii, range)));
    }
    const std::size_t done = i + EncodeBlocks16(in + i, size - i, out);
    return done + EncodeScalar(in + done, size - done, out + (done - i) / 3 * 4);
}

// 32 characters to 24 bytes (in the low 24 of 32), or false if any is not in the alphabet.
__attribute__((target("avx2"))) inline bool DecodeBlock(__m256i text, __m256i& bytes) {
    const __m256i low = _mm256_and_si256(text, _mm256_set1_epi8(0x0F));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), _mm256_set1_epi8(0x0F));
    const __m256i invalidFor =
        _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                         0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                         0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i classOf =
        _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    if (!_mm256_testz_si256(_mm256_shuffle_epi8(invalidFor, low),
                            _mm256_shuffle_epi8(classOf, high))) {
        return false;
    }
    const __m256i toSextet =
        _mm256_setr_epi8(0, '/' - 63, '+' - 62, '0' - 52, 'A' - 0, 'A' - 0, 'a' - 26, 'a' - 26, 0,
                         0, 0, 0, 0, 0, 0, 0, 0, '/' - 63, '+' - 62, '0' - 52, 'A' - 0, 'A' - 0,
                         'a' - 26, 'a' - 26, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i slot = _mm256_add_epi8(high, _mm256_cmpeq_epi8(text, _mm256_set1_epi8('/')));
    const __m256i sextets = _mm256_sub_epi8(text, _mm256_shuffle_epi8(toSextet, slot));
    const __m256i pairs = _mm256_maddubs_epi16(sextets, _mm256_set1_epi32(0x01400140));
    const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i packed = _mm256_shuffle_epi8(
        groups, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6,
                                 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    // Close the gap between the 12 bytes of each half.
    bytes = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
    return true;
}

__attribute__((target("avx2"))) std::size_t DecodeAvx2(const unsigned char* in, std::size_t size,
                                                       char*& out) {
    std::size_t i = 0;
    char* o = out;
    // Each step stores 32 bytes and keeps 24.
    for (; size - i >= 32; i += 32, o += 24) {
        __m256i bytes;
        if (!DecodeBlock(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), bytes)) {
            break;
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), bytes);
    }
    out = o;
    i += DecodeBlocks16(in + i, size - i, out);
    return i + DecodeGroups(in + i, size - i, out);
}

#endif  // KESTREL_BASE64_X86

// The widest code this processor runs, chosen once.
struct Codec {
    std::size_t (*encode)(const unsigned char* in, std::size_t size, char* out);
    std::size_t (*decode)(const unsigned char* in, std::size_t size, char*& out);
};

Codec ChooseCodec() {
#if defined(KESTREL_BASE64_X86)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return {EncodeAvx2, DecodeAvx2};
    }
    if (__builtin_cpu_supports("sse4.1")) {
        return {EncodeSse41, DecodeSse41};
    }
#endif
    return {EncodeScalar, DecodeGroups};
}

const Codec& TheCodec() {
    static const Codec codec = ChooseCodec();
    return codec;
}

// Sizes a new result; huge pages make first touch of a result of megabytes cheap.
template <typename Container>
void SizeResult(Container& container, std::size_t size) {
    ReserveLargeBuffer(container, size);
    container.resize(size);
}

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
    std::string text;
    SizeResult(text, EncodedLength(size));
    if (size == 0) {
        return text;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    const std::size_t i = TheCodec().encode(in, size, text.data());
    char* out = text.data() + i / 3 * 4;
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

    // Exact for a well-formed text without white space, an upper bound for any other; the slack
    // lets the fast paths store whole words past the last byte.
    std::size_t padding = 0;
    while (padding < 2 && padding < size && in[size - 1 - padding] == '=') {
        ++padding;
    }
    const std::size_t significant = size - padding;
    std::vector<char> bytes;
    SizeResult(bytes, significant / 4 * 3 + significant % 4 * 3 / 4 + kDecodeSlack);
    char* out = bytes.data();
    const auto decodeRun = TheCodec().decode;

    std::uint32_t group = 0;  // sextets of the group being read, oldest highest
    int count = 0;            // how many sextets group holds
    std::size_t last = 0;     // offset of the latest alphabet character
    std::size_t i = 0;
    while (i < size) {
        if (count == 0) {
            i += decodeRun(in + i, size - i, out);
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
        } else if (value == S) {
            // A line end is a run of white space: skip it whole before the fast path resumes.
            while (++i < size && kDecode[in[i]] == S) {
            }
            continue;
        } else {
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
