// tree options, info and get, run as a user runs them.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"

namespace {

using toolrunner::Example;
using toolrunner::RunTool;
using toolrunner::ToolRun;

struct OutputCase {
    std::string arguments;  // on examples/assembly.xml
    std::string out;
};

class QueryOutputTest : public testing::TestWithParam<OutputCase> {};

TEST_P(QueryOutputTest, PrintsExactly) {
    const std::string& arguments = GetParam().arguments;
    const std::size_t command = arguments.find(' ');
    ToolRun run = RunTool(arguments.substr(0, command) + " " + Example("assembly.xml") +
                          arguments.substr(command));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryOutputTest,
    testing::Values(
        OutputCase{"tree --depth 0", "figure\n  ... 5 more elements\n"},
        OutputCase{
            "tree --types --mask bicycle/wheels/front",
            "figure\n  bicycle\n    @title: string\n    @revision: int32\n    @paint: color\n"
            "    wheels\n      front\n        @hub: dpoint3d\n"},
        OutputCase{
            "tree --mask bicycle/frame,/bicycle/wheels/rear --depth 3 --indent 1",
            "figure\n bicycle\n  @title: string = \"Touring bicycle\"\n  @revision: int32 = 7\n"
            "  @paint: color = #1f6fb2ff\n  frame\n   @mass: double = 1.85\n"
            "   @placement: location = 0 0 0.55 0 0 0 1 1\n  wheels\n   rear\n"
            "    @hub: dpoint3d = -0.52 0 0.35\n"},
        OutputCase{"get bicycle/frame@mass", "1.85\n"},
        OutputCase{"get bicycle@revision --json",
                   "{\"name\": \"revision\", \"type\": \"int32\", \"value\": 7}\n"},
        OutputCase{"get bicycle/wheels/rear", "rear\n  @hub: dpoint3d = -0.52 0 0.35\n"},
        OutputCase{"get figure/bicycle/frame@mass", "1.85\n"}));  // the top named or not

TEST(QueryCommandsTest, InfoCountsEverything) {
    ToolRun run = RunTool("info " + Example("showcase.xml") + " --json");
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
    ToolRun text = RunTool("info " + Example("assembly.xml"));
    EXPECT_NE(text.out.find("elements:    6 (depth 3)"), std::string::npos) << text.out;
}

}  // namespace
