// Runs "kestrel-sc diff" as a user would: each kind of change gives its one line, and each output
// form says the same.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"
#include "utilities/Base64.h"

namespace {

using Json = nlohmann::ordered_json;
using toolrunner::Example;
using toolrunner::RunTool;
using toolrunner::ToolRun;

// The canonical JSON of an example, as cat writes it.
Json ExampleJson(const std::string& name) {
    ToolRun run = RunTool("cat " + Example(name) + " --to json");
    EXPECT_EQ(run.status, 0) << run.err;
    return Json::parse(run.out);
}

// Runs diff between an example and doc, written as JSON.
ToolRun DiffAgainst(const std::string& example, const Json& doc, const std::string& options = "") {
    testfiles::TempDir dir;
    const std::string b = dir.Write("b.json", doc.dump(2)).string();
    return RunTool("diff " + options + " " + Example(example) + " " + b);
}

struct ChangeCase {
    std::string pointer;  // into the sampler of showcase.xml's JSON, "N..." into the value of its
                          // property N (in the file's order); "" leaves the document alone
    std::string value;    // JSON put there; "" removes it
    std::string line;     // the expected output without " figure/sampler"; "" when the same
    std::string options = "";
};

class DiffChangeTest : public testing::TestWithParam<ChangeCase> {};

TEST_P(DiffChangeTest, PrintsOneLine) {
    ChangeCase row = GetParam();
    Json doc = ExampleJson("showcase.xml");
    if (!row.pointer.empty()) {
        const std::string path =
            "/children/0" +
            std::regex_replace(row.pointer, std::regex("^\\d+"), "/properties/$&/value");
        const char* op = row.value.empty() ? "remove" : path.back() == '-' ? "add" : "replace";
        Json change = {{"op", op}, {"path", path}};
        if (!row.value.empty())
            change["value"] = Json::parse(row.value);
        doc = doc.patch(Json::array({change}));
    }
    ToolRun run = DiffAgainst("showcase.xml", doc, row.options);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, row.line.empty() ? 0 : 1);
    EXPECT_EQ(run.out, row.line.empty() ? "" : row.line.insert(1, " figure/sampler") + "\n");
}

