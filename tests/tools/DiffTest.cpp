// Runs "kestrel-sc diff" as a user would: round trips compare equal, and each kind of change gives
// its one line.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"
#include "utilities/Base64.h"

namespace {

using Json = nlohmann::ordered_json;

using toolrunner::Example;
using toolrunner::ReadFile;
using toolrunner::RunTool;
using toolrunner::ToolRun;

// The canonical JSON of an example, as cat writes it.
Json ExampleJson(const std::string& name) {
    ToolRun run = RunTool("cat " + Example(name) + " --to json");
    EXPECT_EQ(run.status, 0) << run.err;
    return Json::parse(run.out);
}

Json& Child(Json& element, const std::string& name) {
    for (Json& child : element["children"]) {
        if (child["name"] == name)
            return child;
    }
    ADD_FAILURE() << "no child " << name;
    return element;
}

Json& Property(Json& element, const std::string& name) {
    for (Json& property : element["properties"]) {
        if (property["name"] == name)
            return property;
    }
    ADD_FAILURE() << "no property " << name;
    return element;
}

void EraseProperty(Json& element, const std::string& name) {
    Json& properties = element["properties"];
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        if ((*it)["name"] == name) {
            properties.erase(it);
            return;
        }
    }
    ADD_FAILURE() << "no property " << name;
}

// The parts of examples/showcase.xml the cases change.
Json& Sampler(Json& doc) {
    return Child(doc, "sampler");
}
Json& Geometry(Json& doc) {
    return Child(Sampler(doc), "geometry");
}
Json& SamplerValue(Json& doc, const std::string& name) {
    return Property(Sampler(doc), name)["value"];
}

// The decal's BMP file with one byte of the first pixel it stores (bottom-left) changed.
std::string ChangeFirstStoredPixel(const std::string& base64) {
    std::vector<char> bmp = Base64::Decode(base64.data(), base64.size());
    const std::size_t offset = std::uint8_t(bmp.at(10)) | std::uint8_t(bmp.at(11)) << 8 |
                               std::uint8_t(bmp.at(12)) << 16 | std::uint8_t(bmp.at(13)) << 24;
    bmp.at(offset) = static_cast<char>(bmp.at(offset) ^ 0x10);
    return Base64::Encode(bmp.data(), bmp.size());
}

struct ChangeCase {
    const char* name;
    std::function<void(Json&)> change;  // turns examples/showcase.xml into B
    std::string line;                   // the expected output; "" when B counts as the same
    std::string options = "";
};

class DiffChangeTest : public testing::TestWithParam<ChangeCase> {};

TEST_P(DiffChangeTest, PrintsOneLine) {
    Json doc = ExampleJson("showcase.xml");
    GetParam().change(doc);
    testfiles::TempDir dir;
    auto changed = dir.Write("changed.json", doc.dump(2));
    ToolRun run = RunTool("diff " + GetParam().options + " " + Example("showcase.xml") + " " +
                          changed.string());
    EXPECT_EQ(run.err, "");
    if (GetParam().line.empty()) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "");
    } else {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, GetParam().line + "\n");
    }
}

