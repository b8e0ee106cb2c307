#include "utilities/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace {

std::vector<char> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<char> Decode(std::string_view text, Base64Result& result) {
    return Base64::Decode(text.data(), text.size(), result);
}

std::vector<char> RandomBytes(std::mt19937& random, std::size_t size) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<char> bytes(size);
    for (char& b : bytes) {
        b = char(byte(random));
    }
    return bytes;
}

struct Rfc4648Row {
    std::string_view bytes;
    std::string_view text;
};

const Rfc4648Row kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, EncodesRfc4648Vectors) {
    for (const auto& row : kRfc4648) {
        EXPECT_EQ(Base64::Encode(row.bytes.data(), row.bytes.size()), row.text) << row.bytes;
        EXPECT_EQ(Base64::EncodedLength(row.bytes.size()), row.text.size()) << row.bytes;
    }
}

TEST(Base64, DecodesRfc4648Vectors) {
    for (const auto& row : kRfc4648) {
        Base64Result result;
        EXPECT_EQ(Decode(row.text, result), Bytes(row.bytes)) << row.text;
        EXPECT_TRUE(result) << row.text << ": " << result.description();
    }
}

TEST(Base64, EncodesNothingFromNull) {
    EXPECT_EQ(Base64::Encode(nullptr, 0), "");
}

