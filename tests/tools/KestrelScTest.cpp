// Runs the kestrel-sc program as a user would and checks what it prints and its exit status.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "../serializedContent/TestFiles.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs kestrel-sc with arguments (already quoted for the shell), stopping it after 120 s.
ToolRun RunTool(const std::string& arguments) {
    testfiles::TempDir dir;
    std::string command = "timeout 120 " + std::string(KESTREL_BINARY_DIR) + "/kestrel-sc " +
                          arguments + " > " + (dir.path() / "out").string() + " 2> " +
                          (dir.path() / "err").string();
    int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(dir.path() / "out");
    run.err = ReadFile(dir.path() / "err");
    return run;
}

std::string Example(const char* name) {
    return std::string(KESTREL_EXAMPLES_DIR) + "/" + name;
}

TEST(KestrelScTest, TreePrintsOneElementPerLine) {
    ToolRun run = RunTool("tree " + Example("assembly.xml"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("figure\n", 0), 0u);
    EXPECT_NE(run.out.find("\n  "), std::string::npos);
    EXPECT_EQ(run.err, "");
}

TEST(KestrelScTest, CatWritesCanonicalJsonToAFile) {
    testfiles::TempDir dir;
    std::string out = (dir.path() / "out.json").string();
    ToolRun run = RunTool("cat " + Example("naming.xml") + " --to json -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    nlohmann::json json = nlohmann::json::parse(ReadFile(out));
    EXPECT_EQ(json["name"], "figure");
    EXPECT_TRUE(json["children"].is_array());
    ToolRun compact = RunTool("cat " + Example("naming.xml") + " --to json --compact");
    EXPECT_EQ(nlohmann::json::parse(compact.out), json);
}

struct FailureCase {
    const char* name;
    std::string arguments;
    int status;
    std::string message;  // expected in stderr
};

class KestrelScFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(KestrelScFailureTest, ExitsWithStatusAndMessage) {
    ToolRun run = RunTool(GetParam().arguments);
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KestrelScFailureTest,
    testing::Values(
        FailureCase{"MissingFile", "tree /no/such/file.xml", 1, "No such file or directory"},
        FailureCase{"Directory", "tree /tmp", 1, "is a directory"},
        FailureCase{"DeviceNeverReadForever", "tree /dev/zero", 1, "not a regular file"},
        FailureCase{"NoSubcommand", "", 2, ""},
        FailureCase{"UnknownSubcommand", "frobnicate x", 2, ""},
        FailureCase{"MissingOperand", "tree", 2, "FILE"},
        FailureCase{"UnknownFormat", "cat " + Example("assembly.xml") + " --to yaml", 2, "yaml"},
        FailureCase{"ModuleMissing", "--module /no/such/module.so tree x.xml", 2,
                    "cannot open the serialized-content module"},
        FailureCase{"OutputDirectoryMissing",
                    "cat " + Example("assembly.xml") + " --to json -o /no/such/dir/out.json", 1,
                    "/no/such/dir/out.json"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(KestrelScTest, MalformedXmlNamesLineAndColumn) {
    testfiles::TempDir dir;
    auto file = dir.Write("bad.xml", "<root>\n  <kestrel_sc:a>\n</root>\n");
    ToolRun run = RunTool("tree " + file.string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("bad.xml:3:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Error loading orbifile."), std::string::npos) << run.err;
}

TEST(KestrelScTest, FifoIsRefusedNotWaitedOn) {
    testfiles::TempDir dir;
    std::string fifo = (dir.path() / "pipe.xml").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ToolRun run = RunTool("tree " + fifo);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
}

TEST(KestrelScTest, UnreadableFileIsReported) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    testfiles::TempDir dir;
    auto file = dir.Write("secret.xml", "<r/>");
    ::chmod(file.c_str(), 0);
    ToolRun run = RunTool("tree " + file.string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
}

TEST(KestrelScTest, MillionLevelsDeepDocumentLoads) {
    testfiles::TempDir dir;
    std::string text = "<r>";
    for (int i = 0; i < 1000000; ++i)
        text += "<a>";
    for (int i = 0; i < 1000000; ++i)
        text += "</a>";
    text += "</r>";
    auto file = dir.Write("deep.xml", text);
    ToolRun run = RunTool("tree " + file.string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("[depth 1000000] a\n"), std::string::npos);
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
