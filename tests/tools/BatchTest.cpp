// "kestrel-sc cat" and "kestrel-sc check" over several files at once, run as a user runs them:
// parallel runs print what a run with one worker prints, and outputs land in a directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using toolrunner::Example;
using toolrunner::ReadFile;
using toolrunner::RunTool;
using toolrunner::ToolRun;

const std::vector<std::string> kExamples = {"assembly.xml", "images.xml",     "meshes.xml",
                                            "naming.xml",   "properties.xml", "showcase.xml"};

std::string AllExamples() {
    std::string list;
    for (const std::string& name : kExamples)
        list += " " + Example(name);
    return list;
}

// The files in directory, by name.
std::vector<std::string> Listing(const fs::path& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every file of the check corpus, in name order, with the examples and a missing file among
// them, each given twice so that the workers have enough to share.
std::string CheckInputs() {
    std::vector<std::string> corpus;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(std::string(KESTREL_TEST_DATA_DIR) + "/check"))
        corpus.push_back(entry.path().string());
    std::sort(corpus.begin(), corpus.end());
    std::string list;
    for (int round = 0; round < 2; ++round) {
        for (const std::string& file : corpus)
            list += " " + file;
        list += AllExamples() + " /no/such/file.xml";
    }
    return list;
}

struct CatFormCase {
    const char* name;
    const char* options;
    const char* extension;
};

class CatBatchTest : public testing::TestWithParam<CatFormCase> {};

