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

#include "ToolRunner.h"

namespace {

using toolrunner::Example;
using toolrunner::ReadFile;
using toolrunner::RunTool;
using toolrunner::ToolRun;

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

TEST(KestrelScTest, TreeShowsEachPropertyUnderItsElement) {
    ToolRun run = RunTool("tree " + Example("properties.xml"));
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* line :
         {"  sampler\n", "    @count: int32 = -42\n", "    @mask: uint32 = 4294967295\n",
          "    @serial: uint64 = 18446744073709551615\n", "    @label: string = \"Left & right\"\n",
          "    @tint: color = #ff8000ff\n", "    @weights: float[] = [3] 0.2, 0.3, 0.5\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
    }
}

TEST(KestrelScTest, CatIsIdempotentAndJsonCarriesEverything) {
    testfiles::TempDir dir;
    const std::string xml1 = (dir.path() / "1.xml").string();
    const std::string xml2 = (dir.path() / "2.xml").string();
    const std::string json = (dir.path() / "p.json").string();
    const std::string xml3 = (dir.path() / "3.xml").string();
    ASSERT_EQ(RunTool("cat " + Example("properties.xml") + " -o " + xml1).status, 0);
    ASSERT_EQ(RunTool("cat " + xml1 + " -o " + xml2).status, 0);
    EXPECT_EQ(ReadFile(xml1), ReadFile(xml2));
    ASSERT_EQ(RunTool("cat " + xml1 + " --to json -o " + json).status, 0);
    ToolRun back = RunTool("cat " + json + " --to xml -o " + xml3);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(ReadFile(xml3), ReadFile(xml1));
}

TEST(KestrelScTest, ValueAttributesLoadLikeTheWritersOwnOutput) {
    testfiles::TempDir dir;
    auto handWritten = dir.Write("hand.xml", R"(<r><kestrel_sc:e>
        <kestrel_sc:property type="int16" name="a" value="-7"/>
        <kestrel_sc:property type="dvec3" name="b" value="1, 2, 3"/>
        <kestrel_sc:property type="color" name="c" value="#FF8000"/>
        <kestrel_sc:property type="double" name="d" value=" 0.1 "/>
        </kestrel_sc:e></r>)");
    auto own = dir.Write("own.xml", R"(<r><kestrel_sc:e>
        <kestrel_sc:property type="int16" name="a">-7</kestrel_sc:property>
        <kestrel_sc:property type="dvec3" name="b">1 2 3</kestrel_sc:property>
        <kestrel_sc:property type="color" name="c">#ff8000ff</kestrel_sc:property>
        <kestrel_sc:property type="double" name="d">0.1</kestrel_sc:property>
        </kestrel_sc:e></r>)");
    ToolRun a = RunTool("cat " + handWritten.string() + " --to json");
    ToolRun b = RunTool("cat " + own.string() + " --to json");
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
}

TEST(KestrelScTest, JsonThatDoesNotFitNamesThePathAndWritesNothing) {
    testfiles::TempDir dir;
    auto json = dir.Write("bad.json", R"({"name": "figure", "properties": [], "children": [
        {"name": "e", "properties": [{"name": "p", "type": "uint8", "value": 300}],
         "children": []}]})");
    const std::string out = (dir.path() / "out.xml").string();
    ToolRun run = RunTool("cat " + json.string() + " --to xml -o " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("/children/0/properties/0/value"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(KestrelScTest, TreeShowsShapesAndImagesBySize) {
    ToolRun meshes = RunTool("tree " + Example("meshes.xml"));
    ASSERT_EQ(meshes.status, 0) << meshes.err;
    EXPECT_NE(meshes.out.find("@mesh: shape = 8 vertices, 12 triangles\n"), std::string::npos);
    ToolRun images = RunTool("tree " + Example("images.xml"));
    ASSERT_EQ(images.status, 0) << images.err;
    EXPECT_NE(images.out.find("@logo: image = 48 x 24 rgba8\n"), std::string::npos);
}

TEST(KestrelScTest, ExportedMeshesAndImagesImportBack) {
    testfiles::TempDir dir;
    for (const char* format : {"ply", "obj"}) {
        const std::string out = (dir.path() / format).string();
        ToolRun exported = RunTool("export " + Example("meshes.xml") + " --shapes " + out +
                                   " --mesh-format " + format);
        ASSERT_EQ(exported.status, 0) << exported.err;
        const std::string cube = out + "/primitives.cube.mesh." + format;
        EXPECT_NE(exported.out.find(cube), std::string::npos) << exported.out;
        auto target = dir.Write(std::string("into-") + format + ".xml", "<r/>");
        ToolRun imported = RunTool("import-mesh " + cube + " --into " + target.string() +
                                   " --element a/b --name m");
        ASSERT_EQ(imported.status, 0) << imported.err;
        EXPECT_EQ(RunTool("tree " + target.string()).out,
                  "figure\n  a\n    b\n      @m: shape = 8 vertices, 12 triangles\n");
    }
    ToolRun images =
        RunTool("export " + Example("images.xml") + " --images " + (dir.path() / "png").string());
    ASSERT_EQ(images.status, 0) << images.err;
    auto json = dir.Write("into.json", R"({"name": "figure", "properties": [], "children": []})");
    ToolRun imported =
        RunTool("import-image " + (dir.path() / "png" / "branding.logo.png").string() + " --into " +
                json.string() + " --element brand --name logo");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(ReadFile(json).rfind("{", 0), 0u);  // stays JSON
    EXPECT_NE(RunTool("tree " + json.string()).out.find("@logo: image = 48 x 24 rgba8"),
              std::string::npos);
}

TEST(KestrelScTest, ImportLeavesTheTargetUntouchedOnFailure) {
    testfiles::TempDir dir;
    auto target = dir.Write("t.xml", "<r><kestrel_sc:a/></r>");
    auto bad = dir.Write("bad.obj", "v 0 0 0\nf 1 2 3\n");
    ToolRun run = RunTool("import-mesh " + bad.string() + " --into " + target.string() +
                          " --element a --name m");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFile(target), "<r><kestrel_sc:a/></r>");
    EXPECT_EQ(RunTool("export " + target.string()).status, 2);
}

TEST(KestrelScTest, LongArraysAreElidedWithTheirCount) {
    testfiles::TempDir dir;
    std::string items;
    for (int i = 0; i < 20; ++i) {
        items += "<kestrel_sc:property>" + std::to_string(i) + "</kestrel_sc:property>";
    }
    auto file = dir.Write("a.xml",
                          "<r><kestrel_sc:e><kestrel_sc:property_array type='uint32' "
                          "name='ids'>" +
                              items +
                              "</kestrel_sc:property_array>"
                              "</kestrel_sc:e></r>");
    EXPECT_NE(RunTool("tree --items 4 " + file.string())
                  .out.find("@ids: uint32[] = [20] 0, 1, ..., 18, 19\n"),
              std::string::npos);
    EXPECT_NE(RunTool("tree " + file.string()).out.find("[20] 0, 1, 2, 3, ..., 16, 17, 18, 19\n"),
              std::string::npos);
}

struct ProgressCase {
    const char* name;
    std::string options;  // global options before the subcommand
    bool jsonInput;       // read canonical JSON instead of XML
    bool drawn;           // whether a progress line is expected on stderr
};

class KestrelScProgressTest : public testing::TestWithParam<ProgressCase> {};

// Tests run with stderr on a file, so the bar is off unless asked for; the output is the same
// either way.
TEST_P(KestrelScProgressTest, BarOnlyWhenAskedAndOutputUnchanged) {
    testfiles::TempDir dir;
    std::string input = Example("showcase.xml");
    if (GetParam().jsonInput) {
        input = (dir.path() / "in.json").string();
        ASSERT_EQ(RunTool("cat " + Example("showcase.xml") + " --to json -o " + input).status, 0);
    }
    const std::string out = (dir.path() / "out.xml").string();
    ToolRun run = RunTool(GetParam().options + " cat " + input + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(out), RunTool("cat " + Example("showcase.xml")).out);
    if (!GetParam().drawn) {
        EXPECT_EQ(run.err, "");
        return;
    }
    for (const char* expected : {"\rloading [", "\rwriting [", "100%", "B/s  in "})
        EXPECT_NE(run.err.find(expected), std::string::npos) << expected << " in " << run.err;
    EXPECT_EQ(run.err.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Modes, KestrelScProgressTest,
    testing::Values(ProgressCase{"DefaultOffWhenNotATerminal", "", false, false},
                    ProgressCase{"Asked", "--progress", false, true},
                    ProgressCase{"AskedForJsonInput", "--progress", true, true},
                    ProgressCase{"TurnedOff", "--no-progress", false, false},
                    ProgressCase{"QuietWins", "-q --progress", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KestrelScTest, VersionAndHelp) {
    ToolRun version = RunTool("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kestrel-sc ", 0), 0u);
    ToolRun help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

}  // namespace
