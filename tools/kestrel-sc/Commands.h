// The subcommands of kestrel-sc and what they share.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Input.h"
#include "Progress.h"

namespace kestrelsc {

// An error or warning that a worker's context keeps until the main thread prints it.
struct HeldMessage {
    bool error = false;
    std::string text;
};

// Options and outcome shared by every subcommand.
struct ToolContext {
    std::string modulePath;  // --module
    bool quiet = false;      // -q
    bool progress = false;   // --progress / --no-progress, when given
    const CLI::Option* progressOption = nullptr;

    // How the run went; main makes the exit status of it.
    bool failed = false;    // an input could not be loaded or read, or an output not written
    bool unusable = false;  // a command line that makes no sense, or no module to load through
    bool negative = false;  // the command's answer is no: the files differ, problems were found
    bool answers = false;   // the command answers with its status (diff, check), so a failure
                            // must not read as "no"

    // A worker's context keeps its errors and warnings here, in order, instead of printing them.
    bool holding = false;
    bool holdingProgress = false;  // whether a worker's context still draws progress
    std::vector<HeldMessage> held;

    // How progress is shown: as asked, else on a terminal stderr only, never with -q.
    ProgressMode Progress() const;
    // Prints an error and marks the run failed.
    void Fail(const std::string& message);
    // Prints a failed load in the tool's words and marks the run failed (or unusable, when the
    // module could not be opened).
    void Fail(const kestrel::Error& error);
    // Prints an error about the command line and marks the run unusable.
    void Refuse(const std::string& message);
    // Prints a warning unless quiet.
    void Warn(const std::string& message);
    // A copy for work on another thread: it holds its messages for Merge, starts with nothing
    // failed, and draws no progress unless showProgress (for work that runs alone).
    ToolContext ForWorker(bool showProgress) const;
    // Prints the messages a worker's context held, in order, and takes on its failures.
    void Merge(const ToolContext& worker);
    // Loads path (XML through the module, or JSON); false after reporting the failure. module,
    // if set, is the module already opened from modulePath.
    bool Load(const std::string& path, LoadOutcome& outcome,
              const kestrel::Module* module = nullptr);
    // Writes text to path atomically ("-" or empty: stdout); false after reporting the failure.
    bool Write(const std::string& path, const std::string& text);
    // Writes tree to path in form, atomically; false after reporting the failure.
    bool Save(const SerializedContentElement& tree, const std::string& path, InputForm form,
              int jsonIndent = 2);
};

// Adds -j/--jobs to a command that takes several files; jobs stays 0 unless given.
CLI::Option* AddJobsOption(CLI::App& command, unsigned& jobs, const std::string& what);

void AddTreeCommand(CLI::App& app, ToolContext& context);
void AddCatCommand(CLI::App& app, ToolContext& context);
void AddInfoCommand(CLI::App& app, ToolContext& context);
void AddCheckCommand(CLI::App& app, ToolContext& context);
void AddGetCommand(CLI::App& app, ToolContext& context);
void AddDiffCommand(CLI::App& app, ToolContext& context);
void AddExportCommand(CLI::App& app, ToolContext& context);
void AddImportCommands(CLI::App& app, ToolContext& context);
void AddViewCommand(CLI::App& app, ToolContext& context);

}  // namespace kestrelsc
