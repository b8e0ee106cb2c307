#include <filesystem>
#include <iostream>
#include <set>
#include <variant>
#include <vector>

#include "Commands.h"
#include "kestrel/gltf/Gltf.h"
#include "kestrel/images/ImageFiles.h"
#include "kestrel/meshes/MeshFiles.h"
#include "kestrel/paths/ContentPath.h"

namespace kestrelsc {

namespace {

// A file name from an element path and a property name: "bicycle.frame.mesh", with characters
// outside [A-Za-z0-9._-] replaced by '_' and a number added when the name is already taken.
std::string FileStem(const SerializedContentElement& element, const Symbol& property,
                     std::set<std::string>& taken) {
    std::string path = kestrel::paths::PathOf(element);
    std::size_t slash = path.find('/');
    std::string stem = (slash == std::string::npos ? std::string() : path.substr(slash + 1));
    for (char& c : stem) {
        if (c == '/')
            c = '.';
    }
    stem += (stem.empty() ? "" : ".") + std::string(property);
    for (char& c : stem) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!safe)
            c = '_';
    }
    if (stem.empty() || stem[0] == '.')
        stem = "_" + stem;
    std::string unique = stem;
    for (int n = 2; !taken.insert(unique).second; ++n)
        unique = stem + "-" + std::to_string(n);
    return unique;
}

}  // namespace

void AddExportCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string input, shapes, images, meshFormat = "ply", gltf, transform;
        bool separateBuffer = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand(
        "export",
        "Write every shape as a mesh file and every image as a PNG file, or the whole tree as a "
        "glTF 2.0 scene");
    command->add_option("FILE", options->input, "Content file or canonical JSON to load")
        ->required();
    auto* shapes =
        command->add_option("--shapes", options->shapes, "Directory for the shapes' mesh files");
    auto* images = command->add_option("--images", options->images, "Directory for the PNG files");
    auto* gltf = command->add_option(
        "--gltf", options->gltf,
        "Write the tree as a glTF 2.0 scene: OUT.glb (binary) or OUT.gltf (buffer embedded)");
    command->add_option("--transform", options->transform,
                        "With --gltf: the location property of this name places each node "
                        "(translation, rotation, uniform scale)");
    command->add_flag("--separate-buffer", options->separateBuffer,
                      "With --gltf OUT.gltf: write the buffer to OUT.bin beside it");
    command->add_option("--mesh-format", options->meshFormat, "ply (binary, default) or obj")
        ->check(CLI::IsMember({"ply", "obj"}));
    command->footer(
        "Files are named after the element path and the property name, e.g.\n"
        "bicycle.frame.mesh.ply; directories are created as needed.\n"
        "Examples:\n"
        "  kestrel-sc export examples/meshes.xml --shapes out/ --mesh-format obj\n"
        "  kestrel-sc export examples/images.xml --images out/\n"
        "  kestrel-sc export examples/meshes.xml --gltf meshes.glb\n"
        "  kestrel-sc export examples/assembly.xml --gltf a.gltf --separate-buffer "
        "--transform placement\n"
        "docs/gltf.md describes the glTF scene.");
    command->callback([options, shapes, images, gltf, &context] {
        if (shapes->count() == 0 && images->count() == 0 && gltf->count() == 0) {
            context.Refuse("export: give --shapes DIR, --images DIR or --gltf FILE");
            return;
        }
        LoadOutcome outcome;
        if (!context.Load(options->input, outcome))
            return;
        if (!options->gltf.empty()) {
            kestrel::gltf::ExportOptions exportOptions;
            exportOptions.transformProperty = options->transform;
            std::vector<std::string> notes;
            if (const kestrel::Error error = kestrel::gltf::WriteGltf(
                    *outcome.tree, options->gltf, exportOptions,
                    options->separateBuffer ? kestrel::gltf::BufferPlacement::Beside
                                            : kestrel::gltf::BufferPlacement::Embedded,
                    &notes)) {
                context.Fail(error.description());
                return;
            }
            for (const std::string& note : notes)
                context.Warn(options->gltf + ": " + note);
            if (!context.quiet)
                std::cout << options->gltf << '\n';
            if (shapes->count() == 0 && images->count() == 0)
                return;
        }
        namespace meshes = kestrel::meshes;
        const meshes::MeshFormat format =
            options->meshFormat == "obj" ? meshes::MeshFormat::Obj : meshes::MeshFormat::Ply;
        std::set<std::string> takenShapes, takenImages;
        std::size_t written = 0;
        auto prepare = [&](const std::string& directory) {
            std::error_code error;
            std::filesystem::create_directories(directory, error);
            if (error)
                context.Fail(directory + ": " + error.message());
            return !error;
        };
        if (!options->shapes.empty() && !prepare(options->shapes))
            return;
        if (!options->images.empty() && !prepare(options->images))
            return;
        auto exportShape = [&](const SerializedContentElement& element, const Symbol& name,
                               const SmartPtr<Shape>& shape) {
            if (options->shapes.empty() || !shape)
                return true;
            const std::string path =
                (std::filesystem::path(options->shapes) /
                 (FileStem(element, name, takenShapes) + "." + options->meshFormat))
                    .string();
            if (const kestrel::Error error =
                    meshes::WriteMeshFile(ExtractMesh(*shape), path, format)) {
                context.Fail(error.description());
                return false;
            }
            if (!context.quiet)
                std::cout << path << '\n';
            ++written;
            return true;
        };
        std::vector<const SerializedContentElement*> pending{outcome.tree.get()};
        while (!pending.empty()) {
            const SerializedContentElement* element = pending.back();
            pending.pop_back();
            for (const auto& property : element->GetProperties()) {
                if (const auto* shape = std::get_if<SmartPtr<Shape>>(&property.value)) {
                    if (!exportShape(*element, property.name, *shape))
                        return;
                } else if (const auto* list =
                               std::get_if<std::vector<SmartPtr<Shape>>>(&property.value)) {
                    for (const SmartPtr<Shape>& entry : *list) {
                        if (!exportShape(*element, property.name, entry))
                            return;
                    }
                } else if (const auto* image = std::get_if<SmartPtr<Image>>(&property.value)) {
                    if (options->images.empty() || !*image)
                        continue;
                    const std::string path =
                        (std::filesystem::path(options->images) /
                         (FileStem(*element, property.name, takenImages) + ".png"))
                            .string();
                    if (const kestrel::Error error = kestrel::images::WritePng(**image, path)) {
                        context.Fail(error.description());
                        return;
                    }
                    if (!context.quiet)
                        std::cout << path << '\n';
                    ++written;
                }
            }
            for (std::size_t i = element->GetChildCount(); i-- > 0;) {
                pending.push_back(element->GetChild(i));
            }
        }
        if (written == 0)
            context.Warn(options->input + ": nothing to export");
    });
}

}  // namespace kestrelsc