const std::string kSampler = "figure/sampler";
const std::string kGeometry = "figure/sampler/geometry";

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffChangeTest,
    testing::Values(
        // Elements.
        ChangeCase{"ElementAdded",
                   [](Json& d) {
                       Sampler(d)["children"].push_back({{"name", "bell"},
                                                         {"properties", Json::array()},
                                                         {"children", Json::array()}});
                   },
                   "+ figure/sampler/bell"},
        ChangeCase{"SecondOfANameAdded",
                   [](Json& d) {
                       Sampler(d)["children"].push_back({{"name", "geometry"}});
                   },
                   "+ figure/sampler/geometry[1]"},
        ChangeCase{"ElementRemoved", [](Json& d) { Sampler(d)["children"].clear(); },
                   "- figure/sampler/geometry"},
        // Properties.
        ChangeCase{"PropertyAdded",
                   [](Json& d) {
                       Sampler(d)["properties"].push_back(
                           {{"name", "note"}, {"type", "string"}, {"value", "new"}});
                   },
                   "+ figure/sampler@note: string \"new\""},
        ChangeCase{"SecondPropertyOfANameAdded",
                   [](Json& d) {
                       Sampler(d)["properties"].push_back(
                           {{"name", "count"}, {"type", "int32"}, {"value", 5}});
                   },
                   "+ figure/sampler@count[1]: int32 5"},
        ChangeCase{"PropertyRemoved", [](Json& d) { EraseProperty(Sampler(d), "label"); },
                   "- figure/sampler@label: string \"Left & right\""},
        ChangeCase{"TypeChanged",
                   [](Json& d) {
                       Json& p = Property(Sampler(d), "count");
                       p["type"] = "string";
                       p["value"] = "-42";
                   },
                   "~ figure/sampler@count: int32 -42 -> string \"-42\""},
        // Each single type.
        ChangeCase{"Bool", [](Json& d) { SamplerValue(d, "enabled") = false; },
                   "~ figure/sampler@enabled: bool true -> false"},
        ChangeCase{"Int8", [](Json& d) { SamplerValue(d, "offset") = -6; },
                   "~ figure/sampler@offset: int8 -5 -> -6"},
        ChangeCase{"Uint8", [](Json& d) { SamplerValue(d, "level") = 201; },
                   "~ figure/sampler@level: uint8 200 -> 201"},
        ChangeCase{"Int16", [](Json& d) { SamplerValue(d, "bias") = -1201; },
                   "~ figure/sampler@bias: int16 -1200 -> -1201"},
        ChangeCase{"Uint16", [](Json& d) { SamplerValue(d, "port") = 8081; },
                   "~ figure/sampler@port: uint16 8080 -> 8081"},
        ChangeCase{"Int32", [](Json& d) { SamplerValue(d, "count") = 42; },
                   "~ figure/sampler@count: int32 -42 -> 42"},
        ChangeCase{"Uint32", [](Json& d) { SamplerValue(d, "mask") = 0; },
                   "~ figure/sampler@mask: uint32 4294967295 -> 0"},
        ChangeCase{"Int64", [](Json& d) { SamplerValue(d, "ticks") = -9000000001; },
                   "~ figure/sampler@ticks: int64 -9000000000 -> -9000000001"},
        ChangeCase{"Uint64", [](Json& d) { SamplerValue(d, "serial") = 18446744073709551614u; },
                   "~ figure/sampler@serial: uint64 18446744073709551615 -> "
                   "18446744073709551614"},
        ChangeCase{"Float", [](Json& d) { SamplerValue(d, "gain") = 0.2; },
                   "~ figure/sampler@gain: float 0.1 -> 0.2"},
        ChangeCase{"FloatWithinEps", [](Json& d) { SamplerValue(d, "gain") = 0.1001; }, "",
                   "--eps 0.001"},
        ChangeCase{"FloatOutsideEps", [](Json& d) { SamplerValue(d, "gain") = 0.102; },
                   "~ figure/sampler@gain: float 0.1 -> 0.102", "--eps 0.001"},
        ChangeCase{"FloatLastBitWithoutEps", [](Json& d) { SamplerValue(d, "gain") = 0.100000009; },
                   "~ figure/sampler@gain: float 0.1 -> 0.10000001"},
        ChangeCase{"Double", [](Json& d) { SamplerValue(d, "scale") = 3e-8; },
                   "~ figure/sampler@scale: double 2.5e-08 -> 3e-08"},
        ChangeCase{"DoubleWithinEps", [](Json& d) { SamplerValue(d, "scale") = 3e-8; }, "",
                   "--eps 1e-8"},
        ChangeCase{"String", [](Json& d) { SamplerValue(d, "label") = "Left"; },
                   "~ figure/sampler@label: string \"Left & right\" -> \"Left\""},
        ChangeCase{"Colour", [](Json& d) { SamplerValue(d, "tint") = "#ff8001ff"; },
                   "~ figure/sampler@tint: color #ff8000ff -> #ff8001ff"},
        ChangeCase{"Location", [](Json& d) { SamplerValue(d, "pose")[7] = 2.0; },
                   "~ figure/sampler@pose: location 1 2 3 0 0 0.7071067811865476 "
                   "0.7071067811865476 1 -> 1 2 3 0 0 0.7071067811865476 0.7071067811865476 2"},
        ChangeCase{"Quaternion", [](Json& d) { SamplerValue(d, "spin")[2] = 1.0; },
                   "~ figure/sampler@spin: quat 0 0 0 1 -> 0 0 1 1"},
        ChangeCase{"DVec2", [](Json& d) { SamplerValue(d, "uv")[0] = 0.5; },
                   "~ figure/sampler@uv: dvec2 0.25 0.75 -> 0.5 0.75"},
        ChangeCase{"DVec3", [](Json& d) { SamplerValue(d, "normal")[2] = -1.0; },
                   "~ figure/sampler@normal: dvec3 0 0 1 -> 0 0 -1"},
        ChangeCase{"FVec3", [](Json& d) { SamplerValue(d, "velocity")[1] = -2.5; },
                   "~ figure/sampler@velocity: fvec3 1.5 -2 0 -> 1.5 -2.5 0"},
        ChangeCase{"DPoint2D", [](Json& d) { SamplerValue(d, "anchor")[1] = 21.0; },
                   "~ figure/sampler@anchor: dpoint2d 10 20 -> 10 21"},
        ChangeCase{"DPoint3D", [](Json& d) { SamplerValue(d, "origin")[0] = 0.004; },
                   "~ figure/sampler@origin: dpoint3d 0.001 0.002 0.003 -> 0.004 0.002 0.003"},
        ChangeCase{"DPoint3DWithinEps", [](Json& d) { SamplerValue(d, "origin")[0] = 0.0010001; },
                   "", "--eps 1e-6"},
        ChangeCase{"FPoint3D", [](Json& d) { SamplerValue(d, "pivot")[2] = 0.25; },
                   "~ figure/sampler@pivot: fpoint3d 0.5 0.5 0.5 -> 0.5 0.5 0.25"},
        // Arrays.
        ChangeCase{"ArrayItem", [](Json& d) { SamplerValue(d, "weights")[1] = 0.35; },
                   "! figure/sampler@weights: float[] 1 of 3 items differ, first [1]: 0.3 -> "
                   "0.35"},
        ChangeCase{"ArrayItemWithinEps", [](Json& d) { SamplerValue(d, "weights")[1] = 0.30001; },
                   "", "--eps 0.001"},
        ChangeCase{"ArrayLonger", [](Json& d) { SamplerValue(d, "weights").push_back(0.7); },
                   "! figure/sampler@weights: float[] 3 -> 4 items"},
        ChangeCase{"ArrayShorterAndItem",
                   [](Json& d) {
                       SamplerValue(d, "weights") = Json::array({0.2, 0.4});
                   },
                   "! figure/sampler@weights: float[] 3 -> 2 items, 1 of the first 2 differ, "
                   "first [1]: 0.3 -> 0.4"},
        ChangeCase{"StringArrayItem", [](Json& d) { SamplerValue(d, "tags")[0] = "iron"; },
                   "! figure/sampler@tags: string[] 1 of 2 items differ, first [0]: \"steel\" -> "
                   "\"iron\""},
        ChangeCase{"CompoundArrayItems",
                   [](Json& d) {
                       SamplerValue(d, "outline")[1][0] = 2.0;
                       SamplerValue(d, "outline")[2][1] = 2.0;
                   },
                   "! figure/sampler@outline: dpoint2d[] 2 of 3 items differ, first [1]: 1 0 -> "
                   "2 0"},
        // Shapes.
        ChangeCase{"VertexMoved",
                   [](Json& d) { Property(Geometry(d), "cube")["value"]["vertices"][3][1] = 0.75; },
                   "! figure/sampler/geometry@cube: shape 1 of 8 vertices differ, first [3]: "
                   "-0.5 0.5 0.5 -> -0.5 0.75 0.5"},
        ChangeCase{
            "VertexMovedWithinEps",
            [](Json& d) { Property(Geometry(d), "cube")["value"]["vertices"][3][1] = 0.5000001; },
            "", "--eps 1e-5"},
        ChangeCase{
            "VertexAdded",
            [](Json& d) {
                Property(Geometry(d), "cube")["value"]["vertices"].push_back({0.0, 0.0, 0.0});
            },
            "! figure/sampler/geometry@cube: shape 8 -> 9 vertices"},
        ChangeCase{"TriangleChanged",
                   [](Json& d) {
                       Property(Geometry(d), "cube")["value"]["triangles"][4] = {0, 5, 4};
                   },
                   "! figure/sampler/geometry@cube: shape 1 of 12 triangles differ, first [4]: "
                   "0 4 5 -> 0 5 4"},
        ChangeCase{"TriangleAdded",
                   [](Json& d) {
                       Property(Geometry(d), "cube")["value"]["triangles"].push_back({0, 1, 2});
                   },
                   "! figure/sampler/geometry@cube: shape 12 -> 13 triangles"},
        ChangeCase{"ShapeGone", [](Json& d) { Property(Geometry(d), "cube")["value"] = nullptr; },
                   "~ figure/sampler/geometry@cube: shape 8 vertices, 12 triangles -> <no shape>"},
        // Images.
        ChangeCase{"PixelChanged",
                   [](Json& d) {
                       Json& data = Property(Geometry(d), "decal")["value"]["data"];
                       data = ChangeFirstStoredPixel(data.get<std::string>());
                   },
                   "! figure/sampler/geometry@decal: image 1 of 1152 pixels differ, first (0, "
                   "23): #00000000 -> #00001000"},
        ChangeCase{"ImageSize",
                   [](Json& d) {
                       Json images = ExampleJson("images.xml");
                       Property(Geometry(d), "decal")["value"] = Property(
                           Child(Child(images, "materials"), "checker"), "texture")["value"];
                   },
                   "~ figure/sampler/geometry@decal: image 48 x 24 rgba8 -> 16 x 16 rgb8"}),
    [](const testing::TestParamInfo<ChangeCase>& info) {
        return std::string(info.param.name) + "_" + std::to_string(info.index);
    });

