#include "utilities/Utf8.h"

#include <gtest/gtest.h>

namespace {

// One row per encoded length, at both ends of its range.
TEST(Utf8Test, EncodesEachLengthAtItsBounds) {
    struct Row {
        std::uint32_t code;
        const char* bytes;
    };
    const Row rows[] = {
        {0x00, ""},  // checked apart below: a C string cannot hold it
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFD, "\xEF\xBF\xBD"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const Row& row : rows) {
        std::string out = "x";
        AppendUtf8(out, row.code);
        const std::string expected =
            row.code == 0 ? std::string("x\0", 2) : "x" + std::string(row.bytes);
        EXPECT_EQ(out, expected) << std::hex << row.code;
    }
}

}  // namespace
