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
    tree->add_option("--indent", options->tree.indent, "Spaces per level")
        ->check(CLI::Range(0, 16));
    tree->add_option("--items", options->tree.maxItems,
                     "Array items shown before eliding the middle (default 8)");
    tree->footer(
        "Properties show as '@name: type = value'; shapes by their vertex and triangle counts,\n"
        "images by their size and pixel format.\n"
        "Example:\n"
        "  kestrel-sc tree examples/assembly.xml");
    tree->callback([options, &context] {
        LoadOutcome outcome;
        if (!context.Load(options->input, outcome))
            return;
        context.Write("-", FormatTree(*outcome.tree, options->tree));
    });
}

}  // namespace kestrelsc
