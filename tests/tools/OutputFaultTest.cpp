// Writes that fail half-way (a file-size limit, a full device) and outputs that are not plain new
// files (links, devices, the input itself): the tool reports the failure with exit 1, leaves no
// partial output or temporary file, and never harms the input.
#include <sys/stat.h>

#include <algorithm>
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

// Names in directory other than those the test made.
std::vector<std::string> Leftovers(const fs::path& directory,
                                   const std::vector<std::string>& expected) {
    std::vector<std::string> extra;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            extra.push_back(name);
    }
    return extra;
}

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
    std::string output = row.output;
    if (const std::size_t at = output.find("{dir}"); at != std::string::npos)
        output.replace(at, 5, dir.path().string());

    const toolrunner::ToolRun run = RunTool("cat " + input.string() + " -o " + output, row.before);
    EXPECT_EQ(run.status, row.status) << run.err;
    if (*row.message) {
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(input), original) << "the input was changed";
    std::vector<std::string> expected{"in.xml"};
    if (row.status == 0 && output.rfind(dir.path().string(), 0) == 0)
        expected.push_back(fs::path(output).filename().string());
    EXPECT_EQ(Leftovers(dir.path(), expected), std::vector<std::string>{});
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

// A write through a device leaves the device a device.
TEST(OutputTargetTest, DevicesStayDevices) {
    for (const char* device : {"/dev/null", "/dev/full"}) {
        RunTool("cat " + Example("naming.xml") + " -o " + device);
        struct stat info {};
        ASSERT_EQ(::stat(device, &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << device << " was replaced";
    }
}

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
    const fs::path plain = dir.path() / "plain.xml";
    ASSERT_EQ(RunTool("cat " + Example("naming.xml") + " -o " + plain.string()).status, 0);
    EXPECT_EQ(ReadFile(target), ReadFile(plain));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
