#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "kestrel/view/ViewPage.h"

namespace kestrelsc {

void AddViewCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string input, output, transform, data;
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand(
        "view", "Write one self-contained HTML page: the tree as an outline and its meshes in 3-D");
    command->add_option("FILE", options->input, "Content file or canonical JSON to load")
        ->required();
    command->add_option("-o,--output", options->output, "The HTML file to write")->required();
    command->add_option("--transform", options->transform,
                        "The location property of this name places each element's meshes");
    command->add_option("--data", options->data,
                        "Directory holding three/ (default: share/kestrel-sc beside the tool)");
    command->footer(
        "The page opens from disk without network: three.js and the scene (as binary glTF) are\n"
        "inside it. Drag to orbit, scroll to zoom; click an element's name to highlight its\n"
        "meshes.\n"
        "Examples:\n"
        "  kestrel-sc view examples/meshes.xml -o meshes.html\n"
        "  kestrel-sc view scene.xml -o scene.html --transform placement");
    command->callback([options, &context] {
        LoadOutcome outcome;
        if (!context.Load(options->input, outcome))
            return;
        const std::string data =
            options->data.empty() ? kestrel::view::DefaultDataDirectory() : options->data;
        const std::string title = std::filesystem::path(options->input).filename().string();
        kestrel::view::PageResult page =
            kestrel::view::BuildViewPage(*outcome.tree, title, data, options->transform);
        if (!page) {
            context.Fail(page.error.description());
            return;
        }
        for (const std::string& note : page.notes)
            context.Warn(options->input + ": " + note);
        if (context.Write(options->output, page.html) && !context.quiet)
            std::cout << options->output << '\n';
    });
}

}  // namespace kestrelsc
