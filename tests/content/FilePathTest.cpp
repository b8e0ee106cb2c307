#include "kestrel/files/FilePath.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "serializedContent/TestFiles.h"

namespace {

namespace files = kestrel::files;

// Directories and missing files are refused as the image, mesh and content tests show.
TEST(FilePathTest, Utf8NamesSurviveAndFilesReadWhole) {
    const std::string name = "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC.xml";
    EXPECT_EQ(files::Utf8Of(files::PathOf(name)), name);
    testfiles::TempDir dir;
    std::string text;
    ASSERT_FALSE(files::ReadRegularFile(dir.Write(name, std::string("a\0b", 3)).string(), text));
    EXPECT_EQ(text, std::string("a\0b", 3));
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

}  // namespace
