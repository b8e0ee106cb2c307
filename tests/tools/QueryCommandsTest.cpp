// tree options, info and get, run as a user runs them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"

namespace {

using toolrunner::RunTool;
using toolrunner::ToolRun;

const std::string kAssembly = std::string(KESTREL_EXAMPLES_DIR) + "/assembly.xml";

struct TreeCase {
    const char* name;
    std::string options;
    std::string expected;
};

class TreeOptionsTest : public testing::TestWithParam<TreeCase> {};

TEST_P(TreeOptionsTest, PrintsTheExpectedOutline) {
    ToolRun run = RunTool("tree " + kAssembly + " " + GetParam().options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TreeOptionsTest,
    testing::Values(
        TreeCase{"DepthZero", "--depth 0", "figure\n  ... 5 more elements\n"},
        TreeCase{"TypesOnlyWithMask", "--types --mask bicycle/wheels/front",
                 "figure\n  bicycle\n    @title: string\n    @revision: int32\n    @paint: color\n"
                 "    wheels\n      front\n        @hub: dpoint3d\n"},
        TreeCase{
            "TwoMasks", "--mask bicycle/frame,/bicycle/wheels/rear --depth 3 --indent 1",
            "figure\n bicycle\n  @title: string = \"Touring bicycle\"\n  @revision: int32 = 7\n"
            "  @paint: color = #1f6fb2ff\n  frame\n   @mass: double = 1.85\n"
            "   @placement: location = 0 0 0.55 0 0 0 1 1\n  wheels\n   rear\n"
            "    @hub: dpoint3d = -0.52 0 0.35\n"}),
    [](const testing::TestParamInfo<TreeCase>& info) { return info.param.name; });

TEST(QueryCommandsTest, MaskNamingNothingFails) {
    ToolRun run = RunTool("tree " + kAssembly + " --mask bicycle/nothing");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no element at 'bicycle/nothing'"), std::string::npos);
}

TEST(QueryCommandsTest, InfoCountsEverything) {
    ToolRun run = RunTool("info " + std::string(KESTREL_EXAMPLES_DIR) + "/showcase.xml --json");
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json info = nlohmann::json::parse(run.out);
    EXPECT_EQ(info["elements"], 3);
    EXPECT_EQ(info["properties"], 26);
    EXPECT_EQ(info["propertiesByType"]["float[]"], 1);
    EXPECT_EQ(info["shapes"], 1);
    EXPECT_EQ(info["vertices"], 8);
    EXPECT_EQ(info["triangles"], 12);
    EXPECT_EQ(info["images"], nlohmann::json::array({"48 x 24 rgba8"}));
    EXPECT_EQ(info["payloadBytes"], 8 * 12 + 12 * 12 + 48 * 24 * 4);
    ToolRun text = RunTool("info " + kAssembly);
    EXPECT_NE(text.out.find("elements:    6 (depth 3)"), std::string::npos) << text.out;
}

struct GetCase {
    const char* name;
    std::string arguments;
    int status;
    std::string out;
};

class GetTest : public testing::TestWithParam<GetCase> {};

TEST_P(GetTest, PrintsOneThing) {
    ToolRun run = RunTool("get " + kAssembly + " " + GetParam().arguments);
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    EXPECT_EQ(run.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetTest,
    testing::Values(GetCase{"Property", "bicycle/frame@mass", 0, "1.85\n"},
                    GetCase{"PropertyAsJson", "bicycle@revision --json", 0,
                            "{\"name\": \"revision\", \"type\": \"int32\", \"value\": 7}\n"},
                    GetCase{"Element", "bicycle/wheels/rear", 0,
                            "rear\n  @hub: dpoint3d = -0.52 0 0.35\n"},
                    GetCase{"TopNamedOrNot", "figure/bicycle/frame@mass", 0, "1.85\n"},
                    GetCase{"MissingElement", "bicycle/saddle", 1, ""},
                    GetCase{"MissingProperty", "bicycle@weight", 1, ""}),
    [](const testing::TestParamInfo<GetCase>& info) { return info.param.name; });

}  // namespace