TEST_P(CatBatchTest, EachOutputEqualsACatOfItsInputAlone) {
    testfiles::TempDir dir;
    const fs::path out = dir.path() / "new" / "out";  // created with its parent
    ToolRun run = RunTool("cat -j 4 " + std::string(GetParam().options) + AllExamples() + " -o " +
                          out.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    std::vector<std::string> expected;
    for (const std::string& name : kExamples) {
        const std::string output = fs::path(name).stem().string() + GetParam().extension;
        expected.push_back(output);
        ToolRun alone = RunTool("cat " + std::string(GetParam().options) + Example(name));
        ASSERT_EQ(alone.status, 0) << alone.err;
        EXPECT_EQ(ReadFile(out / output), alone.out) << output;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Listing(out), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CatBatchTest,
    testing::Values(CatFormCase{"Xml", "", ".xml"}, CatFormCase{"Json", "--to json ", ".json"},
                    CatFormCase{"CompactJson", "--to json --compact ", ".json"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CatBatchTest, JsonInputsConvertBackLikeEachAlone) {
    testfiles::TempDir dir;
    ASSERT_EQ(
        RunTool("cat --to json" + AllExamples() + " -o " + (dir.path() / "json").string()).status,
        0);
    std::string inputs;
    for (const std::string& name : Listing(dir.path() / "json"))
        inputs += " " + (dir.path() / "json" / name).string();
    ToolRun run = RunTool("cat -j 3" + inputs + " -o " + (dir.path() / "xml").string());
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string& name : kExamples)
        EXPECT_EQ(ReadFile(dir.path() / "xml" / name), RunTool("cat " + Example(name)).out) << name;
}

TEST(CatBatchTest, OneInputGoesIntoADirectoryWhenOutputEndsInASlashOrIsOne) {
    testfiles::TempDir dir;
    const std::string fresh = (dir.path() / "fresh").string() + "/";
    ASSERT_EQ(RunTool("cat " + Example("naming.xml") + " --to json -o " + fresh).status, 0);
    EXPECT_EQ(Listing(fresh), std::vector<std::string>{"naming.json"});
    ASSERT_EQ(RunTool("cat " + Example("naming.xml") + " -o " + dir.path().string()).status, 0);
    EXPECT_EQ(ReadFile(dir.path() / "naming.xml"), RunTool("cat " + Example("naming.xml")).out);
    // Without either, -o names the output file, as always.
    const std::string file = (dir.path() / "plain").string();
    ASSERT_EQ(RunTool("cat " + Example("naming.xml") + " -o " + file).status, 0);
    EXPECT_TRUE(fs::is_regular_file(file));
}

struct CatFailureCase {
    const char* name;
    std::string arguments;  // "{dir}" stands for a scratch directory holding good.xml, bad.xml
    int status;
    std::vector<std::string> messages;  // expected on stderr, in this order
    std::vector<std::string> written;   // files in {dir}/out afterwards
};

class CatBatchFailureTest : public testing::TestWithParam<CatFailureCase> {};

TEST_P(CatBatchFailureTest, ExitsWithStatusAndMessagesInInputOrder) {
    testfiles::TempDir dir;
    dir.Write("good.xml", ReadFile(Example("naming.xml")));
    dir.Write("bad.xml", "<root>\n  <kestrel_sc:a>\n</root>\n");
    dir.Write("a/same.xml", "<r/>");
    dir.Write("b/same.json", R"({"name": "figure", "properties": [], "children": []})");
    dir.Write("file", "not a directory");
    auto fill = [&dir](std::string text) {
        for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;)
            text.replace(at, 5, dir.path().string());
        return text;
    };
    ToolRun run = RunTool(fill(GetParam().arguments));
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    std::size_t from = 0;
    for (const std::string& pattern : GetParam().messages) {
        const std::string message = fill(pattern);
        const std::size_t at = run.err.find(message, from);
        EXPECT_NE(at, std::string::npos) << message << " after " << from << " in " << run.err;
        from = at == std::string::npos ? from : at + message.size();
    }
    EXPECT_EQ(Listing(dir.path() / "out"), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CatBatchFailureTest,
    testing::Values(
        // Loads run at once; errors still come in the order of the inputs.
        CatFailureCase{"OneBadAmongGood",
                       "cat -j 4 {dir}/bad.xml " + Example("assembly.xml") +
                           " /no/such/file.xml {dir}/good.xml -o {dir}/out",
                       1,
                       {"error: {dir}/bad.xml:3:", "error: /no/such/file.xml: No such file"},
                       {"assembly.xml", "good.xml"}},
        CatFailureCase{"OutputIsAFile",
                       "cat {dir}/good.xml " + Example("assembly.xml") + " -o {dir}/file",
                       2,
                       {"{dir}/file: not a directory"},
                       {}},
        CatFailureCase{"ClashingNames",
                       "cat {dir}/a/same.xml {dir}/good.xml {dir}/b/same.json -o {dir}/out",
                       2,
                       {"{dir}/a/same.xml and {dir}/b/same.json would both be written to "
                        "{dir}/out/same.xml"},
                       {}},
        CatFailureCase{"SameInputTwice",
                       "cat --to json {dir}/good.xml {dir}/good.xml -o {dir}/out",
                       2,
                       {"would both be written to {dir}/out/good.json"},
                       {}},
        CatFailureCase{"NoOutputDirectory",
                       "cat {dir}/good.xml " + Example("assembly.xml"),
                       2,
                       {"several inputs are written into a directory; name it with -o DIR"},
                       {}},
        CatFailureCase{"OutputIsStandardOutput",
                       "cat {dir}/good.xml " + Example("assembly.xml") + " -o -",
                       2,
                       {"name it with -o DIR"},
                       {}},
        CatFailureCase{"InputWithoutAFileName",
                       "cat {dir}/a/ {dir}/good.xml -o {dir}/out",
                       2,
                       {"{dir}/a/: no file name to name its output after"},
                       {}},
        CatFailureCase{"NoJobs",
                       "cat -j 0 {dir}/good.xml " + Example("assembly.xml") + " -o {dir}/out",
                       2,
                       {"--jobs"},
                       {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CatBatchTest, ModuleFailureIsReportedOnceAndNothingIsWritten) {
    testfiles::TempDir dir;
    ToolRun run = RunTool("--module /no/such/module.so cat" + AllExamples() + " -o " +
                          (dir.path() / "out").string());
    EXPECT_EQ(run.status, 2);
    const std::string message = "cannot open the serialized-content module";
    EXPECT_EQ(run.err.find(message), run.err.rfind(message)) << run.err;
    EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

struct ProgressCase {
    const char* name;
    const char* jobs;
    bool drawn;
};

class CatBatchProgressTest : public testing::TestWithParam<ProgressCase> {};

TEST_P(CatBatchProgressTest, BarsOnlyWhenFilesRunOneAtATime) {
    testfiles::TempDir dir;
    ToolRun run = RunTool(std::string("--progress cat -j ") + GetParam().jobs + AllExamples() +
                          " -o " + dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Listing(dir.path()).size(), kExamples.size());
    if (GetParam().drawn) {
        EXPECT_NE(run.err.find("\rloading ["), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("\rwriting ["), std::string::npos) << run.err;
    } else {
        EXPECT_EQ(run.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, CatBatchProgressTest,
                         testing::Values(ProgressCase{"OneJob", "1", true},
                                         ProgressCase{"FourJobs", "4", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CheckJobsCase {
    const char* name;
    const char* options;
    const char* global;  // before the command
};

class CheckJobsTest : public testing::TestWithParam<CheckJobsCase> {};

TEST_P(CheckJobsTest, ParallelRunPrintsExactlyWhatOneWorkerPrints) {
    const std::string inputs = CheckInputs();
    auto runWith = [&](const std::string& jobs) {
        return RunTool(std::string(GetParam().global) + "check " + GetParam().options + jobs +
                       inputs);
    };
    ToolRun one = runWith("-j 1");
    ToolRun four = runWith("-j 4");
    ToolRun cores = runWith("");
    EXPECT_EQ(one.status, 2);  // the missing file wins over the problems found
    EXPECT_EQ(four.status, one.status);
    EXPECT_EQ(cores.status, one.status);
    EXPECT_FALSE(one.out.empty());
    EXPECT_EQ(four.out, one.out);
    EXPECT_EQ(cores.out, one.out);
    EXPECT_EQ(four.err, one.err);
    EXPECT_EQ(cores.err, one.err);
    EXPECT_NE(one.err.find("/no/such/file.xml: No such file or directory"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CheckJobsTest,
    testing::Values(CheckJobsCase{"Text", "", ""}, CheckJobsCase{"Strict", "--strict ", ""},
                    CheckJobsCase{"Json", "--format json ", ""},
                    CheckJobsCase{"StrictJsonQuiet", "--strict --format json ", "-q "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckJobsTest, FindingsAndSummariesFollowTheOrderOfTheFiles) {
    const std::string bad = std::string(KESTREL_TEST_DATA_DIR) + "/check/bad-value.xml";
    const std::string clean = Example("meshes.xml");
    ToolRun run = RunTool("check -j 2 " + clean + " " + bad + " " + clean);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, clean + ": no problems found\n" + bad + ": 7 errors, 0 warnings\n" + clean +
                           ": no problems found\n");
    EXPECT_EQ(run.out.rfind(bad + ":5:5: error: ", 0), 0u) << run.out;
}

}  // namespace
