#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <vector>

#include "Commands.h"
#include "ContentJson.h"
#include "OutputFile.h"
#include "Parallel.h"
#include "XmlOutput.h"

namespace kestrelsc {

ProgressMode ToolContext::Progress() const {
    if (quiet || (holding && !holdingProgress))
        return ProgressMode::Off;
    if (progressOption && progressOption->count() > 0)
        return progress ? ProgressMode::Always : ProgressMode::Off;
    return ::isatty(STDERR_FILENO) ? ProgressMode::Delayed : ProgressMode::Off;
}

void ToolContext::Fail(const std::string& message, int exitStatus) {
    if (holding)
        held.push_back({true, message});
    else
        std::cerr << "kestrel-sc: error: " << message << '\n';
    status = exitStatus;
}

void ToolContext::Warn(const std::string& message) {
    if (quiet)
        return;
    if (holding)
        held.push_back({false, message});
    else
        std::cerr << "kestrel-sc: warning: " << message << '\n';
}

ToolContext ToolContext::ForWorker(bool showProgress) const {
    ToolContext worker = *this;
    worker.status = kExitOk;
    worker.holding = true;
    worker.holdingProgress = showProgress;
    worker.held.clear();
    return worker;
}

void ToolContext::Merge(const ToolContext& worker) {
    for (const HeldMessage& message : worker.held)
        std::cerr << "kestrel-sc: " << (message.error ? "error: " : "warning: ") << message.text
                  << '\n';
    status = std::max(status, worker.status);
}

CLI::Option* AddJobsOption(CLI::App& command, unsigned& jobs, const std::string& what) {
    return command
        .add_option("-j,--jobs", jobs,
                    what + " at once, each on its own thread (default: one per core, here " +
                        std::to_string(DefaultJobs()) + ")")
        ->option_text("N")
        ->check(CLI::Range(1u, 1024u));
}

bool ToolContext::Load(const std::string& path, LoadOutcome& outcome, const ContentModule* module) {
    const int loaded = LoadInput(modulePath, path, outcome, Progress(), module);
    if (loaded != kExitOk)
        Fail(outcome.error, loaded);
    return loaded == kExitOk;
}

bool ToolContext::Write(const std::string& path, const std::string& text) {
    std::string error;
    // Standard output is the user's own stream; only files get a bar.
    const bool toFile = !path.empty() && path != "-";
    ProgressMeter meter(toFile ? Progress() : ProgressMode::Off, "writing", text.size());
    meter.Update(0);
    if (WriteOutput(path, text, error, [&meter](std::uint64_t done) { meter.Update(done); })) {
        meter.Finish(text.size());
        return true;
    }
    Fail(error);
    return false;
}

bool ToolContext::Save(const SerializedContentElement& tree, const std::string& path,
                       InputForm form, int jsonIndent) {
    if (form == InputForm::Json) {
        return Write(path, contentjson::WriteContentJson(tree, {jsonIndent}));
    }
    std::string text, error;
    std::vector<std::string> warnings;
    if (!ContentToXml(tree, text, error, warnings)) {
        Fail(error);
        return false;
    }
    for (const std::string& warning : warnings)
        Warn(warning);
    return Write(path, text);
}

}  // namespace kestrelsc
