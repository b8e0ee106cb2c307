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
using toolrunner::AllExamples;
using toolrunner::Example;
using toolrunner::kExamples;
using toolrunner::Listing;
using toolrunner::ReadFile;
using toolrunner::RunTool;
using toolrunner::ToolRun;

// Every file of the check corpus, in name order, with the examples and a missing file among
// them, each given twice so that the workers have enough to share.
std::string CheckInputs() {
    std::string list;
    for (const std::string& name : Listing(toolrunner::Corpus("")))
        list += " " + toolrunner::Corpus(name);
    list += AllExamples() + " /no/such/file.xml";
    return list + list;
}

TEST(CatBatchTest, EachOutputEqualsACatOfItsInputAlone) {
    for (const std::string options : {"", "--to json ", "--to json --compact "}) {
        testfiles::TempDir dir;
        const fs::path out = dir.path() / "new" / "out";  // created with its parent
        ToolRun run = RunTool("cat -j 4 " + options + AllExamples() + " -o " + out.string());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out + run.err, "");
        std::vector<std::string> expected;
        for (const std::string& name : kExamples) {
            expected.push_back(fs::path(name).stem().string() +
                               (options.empty() ? ".xml" : ".json"));
            EXPECT_EQ(ReadFile(out / expected.back()),
                      RunTool("cat " + options + Example(name)).out)
                << expected.back();
        }
        EXPECT_EQ(Listing(out), expected);
    }
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
    std::string arguments;  // "{dir}" stands for a scratch directory holding good.xml, bad.xml
    int status;
    std::vector<std::string> messages;      // expected on stderr, in this order
    std::vector<std::string> written = {};  // files in {dir}/out afterwards
};

class CatBatchFailureTest : public testing::TestWithParam<CatFailureCase> {};

TEST_P(CatBatchFailureTest, ExitsWithStatusAndMessagesInInputOrder) {
    testfiles::TempDir dir;
    dir.Write("good.xml", ReadFile(Example("naming.xml")));
    dir.Write("bad.xml", "<root>\n  <kestrel_sc:a>\n</root>\n");
    dir.Write("a/same.xml", "<r/>");
    dir.Write("b/same.json", R"({"name": "figure", "properties": [], "children": []})");
    dir.Write("file", "not a directory");
    ToolRun run = RunTool(toolrunner::WithDir(GetParam().arguments, dir.path()));
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    std::size_t from = 0;
    for (const std::string& pattern : GetParam().messages) {
        const std::size_t at = run.err.find(toolrunner::WithDir(pattern, dir.path()), from);
        EXPECT_NE(at, std::string::npos) << pattern << " after " << from << " in " << run.err;
        from = at == std::string::npos ? from : at + 1;
    }
    EXPECT_EQ(Listing(dir.path() / "out"), GetParam().written);
}

const std::string kTwo = " {dir}/good.xml " + Example("assembly.xml");

INSTANTIATE_TEST_SUITE_P(
    Cases, CatBatchFailureTest,
    testing::Values(
        // Loads run at once; errors still come in the order of the inputs.
        CatFailureCase{"cat -j 4 {dir}/bad.xml /no/such/file.xml" + kTwo + " -o {dir}/out",
                       1,
                       {"error: {dir}/bad.xml:3:", "error: /no/such/file.xml: No such file"},
                       {"assembly.xml", "good.xml"}},
        CatFailureCase{"cat" + kTwo + " -o {dir}/file", 2, {"{dir}/file: not a directory"}},
        CatFailureCase{"cat {dir}/a/same.xml {dir}/good.xml {dir}/b/same.json -o {dir}/out",
                       2,
                       {"{dir}/a/same.xml and {dir}/b/same.json would both be written to "
                        "{dir}/out/same.xml"}},
        CatFailureCase{"cat --to json {dir}/good.xml {dir}/good.xml -o {dir}/out",
                       2,
                       {"would both be written to {dir}/out/good.json"}},
        CatFailureCase{
            "cat" + kTwo, 2, {"several inputs are written into a directory; name it with -o DIR"}},
        CatFailureCase{"cat" + kTwo + " -o -", 2, {"name it with -o DIR"}},
        CatFailureCase{"cat {dir}/a/ {dir}/good.xml -o {dir}/out",
                       2,
                       {"{dir}/a/: no file name to name its output after"}},
        CatFailureCase{"cat -j 0" + kTwo + " -o {dir}/out", 2, {"--jobs"}}));

TEST(CatBatchTest, ModuleFailureIsReportedOnceAndNothingIsWritten) {
    testfiles::TempDir dir;
    ToolRun run = RunTool("--module /no/such/module.so cat" + AllExamples() + " -o " +
                          (dir.path() / "out").string());
    EXPECT_EQ(run.status, 2);
    const std::string message = "cannot open the serialized-content module";
    EXPECT_EQ(run.err.find(message), run.err.rfind(message)) << run.err;
    EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

// Bars of files loaded at once would overwrite each other's line.
TEST(CatBatchTest, BarsOnlyWhenFilesRunOneAtATime) {
    for (const char* jobs : {"1", "4"}) {
        testfiles::TempDir dir;
        ToolRun run = RunTool(std::string("--progress cat -j ") + jobs + AllExamples() + " -o " +
                              dir.path().string());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Listing(dir.path()).size(), kExamples.size());
        const bool drawn = *jobs == '1';
        EXPECT_EQ(run.err.find("\rloading [") != std::string::npos, drawn) << run.err;
        EXPECT_EQ(run.err.find("\rwriting [") != std::string::npos, drawn) << run.err;
        EXPECT_EQ(run.err.empty(), !drawn) << run.err;
    }
}

// The missing file wins over the problems found: status 2 whatever the number of workers.
TEST(CheckJobsTest, ParallelRunPrintsExactlyWhatOneWorkerPrints) {
    const std::string inputs = CheckInputs();
    for (const char* form : {"check ", "-q check --strict --format json "}) {
        ToolRun one = RunTool(form + std::string("-j 1") + inputs);
        EXPECT_EQ(one.status, 2);
        EXPECT_FALSE(one.out.empty());
        EXPECT_NE(one.err.find("/no/such/file.xml: No such file or directory"), std::string::npos);
        for (const char* jobs : {"-j 4", ""}) {
            ToolRun many = RunTool(form + std::string(jobs) + inputs);
            EXPECT_EQ(many.status, one.status) << form << jobs;
            EXPECT_EQ(many.out, one.out) << form << jobs;
            EXPECT_EQ(many.err, one.err) << form << jobs;
        }
    }
}

}  // namespace