// Writes each example back through cat as XML and as JSON: all three compare equal.
class DiffRoundTripTest : public testing::TestWithParam<const char*> {};

TEST_P(DiffRoundTripTest, IsTheSame) {
    testfiles::TempDir dir;
    const std::string example = Example(GetParam());
    const std::string xml = (dir.path() / "copy.xml").string();
    const std::string json = (dir.path() / "copy.json").string();
    ASSERT_EQ(RunTool("cat " + example + " -o " + xml).status, 0);
    ASSERT_EQ(RunTool("cat " + example + " --to json -o " + json).status, 0);
    for (const auto& [a, b] : {std::pair{example, xml}, {example, json}, {json, xml}}) {
        ToolRun run = RunTool("diff " + a + " " + b);
        EXPECT_EQ(run.status, 0) << a << " " << b << "\n" << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, DiffRoundTripTest,
                         testing::Values("assembly.xml", "images.xml", "meshes.xml", "naming.xml",
                                         "properties.xml", "showcase.xml"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

// Writes doc to name in dir and gives its path.
std::string WriteJson(const testfiles::TempDir& dir, const std::string& name, const Json& doc) {
    return dir.Write(name, doc.dump(2)).string();
}

TEST(DiffTest, ReportsEveryDifferenceInDocumentOrder) {
    testfiles::TempDir dir;
    Json doc = ExampleJson("assembly.xml");
    Json& bicycle = Child(doc, "bicycle");
    Property(bicycle, "revision")["value"] = 8;
    Property(Child(bicycle, "frame"), "mass")["value"] = 1.9;
    bicycle["children"].push_back({{"name", "bell"}});
    EraseProperty(Child(Child(bicycle, "wheels"), "rear"), "hub");
    ToolRun run = RunTool("diff " + Example("assembly.xml") + " " + WriteJson(dir, "b.json", doc));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out,
              "~ figure/bicycle@revision: int32 7 -> 8\n"
              "+ figure/bicycle/bell\n"
              "~ figure/bicycle/frame@mass: double 1.85 -> 1.9\n"
              "- figure/bicycle/wheels/rear@hub: dpoint3d -0.52 0 0.35\n");
}

TEST(DiffTest, OrderOfDifferentlyNamedSiblingsIsReported) {
    testfiles::TempDir dir;
    Json doc = ExampleJson("assembly.xml");
    Json& bicycle = Child(doc, "bicycle");
    std::swap(bicycle["children"][0], bicycle["children"][1]);
    std::swap(bicycle["properties"][0], bicycle["properties"][1]);
    const std::string b = WriteJson(dir, "b.json", doc);
    ToolRun run = RunTool("diff " + Example("assembly.xml") + " " + b);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out,
              "! figure/bicycle: property order: title, revision, paint -> revision, title, "
              "paint\n"
              "! figure/bicycle: child order: frame, wheels -> wheels, frame\n");
    ToolRun ignoring = RunTool("diff --ignore-order " + Example("assembly.xml") + " " + b);
    EXPECT_EQ(ignoring.status, 0) << ignoring.err;
    EXPECT_EQ(ignoring.out, "");
}

TEST(DiffTest, SiblingsOfOneNameMatchByTheirRank) {
    testfiles::TempDir dir;
    Json doc = ExampleJson("naming.xml");
    // naming.xml starts with three elements "part"; the middle one gains a property.
    doc["children"][1]["properties"].push_back({{"name", "x"}, {"type", "int32"}, {"value", 1}});
    ToolRun changed =
        RunTool("diff " + Example("naming.xml") + " " + WriteJson(dir, "b.json", doc));
    EXPECT_EQ(changed.status, 1) << changed.err;
    EXPECT_EQ(changed.out, "+ figure/part[1]@x: int32 1\n");
    // Without the middle one, the third is the one missing: by name they cannot be told apart.
    doc["children"].erase(doc["children"].begin() + 1);
    ToolRun removed =
        RunTool("diff " + Example("naming.xml") + " " + WriteJson(dir, "c.json", doc));
    EXPECT_EQ(removed.status, 1) << removed.err;
    EXPECT_EQ(removed.out, "- figure/part[2]\n");
}

// A figure with one element "e" holding a double "d" written as text (a JSON number or string).
std::string OneDouble(const testfiles::TempDir& dir, const std::string& name,
                      const std::string& value) {
    return dir
        .Write(name, R"({"name": "figure", "children": [{"name": "e", "properties": [)"
                     R"({"name": "d", "type": "double", "value": )" +
                         value + "}]}]}")
        .string();
}

TEST(DiffTest, WithoutEpsBitsCountWithEpsValues) {
    testfiles::TempDir dir;
    const std::string zero = OneDouble(dir, "zero.json", "0.0");
    const std::string negativeZero = OneDouble(dir, "negative-zero.json", "-0.0");
    const std::string nan = OneDouble(dir, "nan.json", "\"nan\"");
    const std::string otherNan = OneDouble(dir, "other-nan.json", "\"nan(0x1)\"");
    const std::string one = OneDouble(dir, "one.json", "1.0");

    EXPECT_EQ(RunTool("diff " + zero + " " + negativeZero).out, "~ figure/e@d: double 0 -> -0\n");
    EXPECT_EQ(RunTool("diff " + nan + " " + nan).status, 0);
    EXPECT_EQ(RunTool("diff " + nan + " " + otherNan).out,
              "~ figure/e@d: double nan -> nan(0x1)\n");

    for (const auto& [a, b] : {std::pair{zero, negativeZero}, {nan, otherNan}}) {
        ToolRun run = RunTool("diff --eps 1e-300 " + a + " " + b);
        EXPECT_EQ(run.status, 0) << a << " " << b << "\n" << run.out << run.err;
    }
    ToolRun nanAgainstNumber = RunTool("diff --eps 1e300 " + nan + " " + one);
    EXPECT_EQ(nanAgainstNumber.status, 1);
    EXPECT_EQ(nanAgainstNumber.out, "~ figure/e@d: double nan -> 1\n");
    EXPECT_EQ(RunTool("diff --eps 1 " + zero + " " + one).status, 0);
    EXPECT_EQ(RunTool("diff --eps 0.999 " + zero + " " + one).status, 1);
}

TEST(DiffTest, ShapesInArraysDescribeTheirFirstDifference) {
    testfiles::TempDir dir;
    auto doc = [&](const char* name, const char* top, const char* x, const char* hex) {
        return dir
            .Write(name, std::string(R"({"name": ")") + top +
                             R"(", "children": [{"name": "e", "properties": [)"
                             R"({"name": "s", "type": "shape[]", "value": [{"vertices": [[)" +
                             x +
                             R"(, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]], )"
                             R"("triangles": [[0, 1, 2]]}]}, )"
                             R"({"name": "h", "type": "dhex", "value": "0x00000000000000)" +
                             hex + R"("}]}]})")
            .string();
    };
    ToolRun run = RunTool("diff " + doc("a.json", "figure", "0.0", "ff") + " " +
                          doc("b.json", "other", "0.5", "fe"));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out,
              "! figure: top element name figure -> other\n"
              "! figure/e@s: shape[] 1 of 1 item differ, first [0]: 1 of 3 vertices differ, "
              "first [0]: 0 0 0 -> 0.5 0 0\n"
              "~ figure/e@h: dhex 0xff -> 0xfe\n");
}

