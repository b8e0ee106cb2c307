// kestrel-sc: loads, inspects and converts serialized content files.
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "kestrel/files/AtomicFile.h"
#include "kestrel/files/Console.h"

namespace {

// The exit status of a run, as the footer below lists them.
int ExitStatus(const kestrelsc::ToolContext& run) {
    if (run.unusable)
        return 2;
    if (run.failed)
        return run.answers ? 2 : 1;  // 1 is the answer "no" of diff and check
    return run.negative ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrelsc;
    kestrel::files::UseBinaryStandardStreams();
    std::vector<std::string> arguments = kestrel::files::Utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    if (!pointers.empty()) {
        argc = static_cast<int>(pointers.size());
        pointers.push_back(nullptr);
        argv = pointers.data();
    }
    kestrel::files::CleanUpOnSignals();
    CLI::App app{"kestrel-sc: load, inspect and convert serialized content files."};
    app.footer(
        "Inputs are content files (XML) or canonical JSON, told apart by their first character.\n"
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  an input could not be loaded, or an output not written\n"
        "  2  bad command line, or the module could not be opened\n");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("kestrel-sc ") + KESTREL_SC_VERSION);
    ToolContext context;
    app.add_option("--module", context.modulePath,
                   "The serialized-content module library to load (default: beside the tool, or "
                   "$KESTREL_SC_MODULE)");
    app.add_flag("-q,--quiet", context.quiet, "Print nothing but errors and requested output");
    context.progressOption =
        app.add_flag("--progress,!--no-progress", context.progress,
                     "Show a progress bar with bytes and rate on stderr while loading and writing "
                     "files (default: on when stderr is a terminal)");

    AddTreeCommand(app, context);
    AddInfoCommand(app, context);
    AddCatCommand(app, context);
    AddCheckCommand(app, context);
    AddGetCommand(app, context);
    AddDiffCommand(app, context);
    AddExportCommand(app, context);
    AddImportCommands(app, context);
    AddViewCommand(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& success) {
        return app.exit(success);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return 2;
    }
    return ExitStatus(context);
}
