// The subcommands of kestrel-sc and what they share.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "ContentModule.h"
#include "Input.h"
#include "Progress.h"

namespace kestrelsc {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Options and outcome shared by every subcommand.
struct ToolContext {
    std::string modulePath;  // --module
    bool quiet = false;      // -q
    bool progress = false;   // --progress / --no-progress, when given
    const CLI::Option* progressOption = nullptr;
    int status = kExitOk;  // the exit status the last subcommand left

    // How progress is shown: as asked, else on a terminal stderr only, never with -q.
    ProgressMode Progress() const;
    // Prints an error and sets the status.
    void Fail(const std::string& message, int exitStatus = kExitFailed);
    // Prints a warning unless quiet.
    void Warn(const std::string& message) const;
    // Loads path (XML through the module, or JSON); false after reporting the failure.
    bool Load(const std::string& path, LoadOutcome& outcome);
    // Writes text to path atomically ("-" or empty: stdout); false after reporting the failure.
    bool Write(const std::string& path, const std::string& text);
    // Writes tree to path in form, atomically; false after reporting the failure.
    bool Save(const SerializedContentElement& tree, const std::string& path, InputForm form,
              int jsonIndent = 2);
};

void AddTreeCommand(CLI::App& app, ToolContext& context);
void AddCatCommand(CLI::App& app, ToolContext& context);
void AddInfoCommand(CLI::App& app, ToolContext& context);
void AddCheckCommand(CLI::App& app, ToolContext& context);
void AddGetCommand(CLI::App& app, ToolContext& context);
void AddDiffCommand(CLI::App& app, ToolContext& context);
void AddExportCommand(CLI::App& app, ToolContext& context);
void AddImportCommands(CLI::App& app, ToolContext& context);

}  // namespace kestrelsc
