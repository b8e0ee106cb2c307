// Runs "kestrel-sc check" over documents with known problems (tests/data/check) and over the
// shipped examples, and checks every finding's code and position and the exit status.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"

namespace {

using toolrunner::Example;
using toolrunner::ReadFile;
using toolrunner::RunTool;
using toolrunner::ToolRun;

std::string Corpus(const std::string& name) {
    return std::string(KESTREL_TEST_DATA_DIR) + "/check/" + name;
}

// The findings of a --format json run as "line:column code", in order.
std::vector<std::string> Findings(const ToolRun& run) {
    std::vector<std::string> found;
    const nlohmann::json json = nlohmann::json::parse(run.out, nullptr, false);
    if (!json.is_array()) {
        ADD_FAILURE() << "not a JSON array: " << run.out << run.err;
        return found;
    }
    for (const nlohmann::json& finding : json) {
        found.push_back(std::to_string(finding.at("line").get<int>()) + ":" +
                        std::to_string(finding.at("column").get<int>()) + " " +
                        finding.at("code").get<std::string>());
    }
    return found;
}

struct CorpusCase {
    const char* name;
    const char* file;
    bool strict;
    int status;
    std::vector<std::string> findings;  // "line:column code", in document order
};

class CheckCorpusTest : public testing::TestWithParam<CorpusCase> {};

TEST_P(CheckCorpusTest, ReportsExactlyTheExpectedFindings) {
    const CorpusCase& test = GetParam();
    ToolRun run = RunTool(std::string("check --format json ") + (test.strict ? "--strict " : "") +
                          Corpus(test.file));
    EXPECT_EQ(run.status, test.status) << run.out << run.err;
    EXPECT_EQ(Findings(run), test.findings) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Check, CheckCorpusTest,
    testing::Values(
        CorpusCase{"MissingTypeOrName",
                   "missing-type-name.xml",
                   false,
                   1,
                   {"5:5 property-missing-type", "6:5 property-missing-name",
                    "7:5 property-missing-type", "8:5 property-missing-name"}},
        CorpusCase{"UnknownTypes",
                   "unknown-type.xml",
                   false,
                   1,
                   {"6:5 unknown-type", "7:5 unknown-type", "8:5 unknown-array-type",
                    "9:5 unknown-array-type"}},
        CorpusCase{"UnreadableValues",
                   "bad-value.xml",
                   false,
                   1,
                   {"5:5 bad-value", "6:5 bad-value", "7:5 bad-value", "8:5 bad-value",
                    "9:5 bad-value", "10:5 bad-value", "14:7 bad-value"}},
        CorpusCase{
            "NumbersStoredAsOthers",
            "out-of-range.xml",
            false,
            1,
            {"6:5 out-of-range", "7:5 out-of-range", "8:5 out-of-range", "9:5 out-of-range",
             "10:5 out-of-range", "11:5 out-of-range", "12:5 out-of-range", "13:5 out-of-range"}},
        CorpusCase{"ArrayCountAndChildren",
                   "array-children.xml",
                   false,
                   1,
                   {"5:5 array-count-mismatch", "10:5 array-count-mismatch",
                    "14:7 array-child-ignored", "15:7 array-child-ignored"}},
        CorpusCase{
            "PropertyChildren", "property-children.xml", false, 1, {"6:7 property-child-ignored"}},
        CorpusCase{"RootPropertiesWarnOnly",
                   "root-property.xml",
                   false,
                   0,
                   {"4:3 root-property", "5:3 root-property"}},
        CorpusCase{"RootPropertiesFailStrict",
                   "root-property.xml",
                   true,
                   1,
                   {"4:3 root-property", "5:3 root-property"}},
        CorpusCase{"ShapeStructure",
                   "shape-structure.xml",
                   false,
                   1,
                   {"5:5 shape-structure", "8:5 shape-structure", "13:7 shape-structure"}},
        // The damaged payload is reported at its offending character.
        CorpusCase{"ShapePayloads",
                   "shape-payload.xml",
                   false,
                   1,
                   {"6:7 shape-count-missing", "10:7 shape-count-mismatch",
                    "14:7 shape-count-mismatch", "18:7 shape-count-mismatch",
                    "22:7 shape-payload-size", "26:61 bad-base64", "31:7 shape-bad-index"}},
        CorpusCase{"Images",
                   "image.xml",
                   false,
                   1,
                   {"5:5 image-empty", "6:75 bad-base64", "7:5 image-unreadable"}},
        CorpusCase{"ImagesStrict",
                   "image.xml",
                   true,
                   1,
                   {"5:5 image-empty", "6:75 bad-base64", "7:5 image-unreadable",
                    "8:5 image-format", "9:5 value-ignored"}},
        CorpusCase{"LikelyMistakesPassWithoutStrict", "strict.xml", false, 0, {}},
        CorpusCase{"LikelyMistakesStrict",
                   "strict.xml",
                   true,
                   1,
                   {"4:3 element-prefix", "6:5 duplicate-name", "7:5 unknown-attribute",
                    "8:5 value-ignored", "10:5 name-case", "11:5 element-prefix",
                    "19:5 unknown-attribute", "20:7 unknown-attribute"}},
        CorpusCase{"MalformedXml", "malformed.xml", false, 1, {"5:1 malformed-xml"}},
        CorpusCase{"JsonOutOfRange", "bad-value.json", false, 1, {"3:63 json-invalid"}},
        CorpusCase{"JsonSyntax", "syntax.json", false, 1, {"2:17 json-invalid"}},
        CorpusCase{"JsonDuplicateMember", "duplicate.json", false, 1, {"2:18 json-invalid"}}),
    [](const testing::TestParamInfo<CorpusCase>& info) { return info.param.name; });

TEST(CheckTest, TextFormatIsOneLinePerFindingThenASummary) {
    const std::string file = Corpus("out-of-range.xml");
    ToolRun run = RunTool("check " + file);
    EXPECT_EQ(run.status, 1);
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 8u) << run.out;
    EXPECT_EQ(all[0], file +
                          ":6:5: error: int8 property \"a\": 300 is outside the range of int8; it "
                          "is stored as 44 [out-of-range]");
    EXPECT_NE(all[3].find("4294967295 is outside the range of int32; it is stored as -1"),
              std::string::npos)
        << all[3];
    EXPECT_EQ(run.err, file + ": 8 errors, 0 warnings\n");
}

