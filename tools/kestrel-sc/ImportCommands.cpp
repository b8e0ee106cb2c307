#include <functional>

#include "Commands.h"
#include "kestrel/gltf/Gltf.h"
#include "kestrel/images/ImageFiles.h"
#include "kestrel/meshes/MeshFiles.h"
#include "kestrel/paths/ContentPath.h"

namespace kestrelsc {

namespace {

struct ImportOptions {
    std::string source, into, element, name, output;
};

// Adds one import subcommand: read the source as a property value, add it to the element at
// --element of --into (creating missing elements), and write the result back in its own form.
void AddImport(CLI::App& app, ToolContext& context, const char* command, const char* what,
               const char* example,
               std::function<kestrel::Error(const std::string&, PropertyValue&)> read) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* sub = app.add_subcommand(command, what);
    sub->add_option("SOURCE", options->source, "The file to import")->required();
    sub->add_option("--into", options->into, "Content file or canonical JSON to add it to")
        ->required();
    sub->add_option("--element", options->element,
                    "Path of the element that receives the property, e.g. bicycle/frame "
                    "(missing elements are created)")
        ->required();
    sub->add_option("--name", options->name, "Name of the new property")->required();
    sub->add_option("-o,--output", options->output,
                    "Write the result here instead of replacing --into (atomically)");
    sub->footer(std::string("Example:\n  ") + example);
    sub->callback([options, &context, read] {
        PropertyValue value;
        if (const kestrel::Error error = read(options->source, value)) {
            context.Fail(error.description());
            return;
        }
        LoadOutcome outcome;
        if (!context.Load(options->into, outcome))
            return;
        SerializedContentElement* element =
            kestrel::paths::MakeElement(*outcome.tree, options->element);
        if (element == outcome.tree.get()) {
            context.Refuse("--element must name an element below the top element");
            return;
        }
        element->AddPropertyValue(Symbol(options->name), std::move(value));
        const std::string target = options->output.empty() ? options->into : options->output;
        context.Save(*outcome.tree, target, DetectForm(options->into));
    });
}

void AddImportGltf(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string source, into, element, output, transform = "location";
    };
    auto options = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "import-gltf", "Add the nodes and triangle meshes of a glTF 2.0 file as content elements");
    sub->add_option("SOURCE", options->source, "The .glb or .gltf file to import")->required();
    sub->add_option("--into", options->into, "Content file or canonical JSON to add it to")
        ->required();
    sub->add_option("--element", options->element,
                    "Path of the element that receives the scene's nodes as children, e.g. "
                    "models (missing elements are created)")
        ->required();
    sub->add_option("--transform", options->transform,
                    "Name of the location properties that node transforms become (default "
                    "location; empty: transforms are dropped)");
    sub->add_option("-o,--output", options->output,
                    "Write the result here instead of replacing --into (atomically)");
    sub->footer(
        "Triangle primitives become shape properties (\"mesh\"); other primitives, skins and\n"
        "animations are listed as left out. docs/gltf.md describes the mapping.\n"
        "Examples:\n"
        "  kestrel-sc import-gltf chair.glb --into scene.xml --element furniture\n"
        "  kestrel-sc export scene.xml --gltf s.glb && "
        "kestrel-sc import-gltf s.glb --into empty.xml --element copy -o back.xml");
    sub->callback([options, &context] {
        LoadOutcome outcome;
        if (!context.Load(options->into, outcome))
            return;
        SerializedContentElement* element =
            kestrel::paths::MakeElement(*outcome.tree, options->element);
        kestrel::gltf::ImportOptions importOptions;
        importOptions.transformProperty = options->transform;
        const kestrel::gltf::ImportResult imported =
            kestrel::gltf::ImportGltf(options->source, *element, importOptions);
        if (!imported) {
            context.Fail(imported.error.description());
            return;
        }
        for (const std::string& left : imported.leftOut)
            context.Warn(options->source + ": left out: " + left);
        const std::string target = options->output.empty() ? options->into : options->output;
        context.Save(*outcome.tree, target, DetectForm(options->into));
    });
}

}  // namespace

void AddImportCommands(CLI::App& app, ToolContext& context) {
    AddImport(app, context, "import-mesh", "Add a mesh from an OBJ or PLY file as a shape property",
              "kestrel-sc import-mesh bunny.ply --into scene.xml --element models/bunny "
              "--name mesh",
              [](const std::string& path, PropertyValue& value) {
                  kestrel::meshes::MeshReadResult read = kestrel::meshes::ReadMeshFile(path);
                  if (!read)
                      return read.error;
                  SmartPtr<Shape> shape = MakeMeshShape(read.mesh.positions, read.mesh.indices);
                  if (!shape) {
                      kestrel::Error error;
                      error.code = kestrel::Error::Malformed;
                      error.path = path;
                      error.message = "the mesh cannot be made into a shape";
                      return error;
                  }
                  value = shape;
                  return kestrel::Error{};
              });
    AddImport(app, context, "import-image",
              "Add an image from a PNG, BMP, JPEG or TGA file as an image property",
              "kestrel-sc import-image logo.png --into scene.xml --element branding "
              "--name logo",
              [](const std::string& path, PropertyValue& value) {
                  kestrel::images::ImageReadResult read = kestrel::images::ReadImageFile(path);
                  if (read)
                      value = read.image;
                  return read.error;
              });
    AddImportGltf(app, context);
}

}  // namespace kestrelsc
