// kestrel-sc: loads, inspects and converts serialized content files.
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "ContentJson.h"
#include "ContentModule.h"
#include "OutputFile.h"
#include "TreePrinter.h"

namespace {

using kestrelsc::ContentModule;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kExitCodes =
    "Exit status:\n"
    "  0  success\n"
    "  1  the input could not be loaded or the output not written\n"
    "  2  bad command line, or the module could not be opened\n";

struct GlobalOptions {
    std::string modulePath;
    bool quiet = false;
};

void Report(const std::string& message) {
    std::cerr << "kestrel-sc: error: " << message << '\n';
}

// Opens the module and loads file; prints the error and gives the exit status on failure.
int LoadOrReport(const GlobalOptions& global, const std::string& file,
                 kestrelsc::LoadOutcome& outcome) {
    std::string error;
    ContentModule module = ContentModule::Open(global.modulePath, error);
    if (!module) {
        Report("cannot open the serialized-content module: " + error);
        return kExitUsage;
    }
    outcome = module.Load(file);
    if (!outcome) {
        Report(outcome.error);
        return kExitFailed;
    }
    return kExitOk;
}

int Emit(const std::string& output, const std::string& text) {
    std::string error;
    if (!kestrelsc::WriteOutput(output, text, error)) {
        Report(error);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kestrel-sc: load, inspect and convert serialized content files."};
    app.footer(kExitCodes);
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("kestrel-sc ") + KESTREL_SC_VERSION);
    GlobalOptions global;
    app.add_option("--module", global.modulePath,
                   "The serialized-content module library to load (default: beside the tool, or "
                   "$KESTREL_SC_MODULE)");
    app.add_flag("-q,--quiet", global.quiet, "Print nothing but errors and requested output");

    int status = kExitOk;

    std::string treeInput;
    int treeIndent = 2;
    CLI::App* tree = app.add_subcommand("tree", "Print the content tree as an indented outline");
    tree->add_option("FILE", treeInput, "Content file to load")->required();
    tree->add_option("--indent", treeIndent, "Spaces per level")->check(CLI::Range(0, 16));
    tree->footer("Example:\n  kestrel-sc tree examples/assembly.xml");
    tree->callback([&] {
        kestrelsc::LoadOutcome outcome;
        status = LoadOrReport(global, treeInput, outcome);
        if (status != kExitOk)
            return;
        status = Emit("-", kestrelsc::FormatTree(*outcome.tree, {treeIndent}));
    });

    std::string catInput, catOutput, catFormat = "json";
    int catIndent = 2;
    bool catCompact = false;
    CLI::App* cat = app.add_subcommand("cat", "Write the loaded content in another form");
    cat->add_option("FILE", catInput, "Content file to load")->required();
    cat->add_option("-o,--output", catOutput, "Output file (default: standard output)");
    cat->add_option("--to", catFormat, "Output form")->check(CLI::IsMember({"json"}));
    auto* indentOption =
        cat->add_option("--indent", catIndent, "Spaces per level")->check(CLI::Range(0, 16));
    cat->add_flag("--compact", catCompact, "Write everything on one line")->excludes(indentOption);
    cat->footer(
        "Examples:\n"
        "  kestrel-sc cat examples/assembly.xml --to json\n"
        "  kestrel-sc cat examples/assembly.xml --to json -o assembly.json");
    cat->callback([&] {
        kestrelsc::LoadOutcome outcome;
        status = LoadOrReport(global, catInput, outcome);
        if (status != kExitOk)
            return;
        contentjson::JsonWriteOptions options;
        options.indent = catCompact ? 0 : catIndent;
        status = Emit(catOutput, contentjson::WriteContentJson(*outcome.tree, options));
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& success) {
        return app.exit(success);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }
    return status;
}