TEST(Base64, UsesTheWholeStandardAlphabet) {
    // Counting bytes 0x00, 0x10, 0x83 ... spell out every sextet value in order.
    std::vector<unsigned char> bytes;
    for (unsigned sextet = 0; sextet < 64; sextet += 4) {
        bytes.push_back(static_cast<unsigned char>(sextet << 2 | (sextet + 1) >> 4));
        bytes.push_back(static_cast<unsigned char>((sextet + 1) << 4 | (sextet + 2) >> 2));
        bytes.push_back(static_cast<unsigned char>((sextet + 2) << 6 | (sextet + 3)));
    }
    const std::string text = Base64::Encode(bytes.data(), bytes.size());
    EXPECT_EQ(text, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    const std::vector<char> decoded = Base64::Decode(text.data(), text.size());
    EXPECT_EQ(decoded, std::vector<char>(bytes.begin(), bytes.end()));
}

TEST(Base64, RoundTripsRandomBytesOfEveryShortLength) {
    std::mt19937 random(4648);
    for (std::size_t size = 0; size <= 100; ++size) {
        for (int trial = 0; trial < 20; ++trial) {
            const std::vector<char> bytes = RandomBytes(random, size);
            const std::string text = Base64::Encode(bytes.data(), bytes.size());
            ASSERT_EQ(text.size(), Base64::EncodedLength(size));
            Base64Result result;
            ASSERT_EQ(Decode(text, result), bytes) << text;
            ASSERT_TRUE(result) << text << ": " << result.description();
        }
    }
}

TEST(Base64, RoundTripsALargePayloadWithLineBreaks) {
    std::mt19937 random(76);
    const std::vector<char> bytes = RandomBytes(random, 1 << 20);
    const std::string text = Base64::Encode(bytes.data(), bytes.size());
    // The MIME layout: lines of 76 characters ending in CR LF.
    std::string wrapped;
    for (std::size_t i = 0; i < text.size(); i += 76) {
        wrapped.append(text, i, 76).append("\r\n");
    }
    Base64Result result;
    EXPECT_EQ(Decode(text, result), bytes);
    EXPECT_TRUE(result);
    EXPECT_EQ(Decode(wrapped, result), bytes);
    EXPECT_TRUE(result) << result.description();
}

struct DecodeRow {
    std::string_view text;
    std::string_view bytes;  // what comes back, also on failure
    Base64Result::Status status;
    std::size_t offset;
    unsigned char byte;
};

constexpr auto Ok = Base64Result::Ok;
constexpr auto InvalidCharacter = Base64Result::InvalidCharacter;
constexpr auto BadPadding = Base64Result::BadPadding;
constexpr auto DataAfterPadding = Base64Result::DataAfterPadding;

const DecodeRow kDecodeRows[] = {
    // Lenient: white space anywhere, padding optional or partial, spare low bits dropped.
    {"", "", Ok, 0, 0},
    {" \t\r\n", "", Ok, 0, 0},
    {"Zm9v YmFy", "foobar", Ok, 0, 0},
    {"\tZ m\r\n9 v\n", "foo", Ok, 0, 0},
    {"Zm9vYg", "foob", Ok, 0, 0},
    {"Zm9vYmE", "fooba", Ok, 0, 0},
    {"Zm9vYg=", "foob", Ok, 0, 0},
    {"Zm9vY g = = \n", "foob", Ok, 0, 0},
    {"Zm8= ", "fo", Ok, 0, 0},
    {"Zh==", "f", Ok, 0, 0},
    // Bytes outside the alphabet; only the complete groups before them come back.
    {"Zm9v*mFy", "foo", InvalidCharacter, 4, '*'},
    {"Zm9vYm*y", "foo", InvalidCharacter, 6, '*'},
    {"Zm\0v"sv, "", InvalidCharacter, 2, 0x00},
    {"Zm9v\xff", "foo", InvalidCharacter, 4, 0xFF},
    {"Zm9v-_", "foo", InvalidCharacter, 4, '-'},
    {"Zm9v\f", "foo", InvalidCharacter, 4, '\f'},
    {"Zm8=.", "fo", InvalidCharacter, 4, '.'},
    {"Zg==\v", "f", InvalidCharacter, 4, '\v'},
    // Padding where it cannot stand, and a group of one character.
    {"=", "", BadPadding, 0, '='},
    {"Zm9v=", "foo", BadPadding, 4, '='},
    {"Z===", "", BadPadding, 1, '='},
    {"Zm9vY", "foo", BadPadding, 4, 'Y'},
    {"Zm9vY \r\n", "foo", BadPadding, 4, 'Y'},
    {"Zm9vYmE==", "fooba", BadPadding, 8, '='},
    {"Zg===", "f", BadPadding, 4, '='},
    {"Zg= = =", "f", BadPadding, 6, '='},
    // Alphabet characters after the group closed by '='.
    {"Zg==Zg==", "f", DataAfterPadding, 4, 'Z'},
    {"Zg=x", "f", DataAfterPadding, 3, 'x'},
    {"Zg= =\n+", "f", DataAfterPadding, 6, '+'},
    {"Zm8=Zm8=", "fo", DataAfterPadding, 4, 'Z'},
};

TEST(Base64, DecodeReportsWhatStoppedIt) {
    for (const auto& row : kDecodeRows) {
        SCOPED_TRACE(testing::Message() << '"' << row.text << '"');
        Base64Result result;
        result.offset = 99;  // must be reset on success
        EXPECT_EQ(Decode(row.text, result), Bytes(row.bytes));
        EXPECT_EQ(result.status, row.status) << result.description();
        EXPECT_EQ(result.offset, row.offset);
        EXPECT_EQ(result.byte, row.byte);
        EXPECT_EQ(Base64::Decode(row.text.data(), row.text.size()), Bytes(row.bytes));
    }
}

TEST(Base64, DescriptionNamesTheByteAndItsOffset) {
    const struct {
        std::string_view text;
        std::string_view description;
    } rows[] = {
        {"Zm9v", "ok"},
        {"Zm9vYmFyZm9vYmFy Z*", "invalid character 0x2A ('*') at offset 18"},
        {"Zm9\0"sv, "invalid character 0x00 at offset 3"},
        {"Zm9v\x80", "invalid character 0x80 at offset 4"},
        {"Z=", "misplaced padding 0x3D ('=') at offset 1"},
        {"Zm9vQ", "lone final character 0x51 ('Q') at offset 4"},
        {"Zg==A", "data after padding 0x41 ('A') at offset 4"},
    };
    for (const auto& row : rows) {
        Base64Result result;
        Decode(row.text, result);
        EXPECT_EQ(result.description(), row.description);
    }
}

TEST(Base64, EveryPrefixOfAnEncodingDecodesToAPrefixOfItsBytes) {
    std::mt19937 random(17);
    const std::vector<char> bytes = RandomBytes(random, 64);
    const std::string text = Base64::Encode(bytes.data(), bytes.size());
    for (std::size_t size = 0; size <= text.size(); ++size) {
        Base64Result result;
        // A copy of exactly size bytes, so reading past it is caught by the sanitizer.
        const std::vector<char> prefix(text.begin(), text.begin() + std::ptrdiff_t(size));
        const std::vector<char> decoded = Base64::Decode(prefix.data(), size, result);
        const std::size_t expected = result ? std::min(size * 3 / 4, bytes.size()) : size / 4 * 3;
        EXPECT_EQ(decoded.size(), expected) << size;
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), bytes.begin())) << size;
        EXPECT_EQ(bool(result), size % 4 != 1) << size << ": " << result.description();
    }
}

TEST(Base64, RandomTextsStayInBoundsAndReportAByteOfTheText) {
    std::mt19937 random(2024);
    // Mostly alphabet, with enough padding, white space and strangers to reach every path.
    constexpr std::string_view kPieces = "AZaz09+/==  \r\n\t*\x80";
    std::uniform_int_distribution<std::size_t> piece(0, kPieces.size() - 1);
    std::uniform_int_distribution<std::size_t> length(0, 24);
    for (int trial = 0; trial < 20000; ++trial) {
        std::vector<char> text(length(random));
        for (char& c : text) {
            c = kPieces[piece(random)];
        }
        Base64Result result;
        const std::vector<char> decoded = Base64::Decode(text.data(), text.size(), result);
        ASSERT_LE(decoded.size(), text.size() * 3 / 4);
        if (!result) {
            ASSERT_LT(result.offset, text.size());
            ASSERT_EQ(result.byte, static_cast<unsigned char>(text[result.offset]));
        }
    }
}

}  // namespace