TEST(DiffTest, BriefSaysOnlyWhetherTheFilesDiffer) {
    testfiles::TempDir dir;
    Json doc = ExampleJson("assembly.xml");
    Property(Child(doc, "bicycle"), "revision")["value"] = 8;
    Property(Child(doc, "bicycle"), "title")["value"] = "Racing bicycle";
    const std::string a = Example("assembly.xml");
    const std::string b = WriteJson(dir, "b.json", doc);
    ToolRun differ = RunTool("diff --brief " + a + " " + b);
    EXPECT_EQ(differ.status, 1) << differ.err;
    EXPECT_EQ(differ.out, a + " and " + b + " differ\n");
    ToolRun same = RunTool("diff --brief " + a + " " + a);
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "");
}

TEST(DiffTest, JsonFormatListsEveryDifference) {
    testfiles::TempDir dir;
    Json doc = ExampleJson("assembly.xml");
    Json& bicycle = Child(doc, "bicycle");
    Property(bicycle, "revision")["type"] = "string";
    Property(bicycle, "revision")["value"] = "7";
    Property(Child(bicycle, "frame"), "mass")["value"] = 1.9;
    bicycle["children"].push_back({{"name", "bell"}});
    const std::string a = Example("assembly.xml");
    ToolRun run = RunTool("diff --format json " + a + " " + WriteJson(dir, "b.json", doc));
    EXPECT_EQ(run.status, 1) << run.err;
    Json differences = Json::parse(run.out);
    ASSERT_EQ(differences.size(), 3u) << run.out;
    EXPECT_EQ(differences[0], Json::parse(R"({"kind": "type", "path": "figure/bicycle",
        "property": "revision", "type": "int32", "a": "7", "b": "\"7\"",
        "detail": "int32 -> string"})"));
    EXPECT_EQ(differences[1], Json::parse(R"({"kind": "added", "path": "figure/bicycle/bell",
        "property": null, "type": null, "a": null, "b": null, "detail": ""})"));
    EXPECT_EQ(differences[2], Json::parse(R"({"kind": "changed", "path": "figure/bicycle/frame",
        "property": "mass", "type": "double", "a": "1.85", "b": "1.9", "detail": ""})"));

    ToolRun same = RunTool("diff --format json " + a + " " + a);
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(Json::parse(same.out), Json::array());
}

