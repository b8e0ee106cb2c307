// Runs "kestrel-sc check" over documents with known problems (tests/data/check) and over the
// shipped examples, and checks every finding's code and position and the exit status.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"

namespace {

using toolrunner::Corpus;
using toolrunner::Example;
using toolrunner::RunTool;
using toolrunner::ToolRun;

// The findings of a --format json run as "line:column code", comma-separated, in order.
std::string Findings(const ToolRun& run) {
    const nlohmann::json json = nlohmann::json::parse(run.out, nullptr, false);
    if (!json.is_array())
        return "not a JSON array: " + run.out + run.err;
    std::string found;
    for (const nlohmann::json& finding : json) {
        found += (found.empty() ? "" : ", ") + std::to_string(finding.at("line").get<int>()) + ":" +
                 std::to_string(finding.at("column").get<int>()) + " " +
                 finding.at("code").get<std::string>();
    }
    return found;
}

struct CorpusCase {
    const char* file;
    bool strict;
    int status;
    const char* findings;  // "line:column code", in document order
};

class CheckCorpusTest : public testing::TestWithParam<CorpusCase> {};

TEST_P(CheckCorpusTest, ReportsExactlyTheExpectedFindings) {
    const CorpusCase& row = GetParam();
    ToolRun run = RunTool(std::string("check --format json ") + (row.strict ? "--strict " : "") +
                          Corpus(row.file));
    EXPECT_EQ(run.status, row.status) << row.file << run.out << run.err;
    EXPECT_EQ(Findings(run), row.findings) << row.file << (row.strict ? " --strict" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Check, CheckCorpusTest,
    testing::Values(
        CorpusCase{"missing-type-name.xml", false, 1,
                   "5:5 property-missing-type, 6:5 property-missing-name, "
                   "7:5 property-missing-type, 8:5 property-missing-name"},
        CorpusCase{"unknown-type.xml", false, 1,
                   "6:5 unknown-type, 7:5 unknown-type, 8:5 unknown-array-type, "
                   "9:5 unknown-array-type"},
        CorpusCase{"bad-value.xml", false, 1,
                   "5:5 bad-value, 6:5 bad-value, 7:5 bad-value, 8:5 bad-value, 9:5 bad-value, "
                   "10:5 bad-value, 14:7 bad-value"},
        CorpusCase{"out-of-range.xml", false, 1,
                   "6:5 out-of-range, 7:5 out-of-range, 8:5 out-of-range, 9:5 out-of-range, "
                   "10:5 out-of-range, 11:5 out-of-range, 12:5 out-of-range, 13:5 out-of-range"},
        CorpusCase{"array-children.xml", false, 1,
                   "5:5 array-count-mismatch, 10:5 array-count-mismatch, "
                   "14:7 array-child-ignored, 15:7 array-child-ignored"},
        CorpusCase{"property-children.xml", false, 1, "6:7 property-child-ignored"},
        CorpusCase{"root-property.xml", false, 0, "4:3 root-property, 5:3 root-property"},
        CorpusCase{"root-property.xml", true, 1, "4:3 root-property, 5:3 root-property"},
        CorpusCase{"shape-structure.xml", false, 1,
                   "5:5 shape-structure, 8:5 shape-structure, 13:7 shape-structure"},
        // The damaged payload is reported at its offending character.
        CorpusCase{"shape-payload.xml", false, 1,
                   "6:7 shape-count-missing, 10:7 shape-count-mismatch, "
                   "14:7 shape-count-mismatch, 18:7 shape-count-mismatch, "
                   "22:7 shape-payload-size, 26:61 bad-base64, 31:7 shape-bad-index"},
        CorpusCase{"image.xml", false, 1, "5:5 image-empty, 6:75 bad-base64, 7:5 image-unreadable"},
        CorpusCase{"image.xml", true, 1,
                   "5:5 image-empty, 6:75 bad-base64, 7:5 image-unreadable, 8:5 image-format, "
                   "9:5 value-ignored"},
        CorpusCase{"strict.xml", false, 0, ""},
        CorpusCase{"strict.xml", true, 1,
                   "4:3 element-prefix, 6:5 duplicate-name, 7:5 unknown-attribute, "
                   "8:5 value-ignored, 10:5 name-case, 11:5 element-prefix, "
                   "19:5 unknown-attribute, 20:7 unknown-attribute"},
        CorpusCase{"malformed.xml", false, 1, "5:1 malformed-xml"},
        CorpusCase{"bad-value.json", false, 1, "3:63 json-invalid"},
        CorpusCase{"syntax.json", false, 1, "2:17 json-invalid"},
        CorpusCase{"duplicate.json", false, 1, "2:18 json-invalid"}));

// Text lines carry what the JSON objects carry; the summary goes to standard error.
TEST(CheckTest, TextAndJsonFormsSayTheSame) {
    const std::string file = Corpus("strict.xml");
    ToolRun text = RunTool("check --strict " + file);
    ToolRun json = RunTool("check --strict --format json " + file);
    EXPECT_EQ(json.status, text.status);
    EXPECT_EQ(text.err, file + ": 0 errors, 8 warnings\n");
    std::string rebuilt;
    for (const nlohmann::json& finding : nlohmann::json::parse(json.out)) {
        EXPECT_EQ(finding.size(), 6u) << finding;
        rebuilt += finding.at("file").get<std::string>() + ":" +
                   std::to_string(finding.at("line").get<int>()) + ":" +
                   std::to_string(finding.at("column").get<int>()) + ": " +
                   finding.at("severity").get<std::string>() + ": " +
                   finding.at("message").get<std::string>() + " [" +
                   finding.at("code").get<std::string>() + "]\n";
    }
    EXPECT_EQ(rebuilt, text.out);
}

TEST(CheckTest, MessagesNameWhatHappens) {
    const std::pair<const char*, const char*> rows[] = {
        {"unknown-type.xml",
         "unhandled property type \"Int32\": property \"a\" is left out (did you mean \"int32\"?)"},
        {"shape-payload.xml", "Base64 invalid character 0x21 ('!') at offset 16"},
        {"shape-payload.xml", "has 3 vertices (numbered from 0), but triangle 1 uses vertex 7"},
        {"bad-value.xml", "int16 property \"c\" has no value; it is stored as the default, 0"},
        {"out-of-range.xml",
         "out-of-range.xml:6:5: error: int8 property \"a\": 300 is outside the range of int8; it "
         "is stored as 44 [out-of-range]\n"},
    };
    for (const auto& [file, message] : rows) {
        const std::string out = RunTool("check " + Corpus(file)).out;
        EXPECT_NE(out.find(message), std::string::npos) << out;
    }
}

// The examples are clean even strictly (naming.xml shows on purpose what strict mode warns
// about); all files are checked and the worst status wins.
TEST(CheckTest, AllFilesAreCheckedAndTheWorstStatusWins) {
    std::string examples, summaries;
    for (const char* name :
         {"assembly.xml", "images.xml", "meshes.xml", "properties.xml", "showcase.xml"}) {
        examples += " " + Example(name);
        summaries += Example(name) + ": no problems found\n";
    }
    ToolRun clean = RunTool("check --strict" + examples);
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_EQ(clean.out, "");
    EXPECT_EQ(clean.err, summaries);

    ToolRun mixed = RunTool("check " + Example("assembly.xml") + " " +
                            Corpus("property-children.xml") + " /no/such/file.xml");
    EXPECT_EQ(mixed.status, 2);
    EXPECT_EQ(mixed.err, Example("assembly.xml") + ": no problems found\n" +
                             Corpus("property-children.xml") + ": 1 error, 0 warnings\n" +
                             "kestrel-sc: error: /no/such/file.xml: No such file or directory\n");

    ToolRun quiet = RunTool("-q check " + Example("assembly.xml"));
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST(CheckTest, DeepDocumentIsChecked) {
    testfiles::TempDir dir;
    auto file = dir.Write("deep.xml",
                          toolrunner::Nested(KESTREL_TEST_DEPTH, "<kestrel_sc:a>",
                                             "\n<kestrel_sc:property type=\"int8\" name=\"x\">300"
                                             "</kestrel_sc:property>\n"));
    ToolRun run = RunTool("check --strict --format json " + file.string());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(Findings(run), "2:1 out-of-range");
}

}  // namespace
