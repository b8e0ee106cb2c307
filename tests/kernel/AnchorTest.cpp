#include "kernel/Anchor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

struct AnchorCase {
    const char* base;
    const char* file;
    bool absolute;
    // Filled in for the rows that resolve against the current directory.
    std::string expected;
};

TEST(AnchorTest, ResolvesFileNamesAgainstItsBase) {
#if defined(_WIN32)
    GTEST_SKIP() << "expects POSIX path separators";
#endif
    const std::string cwd = std::filesystem::current_path().string();
    const AnchorCase cases[] = {
        // Relative names join the base path, with exactly one separator.
        {"/data/models", "a.xml", false, "/data/models/a.xml"},
        {"/data/models/", "a.xml", false, "/data/models/a.xml"},
        {"models", "a.xml", false, "models/a.xml"},
        {"", "a.xml", false, "a.xml"},
        // Absolute names and URLs are taken as they are, with absolute set or not.
        {"/data", "/abs/a.xml", false, "/abs/a.xml"},
        {"/data", "file:///x/a.xml", false, "file:///x/a.xml"},
        {"/data", "a+b.c-d:rest", false, "a+b.c-d:rest"},
        // Not schemes: one letter before ':' (a drive), or a leading digit.
        {"/data", "c:a.xml", false, "/data/c:a.xml"},
        {"/data", "1x:a.xml", false, "/data/1x:a.xml"},
        // URL bases: the name joins the URL path; '%' is escaped so the URL decodes back to it.
        {"file:///data/models", "a.xml", false, "file:///data/models/a.xml"},
        {"file:///data/models/", "sub/a.xml", true, "file:///data/models/sub/a.xml"},
        {"file:///data", "100%.xml", false, "file:///data/100%25.xml"},
        {"http://host/dir", "a.xml", false, "http://host/dir/a.xml"},
        // absolute resolves relative results against the current directory.
        {"", "a.xml", true, cwd + "/a.xml"},
        {"/data", "a.xml", true, "/data/a.xml"},
    };
    for (const AnchorCase& c : cases) {
        SCOPED_TRACE(std::string(c.base) + " + " + c.file + (c.absolute ? ", absolute" : ""));
        Anchor anchor{Symbol(c.base)};
        Symbol address("unchanged");
        EXPECT_TRUE(anchor.GetURLForFileSource(Symbol(c.file), address, c.absolute));
        EXPECT_EQ(std::string(address), c.expected);
    }
}

// An empty name gives no address; the base is kept as given.
TEST(AnchorTest, EmptyFileNameLeavesTheAddressUntouched) {
    for (bool absolute : {false, true}) {
        Anchor anchor{Symbol("file:///data")};
        Symbol address("unchanged");
        EXPECT_FALSE(anchor.GetURLForFileSource(Symbol(), address, absolute));
        EXPECT_EQ(std::string(address), "unchanged");
        EXPECT_EQ(std::string(anchor.GetBase()), "file:///data");
    }
    EXPECT_TRUE(Anchor(Symbol()).GetBase().empty());
}

}  // namespace
