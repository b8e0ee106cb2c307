#include "Commands.h"

namespace kestrelsc {

void AddCatCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string input, output, format = "xml";
        int indent = 2;
        bool compact = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* cat = app.add_subcommand(
        "cat", "Write the loaded content as a content file (XML) or canonical JSON");
    cat->add_option("FILE", options->input, "Content file or canonical JSON to load")->required();
    cat->add_option("-o,--output", options->output,
                    "Output file, replaced atomically (default: standard output)");
    cat->add_option("--to", options->format, "Output form: xml (default) or json")
        ->check(CLI::IsMember({"xml", "json"}));
    auto* indent = cat->add_option("--indent", options->indent, "JSON: spaces per level")
                       ->check(CLI::Range(0, 16));
    cat->add_flag("--compact", options->compact, "JSON: everything on one line")->excludes(indent);
    cat->footer(
        "Examples:\n"
        "  kestrel-sc cat examples/properties.xml --to json -o properties.json\n"
        "  kestrel-sc cat properties.json -o properties.xml\n"
        "  kestrel-sc cat examples/properties.xml        # rewrite in the writer's own layout");
    cat->callback([options, &context] {
        LoadOutcome outcome;
        if (!context.Load(options->input, outcome))
            return;
        const InputForm form = options->format == "json" ? InputForm::Json : InputForm::Xml;
        context.Save(*outcome.tree, options->output, form, options->compact ? 0 : options->indent);
    });
}

}  // namespace kestrelsc
