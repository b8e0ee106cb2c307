// The root element kestrel-sc writes: it declares the kestrel_sc prefix once, whatever the input's
// root said, so that every file the tool writes opens in namespace-aware XML tools and a second
// "cat" gives the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ToolRunner.h"

namespace {

using toolrunner::Example;
using toolrunner::ReadFile;
using toolrunner::RunCommand;
using toolrunner::RunTool;
using toolrunner::ToolRun;

// ElementTree, lxml and xmllint on files, through Debian's python3 (the one with lxml).
ToolRun OpenWithXmlTools(const std::string& files) {
    return RunCommand("/usr/bin/python3 " + std::string(KESTREL_TEST_DATA_DIR) +
                      "/../tools/open_with_xml_tools.py " + files);
}

TEST(XmlOutputTest, CatDeclaresThePrefixOnceWhateverTheInputRootSays) {
    const std::string part =
        "<kestrel_sc:part><kestrel_sc:property type=\"int32\" name=\"n\">7"
        "</kestrel_sc:property></kestrel_sc:part>";
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kestrel_sc:figure xmlns:kestrel_sc=\"urn:kestrel-sc:serialized-content\">\n"
        "  <kestrel_sc:part>\n"
        "    <kestrel_sc:property type=\"int32\" name=\"n\">7</kestrel_sc:property>\n"
        "  </kestrel_sc:part>\n"
        "</kestrel_sc:figure>\n";
    for (const std::string root :
         {"r",
          "doc version=\"2\" xmlns:kestrel_sc=\"urn:kestrel-sc:serialized-content\" "
          "xmlns:v=\"urn:v\""}) {
        testfiles::TempDir dir;
        auto input = dir.Write(
            "in.xml", "<" + root + ">" + part + "</" + root.substr(0, root.find(' ')) + ">");
        const std::string once = (dir.path() / "once.xml").string();
        ASSERT_EQ(RunTool("cat " + input.string() + " -o " + once).status, 0);
        EXPECT_EQ(ReadFile(once), expected) << root;
        EXPECT_EQ(RunTool("cat " + once).out, expected) << root;
    }
}

// Every subcommand that writes a content file, on every example: what it writes opens in
// ElementTree, lxml and xmllint as the examples themselves do.
TEST(XmlOutputTest, WrittenFilesOpenInXmlTools) {
    testfiles::TempDir dir;
    const std::string out = dir.path().string();
    const std::string examples = toolrunner::AllExamples();
    std::string files;
    for (const std::string& name : toolrunner::kExamples) {
        ToolRun written = RunTool("cat " + Example(name));
        ASSERT_EQ(written.status, 0) << name << written.err;
        files += " " + dir.Write("stdout/" + name, written.out).string();
    }
    const std::string commands[] = {
        "cat" + examples + " -o " + out + "/cat/",
        "cat" + examples + " --to json -o " + out + "/json/",
        "cat " + out + "/json/*.json -o " + out + "/back/",
        "export " + Example("meshes.xml") + " --shapes " + out + "/obj --mesh-format obj",
        "export " + Example("images.xml") + " --images " + out + "/png",
        "import-mesh " + out + "/obj/primitives.cube.mesh.obj --into " + Example("assembly.xml") +
            " --element bicycle/bell --name mesh -o " + out + "/import-mesh.xml",
        "import-image " + out + "/png/branding.logo.png --into " + Example("naming.xml") +
            " --element logo --name image -o " + out + "/import-image.xml",
        "import-image " + out + "/png/branding.logo.png --into " + out +
            "/json/naming.json --element brand --name logo",
    };
    for (const std::string& command : commands) {
        ToolRun run = RunTool(command);
        ASSERT_EQ(run.status, 0) << command << "\n" << run.err;
    }
    // An import keeps the form of its target and creates the elements on the way.
    EXPECT_EQ(ReadFile(out + "/json/naming.json").rfind("{", 0), 0u);
    EXPECT_NE(RunTool("tree " + out + "/json/naming.json")
                  .out.find("  brand\n    @logo: image = 48 x 24 rgba8\n"),
              std::string::npos);
    EXPECT_NE(RunTool("tree " + out + "/import-mesh.xml")
                  .out.find("    bell\n      @mesh: shape = 8 vertices, 12 triangles\n"),
              std::string::npos);

    ToolRun opened = OpenWithXmlTools(examples + files + " " + out + "/cat/*.xml " + out +
                                      "/back/*.xml " + out + "/import-*.xml");
    EXPECT_EQ(opened.status, 0) << opened.out << opened.err;
    EXPECT_EQ(opened.err, "");
    // The 6 examples, 6 files each from cat to standard output, into a directory and from JSON,
    // and the 2 imports.
    EXPECT_EQ(std::count(opened.out.begin(), opened.out.end(), '\n'), 26) << opened.out;
    EXPECT_NE(opened.out.find("/import-mesh.xml: 8 properties\n"), std::string::npos) << opened.out;
}

}  // namespace
