// Runs the kestrel-sc program as a user would and collects what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../serializedContent/TestFiles.h"

namespace toolrunner {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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

// The path of a shipped example.
inline std::string Example(const std::string& name) {
    return std::string(KESTREL_EXAMPLES_DIR) + "/" + name;
}

}  // namespace toolrunner
