#include "Commands.h"
#include "TreePrinter.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/paths/ContentPath.h"
#include "kestrel/values/ValueFormat.h"

namespace kestrelsc {

void AddGetCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string input, path;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* get = app.add_subcommand("get", "Print one element or one property");
    get->add_option("FILE", options->input, "Content file or canonical JSON to load")->required();
    get->add_option("PATH", options->path,
                    "Element path, with @PROPERTY for a property: bicycle/frame@mass")
        ->required();
    get->add_flag("--json", options->json, "Print in the canonical JSON form");
    get->footer(
        "An element prints as its outline (like tree); a property prints its value alone.\n"
        "Where several siblings or properties share a name, the first counts.\n"
        "Exit status 1 when there is no such element or property.\n"
        "Examples:\n"
        "  kestrel-sc get examples/assembly.xml bicycle/frame@mass\n"
        "  kestrel-sc get examples/assembly.xml bicycle/wheels --json");
    get->callback([options, &context] {
        LoadOutcome outcome;
        if (!context.Load(options->input, outcome))
            return;
        const std::size_t at = options->path.rfind('@');
        const std::string elementPath = options->path.substr(0, at);
        SerializedContentElement* element = kestrel::paths::FindElement(*outcome.tree, elementPath);
        if (!element) {
            context.Fail(options->input + ": no element at '" + elementPath + "'");
            return;
        }
        if (at == std::string::npos) {
            if (options->json) {
                context.Write("-", kestrel::json::WriteContentJson(*element));
                return;
            }
            std::string text, error;
            FormatTree(*element, TreeOptions{}, text, error);
            context.Write("-", text);
            return;
        }
        const Symbol name(options->path.substr(at + 1));
        const SerializedContentElement::Property* property = element->FindProperty(name);
        if (!property) {
            context.Fail(options->input + ": '" + kestrel::paths::PathOf(*element) +
                         "' has no property '" + std::string(name) + "'");
            return;
        }
        if (options->json) {
            context.Write("-", kestrel::json::WritePropertyJson(*property));
        } else {
            context.Write("-", kestrel::values::ValueSummary(property->value, SIZE_MAX) + "\n");
        }
    });
}

}  // namespace kestrelsc
