#include "kestrel/files/FilePath.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "serializedContent/TestFiles.h"

namespace {

namespace files = kestrel::files;

TEST(FilePathTest, Utf8NamesSurviveTheWayThroughPaths) {
    const std::string name = "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC.xml";
    EXPECT_EQ(files::Utf8Of(files::PathOf(name)), name);
}

TEST(FilePathTest, StatTellsFilesFromDirectories) {
    testfiles::TempDir dir;
    const auto file = dir.Write("f.txt", "12345");
    const files::FileStatus regular = files::StatFile(file.string());
    EXPECT_EQ(regular.error, 0);
    EXPECT_TRUE(regular.regular);
    EXPECT_FALSE(regular.directory);
    EXPECT_EQ(regular.size, 5u);
    EXPECT_TRUE(files::StatFile(dir.path().string()).directory);
    EXPECT_NE(files::StatFile((dir.path() / "absent").string()).error, 0);
}

TEST(FilePathTest, ReadsRegularFilesOnly) {
    testfiles::TempDir dir;
    const auto file = dir.Write("f.txt", std::string("a\0b", 3));
    std::string text;
    ASSERT_FALSE(files::ReadRegularFile(file.string(), text));
    EXPECT_EQ(text, std::string("a\0b", 3));
    const kestrel::Error directory = files::ReadRegularFile(dir.path().string(), text);
    EXPECT_EQ(directory.code, kestrel::Error::NotRegularFile);
    EXPECT_EQ(directory.description(), dir.path().string() + ": is a directory");
    const std::string absent = (dir.path() / "absent").string();
    const kestrel::Error missing = files::ReadRegularFile(absent, text);
    EXPECT_EQ(missing.code, kestrel::Error::NotFound);
    EXPECT_EQ(missing.description(), absent + ": No such file or directory");
}

TEST(FilePathTest, AFifoIsRefusedWithoutWaiting) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs";
#else
    testfiles::TempDir dir;
    const auto fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string text;
    const kestrel::Error error = files::ReadRegularFile(fifo.string(), text);
    EXPECT_EQ(error.code, kestrel::Error::NotRegularFile);
    EXPECT_EQ(error.message, "not a regular file");
#endif
}

TEST(FilePathTest, TheProgramLivesSomewhere) {
    EXPECT_FALSE(files::ExecutableDirectory().empty());
}

}  // namespace
