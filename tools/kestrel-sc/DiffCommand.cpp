#include "Commands.h"
#include "kestrel/diff/ContentDiff.h"

namespace kestrelsc {

using kestrel::diff::Difference;
using kestrel::diff::DiffOptions;

void AddDiffCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string first, second, format = "text";
        DiffOptions diff;
        bool brief = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* diff = app.add_subcommand(
        "diff", "Compare two content files element by element and value by value");
    diff->add_option("A", options->first, "First content file or canonical JSON")->required();
    diff->add_option("B", options->second, "Second content file or canonical JSON")->required();
    diff->add_option("--eps", options->diff.eps,
                     "Largest difference between floating-point values that still counts as "
                     "equal (default 0: the bits must match)");
    auto* brief = diff->add_flag("--brief", options->brief,
                                 "Only print \"A and B differ\" when they do, like diff -q");
    diff->add_option("--format", options->format, "Output: text (default) or json")
        ->check(CLI::IsMember({"text", "json"}))
        ->excludes(brief);
    diff->add_flag("--ignore-order", options->diff.ignoreOrder,
                   "Do not report differently named siblings that changed places");
    diff->footer(
        "Elements and properties are matched by name: the k-th of a name among its siblings with\n"
        "the k-th of that name in the other file. Paths name the first of a name plainly and the\n"
        "k-th after it as name[k] (figure/parts/bolt[2]@tag[1]).\n"
        "One line per difference:\n"
        "  + PATH                     an element only B has (the top of an added subtree)\n"
        "  - PATH                     an element only A has\n"
        "  + PATH@NAME: TYPE VALUE    a property only B has (- for only A)\n"
        "  ~ PATH@NAME: TYPE A -> B   a changed value; TYPE A -> TYPE B when the type changed\n"
        "  ! PATH@NAME: TYPE DETAIL   a changed array, shape or image: sizes, how many items,\n"
        "                             vertices, triangles or pixels differ, and the first one\n"
        "  ! PATH: child order: ...   matched children (or properties) in another order\n"
        "Integers, strings, colours and triangles compare exactly. Floating-point values\n"
        "(also in compound values and shape vertices) compare by their bits, so -0 differs from\n"
        "0; with --eps E > 0 they are equal within E, -0 equals 0 and any NaN equals any NaN.\n"
        "--format json prints a JSON array, one difference a line: {kind, path, property,\n"
        "type, a, b, detail}, kind being added, removed, changed or type.\n"
        "\n"
        "Exit status: 0 the same, 1 different, 2 an input could not be loaded or bad usage.\n"
        "Examples:\n"
        "  kestrel-sc cat examples/assembly.xml --to json -o assembly.json\n"
        "  kestrel-sc diff examples/assembly.xml assembly.json     # the same: no output\n"
        "  kestrel-sc diff --eps 1e-6 before.xml after.xml\n"
        "  kestrel-sc diff --brief before.xml after.xml || echo changed");
    diff->callback([options, &context] {
        context.answers = true;
        if (!(options->diff.eps >= 0)) {
            context.Refuse("--eps must be a number not below 0");
            return;
        }
        LoadOutcome first, second;
        const bool loadedFirst = context.Load(options->first, first);
        const bool loadedSecond = context.Load(options->second, second);
        if (!loadedFirst || !loadedSecond)
            return;
        const std::vector<Difference> differences =
            kestrel::diff::DiffContent(*first.tree, *second.tree, options->diff);
        std::string text;
        if (options->brief) {
            if (!differences.empty())
                text = options->first + " and " + options->second + " differ\n";
        } else if (options->format == "json") {
            text = kestrel::diff::DifferencesToJson(differences);
        } else {
            for (const Difference& difference : differences)
                text += kestrel::diff::FormatDifference(difference) + '\n';
        }
        if (!text.empty() && !context.Write("-", text))
            return;
        context.negative = !differences.empty();
    });
}

}  // namespace kestrelsc