// The sampler's child 0 is geometry, whose property 0 is the shape cube.
const std::string kCube = "/children/0/properties/0/value";

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffChangeTest,
    testing::Values(
        ChangeCase{"", "", ""},  // XML against its own JSON
        ChangeCase{"/children/-", R"({"name": "bell"})", "+/bell"},
        ChangeCase{"/children/-", R"({"name": "geometry"})", "+/geometry[1]"},
        ChangeCase{"/children/0", "", "-/geometry"},
        ChangeCase{"/properties/-", R"({"name": "note", "type": "string", "value": "new"})",
                   "+@note: string \"new\""},
        ChangeCase{"/properties/-", R"({"name": "count", "type": "int32", "value": 5})",
                   "+@count[1]: int32 5"},
        ChangeCase{"/properties/11", "", "-@label: string \"Left & right\""},
        ChangeCase{"/properties/5", R"({"name": "count", "type": "string", "value": "-42"})",
                   "~@count: int32 -42 -> string \"-42\""},
        // Each single type.
        ChangeCase{"0", "false", "~@enabled: bool true -> false"},
        ChangeCase{"1", "-6", "~@offset: int8 -5 -> -6"},
        ChangeCase{"2", "201", "~@level: uint8 200 -> 201"},
        ChangeCase{"3", "-1201", "~@bias: int16 -1200 -> -1201"},
        ChangeCase{"4", "8081", "~@port: uint16 8080 -> 8081"},
        ChangeCase{"5", "42", "~@count: int32 -42 -> 42"},
        ChangeCase{"6", "0", "~@mask: uint32 4294967295 -> 0"},
        ChangeCase{"7", "-9000000001", "~@ticks: int64 -9000000000 -> -9000000001"},
        ChangeCase{"8", "18446744073709551614",
                   "~@serial: uint64 18446744073709551615 -> 18446744073709551614"},
        ChangeCase{"9", "0.2", "~@gain: float 0.1 -> 0.2"},
        ChangeCase{"9", "0.1001", "", "--eps 0.001"},
        ChangeCase{"9", "0.102", "~@gain: float 0.1 -> 0.102", "--eps 0.001"},
        ChangeCase{"9", "0.100000009", "~@gain: float 0.1 -> 0.10000001"},
        ChangeCase{"10", "3e-8", "~@scale: double 2.5e-08 -> 3e-08"},
        ChangeCase{"10", "3e-8", "", "--eps 1e-8"},
        ChangeCase{"11", R"("Left")", "~@label: string \"Left & right\" -> \"Left\""},
        ChangeCase{"12", R"("#ff8001ff")", "~@tint: color #ff8000ff -> #ff8001ff"},
        ChangeCase{"13/7", "2",
                   "~@pose: location 1 2 3 0 0 0.7071067811865476 0.7071067811865476 1 -> 1 2 3 0 "
                   "0 0.7071067811865476 0.7071067811865476 2"},
        ChangeCase{"14/2", "1", "~@spin: quat 0 0 0 1 -> 0 0 1 1"},
        ChangeCase{"15/0", "0.5", "~@uv: dvec2 0.25 0.75 -> 0.5 0.75"},
        ChangeCase{"16/2", "-1", "~@normal: dvec3 0 0 1 -> 0 0 -1"},
        ChangeCase{"16/0", "-0.0", "~@normal: dvec3 0 0 1 -> -0 0 1"},  // bits count without --eps
        ChangeCase{"16/0", "-0.0", "", "--eps 1e-300"}, ChangeCase{"16/0", "1", "", "--eps 1"},
        ChangeCase{"16/0", "1", "~@normal: dvec3 0 0 1 -> 1 0 1", "--eps 0.999"},
        ChangeCase{"17/1", "-2.5", "~@velocity: fvec3 1.5 -2 0 -> 1.5 -2.5 0"},
        ChangeCase{"18/1", "21", "~@anchor: dpoint2d 10 20 -> 10 21"},
        ChangeCase{"19/0", "0.004", "~@origin: dpoint3d 0.001 0.002 0.003 -> 0.004 0.002 0.003"},
        ChangeCase{"19/0", "0.0010001", "", "--eps 1e-6"},
        ChangeCase{"20/2", "0.25", "~@pivot: fpoint3d 0.5 0.5 0.5 -> 0.5 0.5 0.25"},
        // Arrays.
        ChangeCase{"21/1", "0.35",
                   "!@weights: float[] 1 of 3 items differ, first [1]: 0.3 -> 0.35"},
        ChangeCase{"21/1", "0.30001", "", "--eps 0.001"},
        ChangeCase{"21/-", "0.7", "!@weights: float[] 3 -> 4 items"},
        ChangeCase{
            "21", "[0.2, 0.4]",
            "!@weights: float[] 3 -> 2 items, 1 of the first 2 differ, first [1]: 0.3 -> 0.4"},
        ChangeCase{"22/0", R"("iron")",
                   "!@tags: string[] 1 of 2 items differ, first [0]: \"steel\" -> \"iron\""},
        ChangeCase{"23", "[[0, 0], [2, 0], [0, 2]]",
                   "!@outline: dpoint2d[] 2 of 3 items differ, first [1]: 1 0 -> 2 0"},
        // Shapes.
        ChangeCase{kCube + "/vertices/3/1", "0.75",
                   "!/geometry@cube: shape 1 of 8 vertices differ, first [3]: -0.5 0.5 0.5 -> -0.5 "
                   "0.75 0.5"},
        ChangeCase{kCube + "/vertices/3/1", "0.5000001", "", "--eps 1e-5"},
        ChangeCase{kCube + "/vertices/-", "[0, 0, 0]", "!/geometry@cube: shape 8 -> 9 vertices"},
        ChangeCase{kCube + "/triangles/4", "[0, 5, 4]",
                   "!/geometry@cube: shape 1 of 12 triangles differ, first [4]: 0 4 5 -> 0 5 4"},
        ChangeCase{kCube + "/triangles/-", "[0, 1, 2]",
                   "!/geometry@cube: shape 12 -> 13 triangles"},
        ChangeCase{kCube, "null",
                   "~/geometry@cube: shape 8 vertices, 12 triangles -> <no shape>"}));

