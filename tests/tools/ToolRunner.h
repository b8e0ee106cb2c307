// Runs the kestrel-sc program as a user would and collects what it printed.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../serializedContent/TestFiles.h"

namespace toolrunner {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

using testfiles::Example;
using testfiles::Listing;
using testfiles::ReadFile;

// Runs a shell command line and collects what its last command printed.
inline ToolRun RunCommand(const std::string& line) {
    testfiles::TempDir dir;
    const std::string command =
        line + " > " + (dir.path() / "out").string() + " 2> " + (dir.path() / "err").string();
    const int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(dir.path() / "out");
    run.err = ReadFile(dir.path() / "err");
    return run;
}

// Runs kestrel-sc with arguments (already quoted for the shell), stopping it after 120 s; shell
// commands in before (such as "ulimit -f 32; ") run first, in the same shell.
inline ToolRun RunTool(const std::string& arguments, const std::string& before = "") {
    return RunCommand(before + "timeout 120 " + std::string(KESTREL_BINARY_DIR) + "/kestrel-sc " +
                      arguments);
}

inline const std::vector<std::string> kExamples = {
    "assembly.xml", "images.xml", "meshes.xml", "naming.xml", "properties.xml", "showcase.xml"};

// The paths of every shipped example, each after a space.
inline std::string AllExamples() {
    std::string list;
    for (const std::string& name : kExamples)
        list += " " + Example(name);
    return list;
}

// text with each "{dir}" replaced by directory.
inline std::string WithDir(std::string text, const std::filesystem::path& directory) {
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;)
        text.replace(at, 5, directory.string());
    return text;
}

// The path of a file of the check corpus, documents with known problems.
inline std::string Corpus(const std::string& name) {
    return std::string(KESTREL_TEST_DATA_DIR) + "/check/" + name;
}

// A document whose root holds depth nested elements open (such as "<a>") around inner.
inline std::string Nested(int depth, const std::string& open, const std::string& inner) {
    std::string text = "<r>";
    for (int i = 0; i < depth; ++i)
        text += open;
    text += inner;
    for (int i = 0; i < depth; ++i)
        text += "</" + open.substr(1);
    return text + "</r>";
}

}  // namespace toolrunner
