// kestrel-sc: loads, inspects and converts serialized content files.
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ContentJson.h"
#include "Input.h"
#include "OutputFile.h"
#include "TreePrinter.h"
#include "XmlOutput.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kExitCodes =
    "Inputs are content files (XML) or canonical JSON, told apart by their first character.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the input could not be loaded, or the output not written\n"
    "  2  bad command line, or the module could not be opened\n";

struct GlobalOptions {
    std::string modulePath;
    bool quiet = false;
};

void Report(const std::string& message) {
    std::cerr << "kestrel-sc: error: " << message << '\n';
}

void Warn(const GlobalOptions& global, const std::string& message) {
    if (!global.quiet)
        std::cerr << "kestrel-sc: warning: " << message << '\n';
}

// Loads file; prints the error and gives the exit status on failure.
int Load(const GlobalOptions& global, const std::string& file, kestrelsc::LoadOutcome& outcome) {
    int status = kestrelsc::LoadInput(global.modulePath, file, outcome);
    if (status != kExitOk)
        Report(outcome.error);
    return status;
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
    kestrelsc::TreeOptions treeOptions;
    CLI::App* tree = app.add_subcommand(
        "tree", "Print the content tree: one line per element, one per property");
    tree->add_option("FILE", treeInput, "Content file or canonical JSON to load")->required();
    tree->add_option("--indent", treeOptions.indent, "Spaces per level")->check(CLI::Range(0, 16));
    tree->add_option("--items", treeOptions.maxItems,
                     "Array items shown before eliding the middle (default 8)");
    tree->footer(
        "Example:\n"
        "  kestrel-sc tree examples/assembly.xml\n"
        "Properties show as '@name: type = value'.");
    tree->callback([&] {
        kestrelsc::LoadOutcome outcome;
        status = Load(global, treeInput, outcome);
        if (status == kExitOk)
            status = Emit("-", kestrelsc::FormatTree(*outcome.tree, treeOptions));
    });

    std::string catInput, catOutput, catFormat = "xml";
    int catIndent = 2;
    bool catCompact = false;
    CLI::App* cat = app.add_subcommand(
        "cat", "Write the loaded content as a content file (XML) or canonical JSON");
    cat->add_option("FILE", catInput, "Content file or canonical JSON to load")->required();
    cat->add_option("-o,--output", catOutput, "Output file, replaced atomically (default: stdout)");
    cat->add_option("--to", catFormat, "Output form: xml (default) or json")
        ->check(CLI::IsMember({"xml", "json"}));
    auto* indentOption =
        cat->add_option("--indent", catIndent, "JSON: spaces per level")->check(CLI::Range(0, 16));
    cat->add_flag("--compact", catCompact, "JSON: everything on one line")->excludes(indentOption);
    cat->footer(
        "Examples:\n"
        "  kestrel-sc cat examples/properties.xml --to json -o properties.json\n"
        "  kestrel-sc cat properties.json -o properties.xml\n"
        "  kestrel-sc cat examples/properties.xml        # rewrite in the writer's own layout");
    cat->callback([&] {
        kestrelsc::LoadOutcome outcome;
        status = Load(global, catInput, outcome);
        if (status != kExitOk)
            return;
        std::string text;
        if (catFormat == "json") {
            text = contentjson::WriteContentJson(*outcome.tree, {catCompact ? 0 : catIndent});
        } else {
            std::string error;
            std::vector<std::string> warnings;
            if (!kestrelsc::ContentToXml(*outcome.tree, text, error, warnings)) {
                Report(catInput + ": " + error);
                status = kExitFailed;
                return;
            }
            for (const std::string& warning : warnings)
                Warn(global, warning);
        }
        status = Emit(catOutput, text);
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
