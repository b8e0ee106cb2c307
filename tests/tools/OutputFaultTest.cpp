// Writes that fail half-way (a file-size limit, a full device) and outputs that are not plain new
// files (links, devices, the input itself): the tool reports the failure with exit 1, leaves no
// partial output or temporary file, and never harms the input.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using toolrunner::Example;
using toolrunner::ReadFile;
using toolrunner::RunTool;

struct FaultCase {
    const char* name;
    const char* before;  // shell commands run before the tool
    const char* output;  // "{dir}" stands for the scratch directory
    int status;
    const char* message;  // on stderr; empty when the write succeeds
};

class OutputFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(OutputFaultTest, FailsCleanlyOrWritesWhole) {
    const FaultCase& row = GetParam();
    testfiles::TempDir dir;
    const std::string original = ReadFile(Example("meshes.xml"));
    const fs::path input = dir.Write("in.xml", original);
    const std::string output = toolrunner::WithDir(row.output, dir.path());

    const toolrunner::ToolRun run = RunTool("cat " + input.string() + " -o " + output, row.before);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(input), original) << "the input was changed";
    // No partial output, no temporary file.
    EXPECT_EQ(toolrunner::Listing(dir.path()), std::vector<std::string>{"in.xml"});
    struct stat info {};
    EXPECT_TRUE(output.rfind("/dev/", 0) != 0 ||
                (::stat(output.c_str(), &info) == 0 && S_ISCHR(info.st_mode)))
        << output << " is no longer a device";
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, OutputFaultTest,
    ::testing::Values(
        FaultCase{"FileSizeLimit", "ulimit -f 32; ", "{dir}/out.xml", 1, "File too large"},
        FaultCase{"FileSizeLimitOverTheInput", "ulimit -f 32; ", "{dir}/in.xml", 1,
                  "File too large"},
        FaultCase{"FullDevice", "", "/dev/full", 1, "/dev/full: No space left on device"},
        FaultCase{"NullDevice", "", "/dev/null", 0, ""},
        FaultCase{"MissingDirectory", "", "{dir}/no/such/out.xml", 1, "No such file or directory"},
        FaultCase{"OverTheInput", "", "{dir}/in.xml", 0, ""}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// Replacing a file through a link replaces the file the link names, with its permissions kept.
TEST(OutputTargetTest, LinkIsFollowedAndPermissionsKept) {
    testfiles::TempDir dir;
    const fs::path target = dir.Write("target.xml", "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = dir.path() / "link.xml";
    fs::create_symlink(target, link);
    const toolrunner::ToolRun run =
        RunTool("cat " + Example("naming.xml") + " -o " + link.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), RunTool("cat " + Example("naming.xml")).out);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
