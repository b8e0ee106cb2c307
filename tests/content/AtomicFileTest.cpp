#include "kestrel/files/AtomicFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "serializedContent/TestFiles.h"

namespace {

using kestrel::files::WriteFileAtomically;

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Entries(const std::filesystem::path& directory) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
        ++count;
    return count;
}

TEST(AtomicFileTest, WritesANewFileAndLeavesNothingElse) {
    testfiles::TempDir dir;
    const std::string path = (dir.path() / "new.txt").string();
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "hello", 5, error)) << error;
    EXPECT_EQ(Read(path), "hello");
    EXPECT_EQ(Entries(dir.path()), 1u);
}

TEST(AtomicFileTest, ReplacesAnExistingFile) {
    testfiles::TempDir dir;
    const auto path = dir.Write("old.txt", "a longer old text");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path.string(), "new", 3, error)) << error;
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(Entries(dir.path()), 1u);
}

TEST(AtomicFileTest, CancellingLeavesTheTargetUntouched) {
    testfiles::TempDir dir;
    const auto path = dir.Write("kept.txt", "kept");
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(
        path.string(),
        [](std::FILE* file) {
            std::fputs("half", file);
            return false;
        },
        error));
    EXPECT_EQ(error, path.string() + ": cancelled");
    EXPECT_EQ(Read(path), "kept");
    EXPECT_EQ(Entries(dir.path()), 1u);
}

TEST(AtomicFileTest, ADirectoryIsRefused) {
    testfiles::TempDir dir;
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir.path().string(), "x", 1, error));
    EXPECT_EQ(error, dir.path().string() + ": is a directory");
}

TEST(AtomicFileTest, AMissingDirectorySaysSo) {
    testfiles::TempDir dir;
    const std::string path = (dir.path() / "missing" / "x.txt").string();
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(path, "x", 1, error));
    EXPECT_EQ(error.rfind(path + ": cannot create a temporary file beside it: ", 0), 0u) << error;
}

TEST(AtomicFileTest, AReplacedFileKeepsItsPermissions) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows files carry no permission bits";
#else
    testfiles::TempDir dir;
    const auto path = dir.Write("mode.txt", "x");
    ::chmod(path.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path.string(), "y", 1, error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
}

}  // namespace
