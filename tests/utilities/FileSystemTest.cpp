#include "utilities/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

struct Utf8Case {
    const char* utf8;
    std::u32string expected;
};

TEST(FileSystemTest, Utf8ToWideDecodesAndReplacesBadSequences) {
    const Utf8Case cases[] = {
        {"", U""},
        {"plain/path.xml", U"plain/path.xml"},
        {"\xC3\xA9t\xC3\xA9", U"\u00E9t\u00E9"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", U"\u65E5\u672C"},
        {"\xF0\x9F\x98\x80", U"\U0001F600"},
        {"a\xFFz", U"a\uFFFDz"},                  // not a lead byte
        {"\xC3", U"\uFFFD"},                      // cut short
        {"\xC0\xAF", U"\uFFFD\uFFFD"},            // overlong
        {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},  // a surrogate
    };
    for (const Utf8Case& c : cases) {
        std::wstring wide = Utf8ToWideStr(Symbol(c.utf8));
        std::u32string decoded;
        if constexpr (sizeof(wchar_t) == 4) {
            for (wchar_t w : wide)
                decoded.push_back(static_cast<char32_t>(w));
            EXPECT_EQ(decoded, c.expected) << c.utf8;
        }
        std::string back = WideToUtf8Str(wide);
        EXPECT_EQ(Utf8ToWideStr(Symbol(back)), wide) << c.utf8;
    }
}

TEST(FileSystemTest, LongPathFormNamesTheSameFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "checks the POSIX long-path form; tests/windows checks the Windows one";
#endif
    EXPECT_EQ(FileSystem::GenerateLongFilePath(L"", true), L"");
    std::wstring absolute = L"/tmp/a/../b/file.xml";
    std::wstring long_form = FileSystem::GenerateLongFilePath(absolute, false);
    EXPECT_EQ(long_form.rfind(FileSystem::s_longPathPrefixW, 0), 0u);
    EXPECT_EQ(long_form.substr(FileSystem::s_longPathPrefixW.size()), L"/tmp/b/file.xml");
    std::wstring relative = FileSystem::GenerateLongFilePath(L"rel/file.xml", true);
    EXPECT_EQ(relative.rfind(FileSystem::s_longPathPrefixW, 0), 0u);
    std::filesystem::path cwd = std::filesystem::current_path();
    EXPECT_EQ(relative, FileSystem::s_longPathPrefixW + (cwd / "rel/file.xml").wstring());
    EXPECT_TRUE(std::filesystem::exists(
        std::filesystem::path(FileSystem::GenerateLongFilePath(cwd.wstring(), false))));
}

}  // namespace
