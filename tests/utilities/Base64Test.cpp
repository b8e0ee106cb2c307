#include "utilities/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr auto Ok = Base64Result::Ok;
constexpr auto InvalidCharacter = Base64Result::InvalidCharacter;
constexpr auto BadPadding = Base64Result::BadPadding;
constexpr auto DataAfterPadding = Base64Result::DataAfterPadding;

std::vector<char> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<char> RandomBytes(std::mt19937& random, std::size_t size) {
    std::vector<char> bytes(size);
    for (char& b : bytes)
        b = char(random());
    return bytes;
}

std::string RandomText(std::mt19937& random, std::size_t payload) {
    const std::vector<char> bytes = RandomBytes(random, payload);
    return Base64::Encode(bytes.data(), bytes.size());
}

// A plain character-by-character codec, against which the fast paths (whole groups, 16- and
// 32-character blocks) are checked at every length and at every place a block can be cut.
std::string ReferenceEncode(const std::vector<char>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        unsigned bits = 0;
        for (std::size_t k = 0; k < 3; ++k)
            bits = bits << 8 | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= count ? kAlphabet[bits >> (18 - 6 * k) & 63] : '=';
    }
    return text;
}

int SextetOf(unsigned char c) {
    const std::size_t at = kAlphabet.find(static_cast<char>(c));
    return at == std::string_view::npos ? -1 : int(at);
}

bool IsSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct Decoded {
    std::vector<char> bytes;
    Base64Result::Status status = Ok;
    std::size_t offset = 0;
    unsigned char byte = 0;
};

Decoded ReferenceDecode(std::string_view text) {
    Decoded decoded;
    unsigned sextets[4] = {};
    int count = 0;
    std::size_t lastAt = 0;
    const auto fail = [&](Base64Result::Status status, std::size_t at) {
        decoded.status = status;
        decoded.offset = at;
        decoded.byte = static_cast<unsigned char>(text[at]);
        return decoded;
    };
    const auto flush = [&] {
        unsigned bits = 0;
        for (int k = 0; k < 4; ++k)
            bits = bits << 6 | (k < count ? sextets[k] : 0u);
        for (int k = 0; k < count - 1; ++k)
            decoded.bytes.push_back(static_cast<char>(bits >> (16 - 8 * k)));
        count = 0;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (IsSpace(c))
            continue;
        if (const int sextet = SextetOf(c); sextet >= 0) {
            sextets[count++] = unsigned(sextet);
            lastAt = i;
            if (count == 4)
                flush();
            continue;
        }
        if (c != '=')
            return fail(InvalidCharacter, i);
        if (count < 2)
            return fail(BadPadding, i);
        int morePadding = 3 - count;
        flush();
        for (++i; i < text.size(); ++i) {
            const auto next = static_cast<unsigned char>(text[i]);
            if (IsSpace(next))
                continue;
            if (next == '=' && morePadding > 0) {
                --morePadding;
                continue;
            }
            return fail(SextetOf(next) >= 0 ? DataAfterPadding
                        : next == '='       ? BadPadding
                                            : InvalidCharacter,
                        i);
        }
        return decoded;
    }
    if (count == 1)
        return fail(BadPadding, lastAt);
    if (count > 1)
        flush();
    return decoded;
}

// Decodes an exact-size heap copy of text, so the sanitizer catches any read past it.
testing::AssertionResult DecodesAsTheReference(std::string_view text) {
    const std::vector<char> copy(text.begin(), text.end());
    Base64Result result;
    result.offset = 12345;  // must be reset on success
    const std::vector<char> bytes = Base64::Decode(copy.data(), copy.size(), result);
    const Decoded expected = ReferenceDecode(text);
    if (bytes != expected.bytes || result.status != expected.status ||
        result.offset != expected.offset || result.byte != expected.byte) {
        return testing::AssertionFailure()
               << "text of " << text.size() << " characters \"" << text << "\": got "
               << bytes.size() << " bytes, " << result.description() << "; expected "
               << expected.bytes.size() << " bytes, status " << expected.status << " at "
               << expected.offset;
    }
    return testing::AssertionSuccess();
}

struct DecodeRow {
    std::string_view text;
    std::string_view bytes;  // what comes back, also on failure
    Base64Result::Status status;
    std::size_t offset;
    unsigned char byte;
    std::string_view description = {};  // checked when given
};

