#include "kestrel/files/AtomicFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serializedContent/TestFiles.h"

namespace {

using kestrel::Error;
using kestrel::files::WriteFileAtomically;
using testfiles::Listing;
using testfiles::ReadFile;

// New and replaced files hold exactly what was written, and no temporary file stays behind.
TEST(AtomicFileTest, WritesNewAndReplacedFilesAndLeavesNothingElse) {
    testfiles::TempDir dir;
    const std::string fresh = (dir.path() / "new.txt").string();
    const std::string old = dir.Write("old.txt", "a longer old text").string();
    std::string big(3 << 20, 'b');  // several chunks, each reported
    std::uint64_t lastReported = 0;
    EXPECT_FALSE(WriteFileAtomically(fresh, "hello"));
    EXPECT_FALSE(WriteFileAtomically(old, big, [&](std::uint64_t done) {
        lastReported = done;
        return true;
    }));
    EXPECT_EQ(ReadFile(fresh), "hello");
    EXPECT_EQ(ReadFile(old), big);
    EXPECT_EQ(lastReported, big.size());
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"new.txt", "old.txt"}));
}

// A failed or abandoned write leaves the target as it was, and says why and where.
TEST(AtomicFileTest, FailuresLeaveTheTargetUntouched) {
    testfiles::TempDir dir;
    const std::string kept = dir.Write("kept.txt", "kept").string();
    const Error cancelled = WriteFileAtomically(kept, [](std::FILE* file) {
        std::fputs("half", file);
        return false;
    });
    EXPECT_EQ(cancelled.code, Error::Cancelled);
    EXPECT_EQ(cancelled.description(), kept + ": cancelled");
    const Error stopped =
        WriteFileAtomically(kept, std::string(3 << 20, 'x'), [](std::uint64_t) { return false; });
    EXPECT_EQ(stopped.code, Error::Cancelled);
    EXPECT_EQ(ReadFile(kept), "kept");
    const Error directory = WriteFileAtomically(dir.path().string(), "x");
    EXPECT_EQ(directory.code, Error::WriteFailed);
    EXPECT_EQ(directory.description(), dir.path().string() + ": is a directory");
    const std::string missing = (dir.path() / "missing" / "x.txt").string();
    const Error nowhere = WriteFileAtomically(missing, "x");
    const std::string said = nowhere.description();
    EXPECT_EQ(said.rfind(missing + ": cannot create a temporary file beside it: ", 0), 0u) << said;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"kept.txt"});
}

TEST(AtomicFileTest, AReplacedFileKeepsItsPermissions) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows files carry no permission bits";
#else
    testfiles::TempDir dir;
    const auto path = dir.Write("mode.txt", "x");
    ::chmod(path.c_str(), 0640);
    ASSERT_FALSE(WriteFileAtomically(path.string(), "y"));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
}

}  // namespace