TEST(CheckTest, MessagesNameWhatHappens) {
    ToolRun types = RunTool("check " + Corpus("unknown-type.xml"));
    EXPECT_NE(types.out.find("unhandled property type \"Int32\": property \"a\" is left out (did "
                             "you mean \"int32\"?)"),
              std::string::npos)
        << types.out;
    ToolRun shapes = RunTool("check " + Corpus("shape-payload.xml"));
    EXPECT_NE(shapes.out.find("Base64 invalid character 0x21 ('!') at offset 16"),
              std::string::npos)
        << shapes.out;
    EXPECT_NE(shapes.out.find("has 3 vertices (numbered from 0), but triangle 1 uses vertex 7"),
              std::string::npos)
        << shapes.out;
    ToolRun values = RunTool("check " + Corpus("bad-value.xml"));
    EXPECT_NE(values.out.find("int16 property \"c\" has no value; it is stored as the default, 0"),
              std::string::npos)
        << values.out;
}

TEST(CheckTest, JsonOutputCarriesWhatTheTextSays) {
    const std::string file = Corpus("strict.xml");
    ToolRun text = RunTool("check --strict " + file);
    ToolRun json = RunTool("check --strict --format json " + file);
    EXPECT_EQ(json.status, text.status);
    const nlohmann::json findings = nlohmann::json::parse(json.out);
    ASSERT_TRUE(findings.is_array());
    std::string rebuilt;
    for (const nlohmann::json& finding : findings) {
        EXPECT_EQ(finding.size(), 6u) << finding;
        rebuilt += finding.at("file").get<std::string>() + ":" +
                   std::to_string(finding.at("line").get<int>()) + ":" +
                   std::to_string(finding.at("column").get<int>()) + ": " +
                   finding.at("severity").get<std::string>() + ": " +
                   finding.at("message").get<std::string>() + " [" +
                   finding.at("code").get<std::string>() + "]\n";
    }
    EXPECT_EQ(rebuilt, text.out);
    EXPECT_EQ(findings[0].at("severity"), "warning");
}