const DecodeRow kDecodeRows[] = {
    // Lenient: white space anywhere, padding optional or partial, spare low bits dropped.
    {"", "", Ok, 0, 0, "ok"},
    {"Zm9vYmFy", "foobar", Ok, 0, 0},
    {"Zm9v YmFy", "foobar", Ok, 0, 0},
    {"\tZ m\r\n9 v\n", "foo", Ok, 0, 0},
    {"Zm9vYg", "foob", Ok, 0, 0},
    {"Zm9vYg=", "foob", Ok, 0, 0},
    {"Zm9vY g = = \n", "foob", Ok, 0, 0},
    {"Zh==", "f", Ok, 0, 0},
    // Bytes outside the alphabet; only the complete groups before them come back.
    {"Zm9v*mFy", "foo", InvalidCharacter, 4, '*'},
    {"Zm9vYmFyZm9vYmFy Z*", "foobarfoobar", InvalidCharacter, 18, '*',
     "invalid character 0x2A ('*') at offset 18"},
    {"Zm\0v"sv, "", InvalidCharacter, 2, 0x00, "invalid character 0x00 at offset 2"},
    {"Zm9v\x80", "foo", InvalidCharacter, 4, 0x80, "invalid character 0x80 at offset 4"},
    {"Zm8=.", "fo", InvalidCharacter, 4, '.'},
    {"Zg==\v", "f", InvalidCharacter, 4, '\v'},
    // Padding where it cannot stand, and a group of one character.
    {"=", "", BadPadding, 0, '='},
    {"Z=", "", BadPadding, 1, '=', "misplaced padding 0x3D ('=') at offset 1"},
    {"Z===", "", BadPadding, 1, '='},
    {"Zm9vQ", "foo", BadPadding, 4, 'Q', "lone final character 0x51 ('Q') at offset 4"},
    {"Zm9vY \r\n", "foo", BadPadding, 4, 'Y'},
    {"Zm9vYmE==", "fooba", BadPadding, 8, '='},
    {"Zg= = =", "f", BadPadding, 6, '='},
    // Alphabet characters after the group closed by '='.
    {"Zg==A", "f", DataAfterPadding, 4, 'A', "data after padding 0x41 ('A') at offset 4"},
    {"Zg=x", "f", DataAfterPadding, 3, 'x'},
    {"Zm8=Zm8=", "fo", DataAfterPadding, 4, 'Z'},
};

TEST(Base64, DecodeReportsWhatStoppedIt) {
    for (const auto& row : kDecodeRows) {
        SCOPED_TRACE(testing::Message() << '"' << row.text << '"');
        Base64Result result;
        result.offset = 99;  // must be reset on success
        EXPECT_EQ(Base64::Decode(row.text.data(), row.text.size(), result), Bytes(row.bytes));
        EXPECT_EQ(result.status, row.status) << result.description();
        EXPECT_EQ(result.offset, row.offset);
        EXPECT_EQ(result.byte, row.byte);
        if (!row.description.empty()) {
            EXPECT_EQ(result.description(), row.description);
        }
        EXPECT_EQ(Base64::Decode(row.text.data(), row.text.size()), Bytes(row.bytes));
        EXPECT_TRUE(DecodesAsTheReference(row.text));
    }
}

TEST(Base64, RoundTripsRandomBytesOfEveryLengthUpTo300) {
    std::mt19937 random(300);
    for (std::size_t size = 0; size <= 300; ++size) {
        for (int trial = 0; trial < 4; ++trial) {
            const std::vector<char> bytes = RandomBytes(random, size);
            const std::string text = Base64::Encode(bytes.data(), bytes.size());
            ASSERT_EQ(text, ReferenceEncode(bytes)) << size;
            ASSERT_EQ(text.size(), Base64::EncodedLength(size));
            ASSERT_TRUE(DecodesAsTheReference(text));
            ASSERT_EQ(Base64::Decode(text.data(), text.size()), bytes) << size;
        }
    }
}

// Every byte value at every place of the 32- and 16-character blocks decodes as the reference.
TEST(Base64, DecodesEveryByteValueAtEveryPlaceOfABlock) {
    std::mt19937 random(256);
    const std::string text = RandomText(random, 72);  // 96 characters: 32 + 32 + 16 + 16
    for (int value = 0; value < 256; ++value) {
        for (std::size_t at = 0; at < text.size(); ++at) {
            std::string changed = text;
            changed[at] = static_cast<char>(value);
            ASSERT_TRUE(DecodesAsTheReference(changed)) << value << " at " << at;
        }
    }
}

// Damaged texts against the reference: a stranger inserted or written over at every place of
// texts ending in no, one and two '='; every prefix with its last characters replaced; random
// texts, short ones dense with strangers (every error path) and long ones with rare strangers
// (the blocks between them).
TEST(Base64, DecodesDamagedTextsAsTheReference) {
    std::mt19937 random(200);
    const std::string texts[] = {RandomText(random, 150), RandomText(random, 149),
                                 RandomText(random, 148)};
    for (const std::string_view piece :
         {"*"sv, "\xC3\xA9"sv, "\0"sv, "-"sv, " "sv, "\t"sv, "\r\n"sv, "="sv, "=="sv, "Zg=="sv}) {
        SCOPED_TRACE(testing::Message() << '"' << piece << '"');
        for (const std::string& text : texts) {
            for (std::size_t at = 0; at <= text.size(); ++at) {
                std::string inserted = text;
                inserted.insert(at, piece);
                ASSERT_TRUE(DecodesAsTheReference(inserted)) << "inserted at " << at;
                std::string overwritten = text;
                overwritten.replace(at, piece.size(), piece);
                ASSERT_TRUE(DecodesAsTheReference(overwritten)) << "overwritten at " << at;
                std::string prefix = text.substr(0, std::max(at, piece.size()));
                prefix.replace(prefix.size() - piece.size(), piece.size(), piece);
                ASSERT_TRUE(DecodesAsTheReference(prefix)) << "prefix of " << prefix.size();
            }
        }
    }
    constexpr std::string_view kOthers = " \t\r\n==*\x80-";
    std::uniform_int_distribution<std::size_t> letter(0, kAlphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> other(0, kOthers.size() - 1);
    for (int trial = 0; trial < 25000; ++trial) {
        const bool dense = trial % 5 != 0;
        std::bernoulli_distribution stranger(dense ? 0.3 : 0.01);
        std::string text(random() % (dense ? 25 : 401), '\0');
        for (char& c : text)
            c = stranger(random) ? kOthers[other(random)] : kAlphabet[letter(random)];
        ASSERT_TRUE(DecodesAsTheReference(text));
    }
}

}  // namespace
