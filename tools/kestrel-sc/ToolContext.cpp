#include <algorithm>
#include <iostream>
#include <optional>
#include <vector>

#include "Commands.h"
#include "OutputFile.h"
#include "Parallel.h"
#include "kestrel/files/Console.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/paths/ContentPath.h"
#include "kestrel/values/ValueFormat.h"
#include "kestrel/values/ValueTraits.h"

namespace kestrelsc {

ProgressMode ToolContext::Progress() const {
    if (quiet || (holding && !holdingProgress))
        return ProgressMode::Off;
    if (progressOption && progressOption->count() > 0)
        return progress ? ProgressMode::Always : ProgressMode::Off;
    return kestrel::files::StandardErrorIsTerminal() ? ProgressMode::Delayed : ProgressMode::Off;
}

void ToolContext::Fail(const std::string& message) {
    if (holding)
        held.push_back({true, message});
    else
        std::cerr << "kestrel-sc: error: " << message << '\n';
    failed = true;
}

void ToolContext::Fail(const kestrel::Error& error) {
    Fail(DescribeLoadError(error));
    if (error.code == kestrel::Error::ModuleUnavailable)
        unusable = true;
}

void ToolContext::Refuse(const std::string& message) {
    Fail(message);
    unusable = true;
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
    worker.failed = worker.unusable = worker.negative = false;
    worker.holding = true;
    worker.holdingProgress = showProgress;
    worker.held.clear();
    return worker;
}

void ToolContext::Merge(const ToolContext& worker) {
    for (const HeldMessage& message : worker.held)
        std::cerr << "kestrel-sc: " << (message.error ? "error: " : "warning: ") << message.text
                  << '\n';
    failed |= worker.failed;
    unusable |= worker.unusable;
    negative |= worker.negative;
}

CLI::Option* AddJobsOption(CLI::App& command, unsigned& jobs, const std::string& what) {
    return command
        .add_option("-j,--jobs", jobs,
                    what + " at once, each on its own thread (default: one per core, here " +
                        std::to_string(DefaultJobs()) + ")")
        ->option_text("N")
        ->check(CLI::Range(1u, 1024u));
}

bool ToolContext::Load(const std::string& path, LoadOutcome& outcome,
                       const kestrel::Module* module) {
    outcome = LoadInput(modulePath, path, Progress(), module);
    if (!outcome)
        Fail(outcome.error);
    return static_cast<bool>(outcome);
}

bool ToolContext::Write(const std::string& path, const std::string& text) {
    // Standard output is the user's own stream; only files get a bar.
    const bool toFile = !path.empty() && path != "-";
    ProgressMeter meter(toFile ? Progress() : ProgressMode::Off, "writing", text.size());
    meter.Update(0);
    const kestrel::Error error =
        WriteOutput(path, text, [&meter](std::uint64_t done) { meter.Update(done); });
    if (!error) {
        meter.Finish(text.size());
        return true;
    }
    Fail(error.description());
    return false;
}

namespace {

// Warns of each property of a type content files cannot hold, which writing one leaves out.
void WarnLeftOut(ToolContext& context, const SerializedContentElement& top) {
    std::vector<const SerializedContentElement*> pending{&top};
    while (!pending.empty()) {
        const SerializedContentElement* element = pending.back();
        pending.pop_back();
        for (const SerializedContentElement::Property& property : element->GetProperties()) {
            if (!kestrel::values::FactsOf(property.value).xmlCarries) {
                context.Warn("property '" + std::string(property.name) + "' of '" +
                             kestrel::paths::PathOf(*element) + "' has type " +
                             kestrel::values::TypeName(property.value) +
                             ", which content files cannot hold; it is left out");
            }
        }
        for (std::size_t i = element->GetChildCount(); i-- > 0;)
            pending.push_back(element->GetChild(i));
    }
}

}  // namespace

bool ToolContext::Save(const SerializedContentElement& tree, const std::string& path,
                       InputForm form, int jsonIndent) {
    if (form == InputForm::Json) {
        return Write(path, kestrel::json::WriteContentJson(tree, {jsonIndent}));
    }
    if (const kestrel::Error refused = kestrel::CheckSavable(tree)) {
        Fail(refused.message);
        return false;
    }
    WarnLeftOut(*this, tree);
    if (path.empty() || path == "-") {
        kestrel::Error error;
        const std::string text = kestrel::SaveText(tree, &error);
        if (error) {
            Fail(error.description());
            return false;
        }
        return Write(path, text);
    }
    // Files are written as the text is made, without holding all of it; the bar goes by the
    // size expected until the end.
    std::optional<ProgressMeter> meter;
    std::uint64_t written = 0;
    kestrel::SaveOptions options;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        if (!meter)
            meter.emplace(Progress(), "writing", total);
        meter->Update(done);
        written = done;
        return true;
    };
    if (const kestrel::Error error = kestrel::Save(tree, path, options)) {
        Fail(error.description());
        return false;
    }
    if (meter)
        meter->Finish(written);
    return true;
}

}  // namespace kestrelsc