TEST(DiffTest, DeepTreesCompareWithoutRecursion) {
    testfiles::TempDir dir;
    constexpr int kDepth = 200000;
    auto deep = [&](const char* name, int value) {
        std::string text = "<r>";
        for (int i = 0; i < kDepth; ++i)
            text += "<a>";
        text += "<kestrel_sc:property type=\"int32\" name=\"x\">" + std::to_string(value) +
                "</kestrel_sc:property>";
        for (int i = 0; i < kDepth; ++i)
            text += "</a>";
        return dir.Write(name, text + "</r>").string();
    };
    std::string path = "figure";
    for (int i = 0; i < kDepth; ++i)
        path += "/a";
    ToolRun run = RunTool("diff " + deep("a.xml", 1) + " " + deep("b.xml", 2));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "~ " + path + "@x: int32 1 -> 2\n");
}

struct FailureCase {
    const char* name;
    std::string arguments;
    std::string message;  // expected in stderr
};

class DiffFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(DiffFailureTest, ExitsWithTwo) {
    ToolRun run = RunTool(GetParam().arguments);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

const std::string kAssembly = Example("assembly.xml");

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffFailureTest,
    testing::Values(
        FailureCase{"FirstMissing", "diff /no/such/a.xml " + kAssembly, "/no/such/a.xml"},
        FailureCase{"SecondMissing", "diff " + kAssembly + " /no/such/b.xml", "/no/such/b.xml"},
        FailureCase{"OneOperand", "diff " + kAssembly, "B"},
        FailureCase{"UnknownFormat", "diff --format yaml " + kAssembly + " " + kAssembly, "yaml"},
        FailureCase{"NegativeEps", "diff --eps=-1 " + kAssembly + " " + kAssembly, "--eps"},
        FailureCase{"NanEps", "diff --eps nan " + kAssembly + " " + kAssembly, "--eps"},
        FailureCase{"EpsNotANumber", "diff --eps small " + kAssembly + " " + kAssembly, "eps"},
        FailureCase{"BriefWithJson", "diff --brief --format json " + kAssembly + " " + kAssembly,
                    "brief"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(DiffTest, MalformedInputExitsWithTwo) {
    testfiles::TempDir dir;
    auto bad = dir.Write("bad.xml", "<root>\n  <kestrel_sc:a>\n</root>\n");
    ToolRun run = RunTool("diff " + bad.string() + " " + kAssembly);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("bad.xml:3:"), std::string::npos) << run.err;
    auto badJson = dir.Write("bad.json", R"({"name": "figure", "children": 3})");
    ToolRun json = RunTool("diff " + kAssembly + " " + badJson.string());
    EXPECT_EQ(json.status, 2);
    EXPECT_NE(json.err.find("/children"), std::string::npos) << json.err;
}

TEST(DiffTest, HelpShowsTheLineFormsAndExamples) {
    ToolRun run = RunTool("diff --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--eps"), std::string::npos);
    EXPECT_NE(run.out.find("Exit status: 0 the same, 1 different, 2"), std::string::npos);
    EXPECT_NE(run.out.find("kestrel-sc diff examples/assembly.xml assembly.json"),
              std::string::npos);
}

}  // namespace