TEST(DiffTest, ImagesCompareBySizeThenByPixel) {
    Json doc = ExampleJson("showcase.xml");
    Json& decal = doc["children"][0]["children"][0]["properties"][1]["value"];
    // One byte of the first pixel the BMP stores (bottom-left) changed.
    const std::string base64 = decal["data"].get<std::string>();
    std::vector<char> bmp = Base64::Decode(base64.data(), base64.size());
    bmp.at(std::uint8_t(bmp.at(10)) | std::uint8_t(bmp.at(11)) << 8) ^= 0x10;
    decal["data"] = Base64::Encode(bmp.data(), bmp.size());
    EXPECT_EQ(DiffAgainst("showcase.xml", doc).out,
              "! figure/sampler/geometry@decal: image 1 of 1152 pixels differ, first (0, 23): "
              "#00000000 -> #00001000\n");
    decal = ExampleJson("images.xml")["children"][0]["children"][0]["properties"][0]["value"];
    EXPECT_EQ(DiffAgainst("showcase.xml", doc).out,
              "~ figure/sampler/geometry@decal: image 48 x 24 rgba8 -> 16 x 16 rgb8\n");
}

// One changed document in each output form: every difference, in document order.
TEST(DiffTest, TextJsonAndBriefFormsSayTheSame) {
    Json doc = ExampleJson("assembly.xml");
    Json& bicycle = doc["children"][0];  // title, revision, paint; children frame, wheels
    bicycle["properties"][1] = {{"name", "revision"}, {"type", "string"}, {"value", "7"}};
    bicycle["children"][0]["properties"][0]["value"] = 1.9;
    bicycle["children"].push_back({{"name", "bell"}});
    bicycle["children"][1]["children"][1]["properties"].clear();
    ToolRun text = DiffAgainst("assembly.xml", doc);
    EXPECT_EQ(text.status, 1) << text.err;
    EXPECT_EQ(text.out,
              "~ figure/bicycle@revision: int32 7 -> string \"7\"\n"
              "+ figure/bicycle/bell\n"
              "~ figure/bicycle/frame@mass: double 1.85 -> 1.9\n"
              "- figure/bicycle/wheels/rear@hub: dpoint3d -0.52 0 0.35\n");
    ToolRun json = DiffAgainst("assembly.xml", doc, "--format json");
    EXPECT_EQ(json.status, 1) << json.err;
    const Json differences = Json::parse(json.out);
    ASSERT_EQ(differences.size(), 4u) << json.out;
    EXPECT_EQ(differences[0], Json::parse(R"({"kind": "type", "path": "figure/bicycle",
        "property": "revision", "type": "int32", "a": "7", "b": "\"7\"",
        "detail": "int32 -> string"})"));
    EXPECT_EQ(differences[1], Json::parse(R"({"kind": "added", "path": "figure/bicycle/bell",
        "property": null, "type": null, "a": null, "b": null, "detail": ""})"));
    EXPECT_EQ(differences[2]["kind"], "changed");
    EXPECT_EQ(differences[3]["kind"], "removed");
    ToolRun brief = DiffAgainst("assembly.xml", doc, "--brief");
    EXPECT_EQ(brief.status, 1);
    EXPECT_EQ(brief.out.rfind(Example("assembly.xml") + " and /", 0), 0u) << brief.out;
    EXPECT_TRUE(brief.out.ends_with("/b.json differ\n")) << brief.out;
    const std::string same = " " + Example("assembly.xml") + " " + Example("assembly.xml");
    EXPECT_EQ(RunTool("diff --brief" + same).out, "");
    ToolRun sameJson = RunTool("diff --format json" + same);
    EXPECT_EQ(sameJson.status, 0) << sameJson.err;
    EXPECT_EQ(Json::parse(sameJson.out), Json::array());
}

TEST(DiffTest, OrderOfDifferentlyNamedSiblingsIsReported) {
    Json doc = ExampleJson("assembly.xml");
    Json& bicycle = doc["children"][0];
    std::swap(bicycle["children"][0], bicycle["children"][1]);
    std::swap(bicycle["properties"][0], bicycle["properties"][1]);
    ToolRun run = DiffAgainst("assembly.xml", doc);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out,
              "! figure/bicycle: property order: title, revision, paint -> revision, title, "
              "paint\n! figure/bicycle: child order: frame, wheels -> wheels, frame\n");
    ToolRun ignoring = DiffAgainst("assembly.xml", doc, "--ignore-order");
    EXPECT_EQ(ignoring.status, 0) << ignoring.err;
    EXPECT_EQ(ignoring.out, "");
}

