#include "utilities/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One row per encoded length, at both ends of its range.
TEST(Utf8Test, EncodesEachLengthAtItsBounds) {
    const std::pair<std::uint32_t, std::string> rows[] = {
        {0x00, std::string(1, '\0')},
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
    for (const auto& [code, bytes] : rows) {
        std::string out = "x";  // appended to, not replaced
        AppendUtf8(out, code);
        EXPECT_EQ(out, "x" + bytes) << std::hex << code;
    }
}

}  // namespace