// The examples declare the kestrel_sc prefix on their roots; a declaration is no finding, and
// neither is its absence.
TEST(CheckTest, ExamplesAndDeclarationsAreClean) {
    testfiles::TempDir dir;
    const std::string part =
        "<kestrel_sc:part><kestrel_sc:property type=\"int32\" name=\"n\">7"
        "</kestrel_sc:property></kestrel_sc:part>";
    const std::string undeclared = dir.Write("undeclared.xml", "<r>" + part + "</r>").string();
    const std::string declared =
        dir.Write(
               "declared.xml",
               "<r v=\"1\" xmlns:kestrel_sc=\"urn:kestrel-sc:serialized-content\">" + part + "</r>")
            .string();
    for (const std::string& file :
         {Example("assembly.xml"), Example("images.xml"), Example("meshes.xml"),
          Example("properties.xml"), Example("showcase.xml"), undeclared, declared}) {
        for (const char* mode : {"", "--strict "}) {
            ToolRun run = RunTool(std::string("check ") + mode + file);
            EXPECT_EQ(run.status, 0) << file << " " << mode << run.out;
            EXPECT_EQ(run.out, "") << file;
            EXPECT_EQ(run.err, file + ": no problems found\n");
        }
    }
}

// naming.xml shows on purpose what strict mode warns about.
TEST(CheckTest, NamingExampleWarnsAboutItsDeliberateNames) {
    ToolRun plain = RunTool("check --format json " + Example("naming.xml"));
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(Findings(plain), std::vector<std::string>{"12:3 root-property"});
    ToolRun strict = RunTool("check --strict --format json " + Example("naming.xml"));
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(Findings(strict),
              (std::vector<std::string>{"8:3 element-prefix", "9:3 element-prefix",
                                        "12:3 root-property", "14:5 name-case"}));
}

TEST(CheckTest, AllFilesAreCheckedAndTheWorstStatusWins) {
    ToolRun mixed = RunTool("check " + Example("assembly.xml") + " " + Corpus("bad-value.xml"));
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.err.find("assembly.xml: no problems found"), std::string::npos);
    EXPECT_NE(mixed.err.find("bad-value.xml: 7 errors, 0 warnings"), std::string::npos);

    ToolRun missing = RunTool("check /no/such/file.xml " + Corpus("bad-value.xml"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("/no/such/file.xml: No such file or directory"), std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("bad-value.xml: 7 errors"), std::string::npos) << missing.err;

    ToolRun quiet = RunTool("-q check " + Example("assembly.xml"));
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
}

struct RefusalCase {
    const char* name;
    std::string arguments;
    std::string message;  // expected in stderr
};

class CheckRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(CheckRefusalTest, ExitsWithStatus2) {
    ToolRun run = RunTool(GetParam().arguments);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Check, CheckRefusalTest,
    testing::Values(
        RefusalCase{"MissingFile", "check /no/such/file.xml", "No such file or directory"},
        RefusalCase{"Directory", "check /tmp", "/tmp: is a directory"},
        RefusalCase{"Device", "check /dev/zero", "not a regular file"},
        RefusalCase{"NoFile", "check", "FILE"},
        RefusalCase{"UnknownFormat", "check --format yaml " + Example("assembly.xml"), "yaml"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(CheckTest, FifoIsRefusedNotWaitedOn) {
    testfiles::TempDir dir;
    std::string fifo = (dir.path() / "pipe.xml").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ToolRun run = RunTool("check " + fifo);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
}

TEST(CheckTest, UnreadableFileIsRefused) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    testfiles::TempDir dir;
    auto file = dir.Write("secret.xml", "<r/>");
    ::chmod(file.c_str(), 0);
    ToolRun run = RunTool("check " + file.string());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
}

TEST(CheckTest, MillionLevelsDeepDocumentIsChecked) {
    testfiles::TempDir dir;
    std::string text = "<r>";
    for (int i = 0; i < 1000000; ++i)
        text += "<kestrel_sc:a>";
    text += "\n<kestrel_sc:property type=\"int8\" name=\"x\">300</kestrel_sc:property>\n";
    for (int i = 0; i < 1000000; ++i)
        text += "</kestrel_sc:a>";
    text += "</r>";
    auto file = dir.Write("deep.xml", text);
    ToolRun run = RunTool("check --strict --format json " + file.string());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(Findings(run), std::vector<std::string>{"2:1 out-of-range"});
}

}  // namespace
