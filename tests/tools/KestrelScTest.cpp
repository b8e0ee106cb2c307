// Runs the kestrel-sc program as a user would and checks what it prints and its exit status.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "ToolRunner.h"

namespace {

using toolrunner::Corpus;
using toolrunner::Example;
using toolrunner::ReadFile;
using toolrunner::RunTool;
using toolrunner::ToolRun;

const std::string kAssembly = Example("assembly.xml");

struct FailureCase {
    std::string arguments;  // "{dir}" holds pipe.xml, a FIFO, and secret.xml, unreadable
    int status;
    std::string message;  // expected on stderr
};

class KestrelScFailureTest : public testing::TestWithParam<FailureCase> {};

// Failures print nothing on standard output: 1 when an input or output fails, 2 for a bad
// command line or an unusable module, and 2 for any failure of diff and check, whose 1 is "no".
TEST_P(KestrelScFailureTest, ExitsWithStatusAndMessage) {
    const FailureCase& row = GetParam();
    if (row.message == "Permission denied" && ::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    testfiles::TempDir dir;
    ASSERT_EQ(::mkfifo((dir.path() / "pipe.xml").c_str(), 0600), 0);
    ::chmod(dir.Write("secret.xml", "<r/>").c_str(), 0);
    ToolRun run = RunTool(toolrunner::WithDir(row.arguments, dir.path()));
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KestrelScFailureTest,
    testing::Values(
        FailureCase{"tree /no/such/file.xml", 1, "No such file or directory"},
        FailureCase{"tree /tmp", 1, "is a directory"},
        FailureCase{"tree /dev/zero", 1, "not a regular file"},       // never read forever
        FailureCase{"tree {dir}/pipe.xml", 1, "not a regular file"},  // never waited on
        FailureCase{"tree {dir}/secret.xml", 1, "Permission denied"},
        FailureCase{"tree " + Corpus("malformed.xml"), 1,
                    "opened at 3:3 (Error loading orbifile.)"},
        FailureCase{"tree " + kAssembly + " --mask bicycle/nothing", 1,
                    "no element at 'bicycle/nothing'"},
        FailureCase{"", 2, ""}, FailureCase{"frobnicate x", 2, ""}, FailureCase{"tree", 2, "FILE"},
        FailureCase{"cat " + kAssembly + " --to yaml", 2, "yaml"},
        FailureCase{"--module /no/such/module.so tree x.xml", 2,
                    "cannot open the serialized-content module"},
        FailureCase{"cat " + kAssembly + " -o /no/such/dir/out.json", 1, "/no/such/dir/out.json"},
        FailureCase{"cat " + Corpus("bad-value.json"), 1, "/children/0/properties/0/value"},
        FailureCase{"get " + kAssembly + " bicycle/saddle", 1, "no element at 'bicycle/saddle'"},
        FailureCase{"get " + kAssembly + " bicycle@weight", 1,
                    "'figure/bicycle' has no property 'weight'"},
        FailureCase{"export " + kAssembly, 2, "give --shapes DIR, --images DIR or --gltf FILE"},
        FailureCase{"check /no/such/file.xml", 2, "No such file or directory"},
        FailureCase{"check /tmp", 2, "/tmp: is a directory"},
        FailureCase{"check /dev/zero", 2, "not a regular file"},
        FailureCase{"check {dir}/pipe.xml", 2, "not a regular file"},
        FailureCase{"check {dir}/secret.xml", 2, "Permission denied"},
        FailureCase{"diff /no/such/a.xml " + kAssembly, 2, "/no/such/a.xml"},
        FailureCase{"diff " + Corpus("malformed.xml") + " " + kAssembly, 2, "malformed.xml:5:"},
        FailureCase{"diff " + kAssembly + " " + Corpus("bad-value.json"), 2,
                    "/children/0/properties/0/value"},
        FailureCase{"diff --eps nan " + kAssembly + " " + kAssembly, 2,
                    "--eps must be a number not below 0"},
        FailureCase{"diff --eps small " + kAssembly + " " + kAssembly, 2, "eps"},
        FailureCase{"diff --brief --format json " + kAssembly + " " + kAssembly, 2, "brief"}));

TEST(KestrelScTest, DeepDocumentLoads) {
    testfiles::TempDir dir;
    auto file = dir.Write("deep.xml", toolrunner::Nested(KESTREL_TEST_DEPTH, "<a>", ""));
    ToolRun run = RunTool("tree " + file.string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("[depth " + std::to_string(KESTREL_TEST_DEPTH) + "] a\n"),
              std::string::npos);
}

TEST(KestrelScTest, TreeShowsEachPropertyUnderItsElement) {
    const std::pair<std::string, const char*> rows[] = {
        {Example("properties.xml"), "    @count: int32 = -42\n"},
        {Example("properties.xml"), "    @mask: uint32 = 4294967295\n"},
        {Example("properties.xml"), "    @serial: uint64 = 18446744073709551615\n"},
        {Example("properties.xml"), "    @weights: float[] = [3] 0.2, 0.3, 0.5\n"},
        {Example("meshes.xml"), "@mesh: shape = 8 vertices, 12 triangles\n"},
        {Example("images.xml"), "@logo: image = 48 x 24 rgba8\n"},
        {"--items 2 " + Example("properties.xml"), "@weights: float[] = [3] 0.2, ..., 0.5\n"},
    };
    for (const auto& [arguments, line] : rows) {
        ToolRun run = RunTool("tree " + arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
    }
}

TEST(KestrelScTest, ImportLeavesTheTargetUntouchedOnFailure) {
    testfiles::TempDir dir;
    auto target = dir.Write("t.xml", "<r><kestrel_sc:a/></r>");
    auto bad = dir.Write("bad.obj", "v 0 0 0\nf 1 2 3\n");
    ToolRun run = RunTool("import-mesh " + bad.string() + " --into " + target.string() +
                          " --element a --name m");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFile(target), "<r><kestrel_sc:a/></r>");
}

// Tests run with stderr on a file, so the bar is off unless asked for; the output is the same
// either way.
TEST(KestrelScTest, ProgressBarOnlyWhenAskedAndOutputUnchanged) {
    testfiles::TempDir dir;
    const std::string xml = Example("showcase.xml"), json = (dir.path() / "in.json").string();
    const std::string out = (dir.path() / "out.xml").string();
    ASSERT_EQ(RunTool("cat " + xml + " --to json -o " + json).status, 0);
    const std::string expected = RunTool("cat " + xml).out;
    const std::tuple<const char*, std::string, bool> rows[] = {
        {"", xml, false},
        {"--progress", xml, true},
        {"--progress", json, true},
        {"--no-progress", xml, false},
        {"-q --progress", xml, false},
    };
    for (const auto& [options, input, drawn] : rows) {
        ToolRun run = RunTool(options + (" cat " + input) + " -o " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ReadFile(out), expected);
        for (const char* part : {"\rloading [", "\rwriting [", "100%", "B/s  in "})
            EXPECT_EQ(run.err.find(part) != std::string::npos, drawn) << options << run.err;
        EXPECT_EQ(run.err.empty(), !drawn);
        EXPECT_EQ(run.err.empty() ? '\n' : run.err.back(), '\n');
    }
}

TEST(KestrelScTest, VersionAndHelp) {
    ToolRun version = RunTool("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kestrel-sc ", 0), 0u);
    ToolRun help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

}  // namespace
