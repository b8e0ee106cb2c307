#include "Commands.h"
#include "TreePrinter.h"

namespace kestrelsc {

void AddTreeCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string input;
        TreeOptions tree;
    };
    auto options = std::make_shared<Options>();
    CLI::App* tree = app.add_subcommand(
        "tree", "Print the content tree: one line per element, one per property");
    tree->add_option("FILE", options->input, "Content file or canonical JSON to load")->required();
    tree->add_option("--depth", options->tree.maxDepth,
                     "Levels below the top element to show (deeper ones are counted)")
        ->check(CLI::NonNegativeNumber);
    tree->add_flag("--types", options->tree.typesOnly, "Show property types without values");
    tree->add_option("--mask", options->tree.masks,
                     "Show only these element paths (comma-separated, e.g. bicycle/frame)")
        ->delimiter(',');
    tree->add_option("--indent", options->tree.indent, "Spaces per level")
        ->check(CLI::Range(0, 16));
    tree->add_option("--items", options->tree.maxItems,
                     "Array items shown before eliding the middle (default 8)");
    tree->footer(
        "Properties show as '@name: type = value'; shapes by their vertex and triangle counts,\n"
        "images by their size and pixel format. Paths name elements below the top element.\n"
        "Examples:\n"
        "  kestrel-sc tree examples/assembly.xml\n"
        "  kestrel-sc tree examples/assembly.xml --depth 1\n"
        "  kestrel-sc tree examples/assembly.xml --mask bicycle/wheels --types");
    tree->callback([options, &context] {
        LoadOutcome outcome;
        if (!context.Load(options->input, outcome))
            return;
        std::string text, error;
        if (!FormatTree(*outcome.tree, options->tree, text, error)) {
            context.Fail(options->input + ": " + error);
            return;
        }
        context.Write("-", text);
    });
}

}  // namespace kestrelsc
