#include <filesystem>
#include <map>

#include "Commands.h"
#include "Parallel.h"

namespace kestrelsc {

namespace {

namespace fs = std::filesystem;

struct CatOptions {
    std::vector<std::string> inputs;
    std::string output, format = "xml";
    int indent = 2;
    bool compact = false;
    unsigned jobs = 0;
};

// Whether -o names a directory to write into rather than a file: it ends in '/' or is one.
bool NamesDirectory(const std::string& output) {
    if (output.empty() || output == "-")
        return false;
    std::error_code error;
    return output.back() == '/' || fs::is_directory(output, error);
}

// Loads every input and writes each into the directory options.output, in parallel; messages
// come in the order of the inputs.
void CatIntoDirectory(const CatOptions& options, ToolContext& context) {
    const InputForm form = options.format == "json" ? InputForm::Json : InputForm::Xml;
    const std::string extension = form == InputForm::Json ? ".json" : ".xml";
    if (options.output.empty() || options.output == "-") {
        context.Refuse("cat: several inputs are written into a directory; name it with -o DIR");
        return;
    }

    // Every output name first, so that a clash writes nothing at all.
    std::vector<std::string> outputs(options.inputs.size());
    std::map<std::string, std::size_t> taken;
    bool refused = false;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& input = options.inputs[i];
        fs::path name = fs::path(input).filename();
        if (name.empty() || name == "." || name == "..") {
            context.Refuse(input + ": no file name to name its output after");
            refused = true;
            continue;
        }
        name.replace_extension(extension);
        outputs[i] = (fs::path(options.output) / name).string();
        auto [first, added] = taken.emplace(name.string(), i);
        if (!added) {
            context.Refuse(options.inputs[first->second] + " and " + input +
                           " would both be written to " + outputs[i]);
            refused = true;
        }
    }
    if (refused)
        return;

    kestrel::Module module;
    for (const std::string& input : options.inputs) {
        if (DetectForm(input) == InputForm::Xml) {
            kestrel::ModuleResult opened = OpenToolModule(context.modulePath);
            if (!opened) {
                context.Fail(opened.error);
                return;
            }
            module = opened.module;
            break;
        }
    }

    std::error_code error;
    const bool exists = fs::exists(options.output, error);
    if (exists && !fs::is_directory(options.output, error)) {
        context.Refuse(options.output + ": not a directory; several inputs are written into one");
        return;
    }
    if (!exists && !fs::create_directories(options.output, error) && error) {
        context.Refuse(options.output + ": cannot create the directory: " + error.message());
        return;
    }

    const unsigned jobs = options.jobs ? options.jobs : DefaultJobs();
    // Bars of files loaded at once would overwrite each other's line.
    const ToolContext worker = context.ForWorker(jobs == 1);
    const int indent = options.compact ? 0 : options.indent;
    RunInOrder(
        options.inputs.size(), jobs,
        [&](std::size_t index) {
            ToolContext mine = worker;
            LoadOutcome outcome;
            if (mine.Load(options.inputs[index], outcome, &module))
                mine.Save(*outcome.tree, outputs[index], form, indent);
            return mine;
        },
        [&](std::size_t, ToolContext& done) { context.Merge(done); });
}

}  // namespace

void AddCatCommand(CLI::App& app, ToolContext& context) {
    auto options = std::make_shared<CatOptions>();
    CLI::App* cat = app.add_subcommand(
        "cat", "Write the loaded content as a content file (XML) or canonical JSON");
    cat->add_option("FILE", options->inputs, "Content files or canonical JSON to load")->required();
    cat->add_option("-o,--output", options->output,
                    "Output file, replaced atomically (default: standard output); or the "
                    "directory for several inputs (see below)");
    cat->add_option("--to", options->format, "Output form: xml (default) or json")
        ->check(CLI::IsMember({"xml", "json"}));
    auto* indent = cat->add_option("--indent", options->indent, "JSON: spaces per level")
                       ->check(CLI::Range(0, 16));
    cat->add_flag("--compact", options->compact, "JSON: everything on one line")->excludes(indent);
    AddJobsOption(*cat, options->jobs, "Files loaded and written");
    cat->footer(
        "Several inputs are written into the directory -o names (created if missing), each\n"
        "named after its input with the extension of --to: models/a.xml becomes DIR/a.json\n"
        "with --to json. So is one input when -o ends in '/' or names a directory. Inputs\n"
        "that would be written to the same name are refused before anything is written.\n"
        "Files are loaded and written in parallel (see --jobs); messages come in the order of\n"
        "the inputs, and one input that fails does not stop the others (the exit status is\n"
        "then 1). Progress bars are drawn only with -j 1.\n"
        "\n"
        "Examples:\n"
        "  kestrel-sc cat examples/properties.xml --to json -o properties.json\n"
        "  kestrel-sc cat properties.json -o properties.xml\n"
        "  kestrel-sc cat examples/properties.xml      # rewrite in the writer's own layout\n"
        "  kestrel-sc cat examples/*.xml --to json -o json/   # json/assembly.json, ...\n"
        "  kestrel-sc cat -j 2 json/*.json -o xml/");
    cat->callback([options, &context] {
        if (options->inputs.size() > 1 || NamesDirectory(options->output)) {
            CatIntoDirectory(*options, context);
            return;
        }
        LoadOutcome outcome;
        if (!context.Load(options->inputs.front(), outcome))
            return;
        const InputForm form = options->format == "json" ? InputForm::Json : InputForm::Xml;
        context.Save(*outcome.tree, options->output, form, options->compact ? 0 : options->indent);
    });
}

}  // namespace kestrelsc