TEST(DiffTest, SiblingsOfOneNameMatchByTheirRank) {
    Json doc = ExampleJson("naming.xml");
    // naming.xml starts with three elements "part"; the middle one gains a property.
    doc["children"][1]["properties"].push_back({{"name", "x"}, {"type", "int32"}, {"value", 1}});
    EXPECT_EQ(DiffAgainst("naming.xml", doc).out, "+ figure/part[1]@x: int32 1\n");
    // Without the middle one, the third is the one missing: by name they cannot be told apart.
    doc["children"].erase(doc["children"].begin() + 1);
    EXPECT_EQ(DiffAgainst("naming.xml", doc).out, "- figure/part[2]\n");
}

// NaN payloads count without --eps; with it any NaN equals any NaN and no number.
TEST(DiffTest, NanPayloadsCountOnlyWithoutEps) {
    testfiles::TempDir dir;
    auto one = [&](const std::string& name, const std::string& value) {
        return " " + dir.Write(name, R"({"name": "figure", "children": [{"name": "e", )"
                                     R"("properties": [{"name": "d", "type": "double", "value": )" +
                                         value + "}]}]}")
                         .string();
    };
    const std::string nan = one("nan", "\"nan\""), other = one("nan1", "\"nan(0x1)\"");
    const std::pair<std::string, std::string> rows[] = {
        {nan + nan, ""},
        {nan + other, "~ figure/e@d: double nan -> nan(0x1)\n"},
        {"--eps 1e-300" + nan + other, ""},
        {"--eps 1e300" + nan + one("1", "1.0"), "~ figure/e@d: double nan -> 1\n"},
    };
    for (const auto& [arguments, out] : rows) {
        ToolRun run = RunTool("diff " + arguments);
        EXPECT_EQ(run.status, out.empty() ? 0 : 1) << arguments << run.err;
        EXPECT_EQ(run.out, out) << arguments;
    }
}

TEST(DiffTest, ShapesInArraysDescribeTheirFirstDifference) {
    testfiles::TempDir dir;
    const std::string a = dir.Write("a.json", R"({"name": "figure", "children": [{"name": "e",
        "properties": [{"name": "s", "type": "shape[]", "value": [{"vertices":
        [[0, 0, 0], [1, 0, 0], [0, 1, 0]], "triangles": [[0, 1, 2]]}]},
        {"name": "h", "type": "dhex", "value": "0x00000000000000ff"}]}]})")
                              .string();
    const std::string b = dir.Write("b.json", R"({"name": "other", "children": [{"name": "e",
        "properties": [{"name": "s", "type": "shape[]", "value": [{"vertices":
        [[0.5, 0, 0], [1, 0, 0], [0, 1, 0]], "triangles": [[0, 1, 2]]}]},
        {"name": "h", "type": "dhex", "value": "0x00000000000000fe"}]}]})")
                              .string();
    ToolRun run = RunTool("diff " + a + " " + b);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out,
              "! figure: top element name figure -> other\n"
              "! figure/e@s: shape[] 1 of 1 item differ, first [0]: 1 of 3 vertices differ, "
              "first [0]: 0 0 0 -> 0.5 0 0\n"
              "~ figure/e@h: dhex 0xff -> 0xfe\n");
}

TEST(DiffTest, DeepTreesCompareWithoutRecursion) {
    testfiles::TempDir dir;
    constexpr int kDepth = 200000;
    auto deep = [&](const char* name, const char* value) {
        return dir
            .Write(name, toolrunner::Nested(kDepth, "<a>",
                                            "<kestrel_sc:property type=\"int32\" name=\"x\">" +
                                                std::string(value) + "</kestrel_sc:property>"))
            .string();
    };
    std::string path = "figure";
    for (int i = 0; i < kDepth; ++i)
        path += "/a";
    ToolRun run = RunTool("diff " + deep("a.xml", "1") + " " + deep("b.xml", "2"));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "~ " + path + "@x: int32 1 -> 2\n");
}

}  // namespace
