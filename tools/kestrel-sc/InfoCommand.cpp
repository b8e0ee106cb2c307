#include <array>
#include <map>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "kestrel/files/FilePath.h"
#include "kestrel/meshes/MeshFiles.h"
#include "kestrel/values/ValueFormat.h"
#include "kestrel/values/ValueTraits.h"

namespace kestrelsc {

namespace {

// What a content tree holds, counted.
struct Summary {
    std::uint64_t elements = 0;
    std::uint64_t depth = 0;
    std::uint64_t properties = 0;
    std::map<std::string, std::uint64_t> byType;  // filled from byIndex at the end
    // Counted by the type's index in PropertyValue: a name and a map lookup per property would
    // cost more than the rest of the count.
    std::array<std::uint64_t, std::variant_size_v<PropertyValue>> byIndex{};
    std::uint64_t arrayItems = 0;
    std::uint64_t shapes = 0, vertices = 0, triangles = 0;
    std::vector<std::string> images;  // "48 x 24 rgba8" each
    std::uint64_t payloadBytes = 0;   // vertex and triangle records, image pixels

    void CountShape(const SmartPtr<Shape>& shape) {
        if (!shape)
            return;
        const MeshCounts mesh = CountMesh(*shape);
        ++shapes;
        vertices += mesh.vertices;
        triangles += mesh.indices / 3;
        payloadBytes += (3 * mesh.vertices + mesh.indices) * 4;
    }

    void Add(const PropertyValue& value) {
        ++properties;
        ++byIndex[value.index()];
        std::visit(
            [this]<class T>(const T& held) {
                if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
                    CountShape(held);
                } else if constexpr (std::is_same_v<T, std::vector<SmartPtr<Shape>>>) {
                    arrayItems += held.size();
                    for (const SmartPtr<Shape>& shape : held)
                        CountShape(shape);
                } else if constexpr (std::is_same_v<T, SmartPtr<Image>>) {
                    if (!held)
                        return;
                    images.push_back(kestrel::values::ImageSummary(*held));
                    payloadBytes += held->GetPixelBytes();
                } else if constexpr (requires {
                                         held.size();
                                         held.begin();
                                     } &&
                                     !std::is_same_v<T, Symbol>) {
                    arrayItems += held.size();
                }
            },
            value);
    }
};

Summary Summarize(const SerializedContentElement& top) {
    Summary summary;
    std::vector<std::pair<const SerializedContentElement*, std::uint64_t>> pending{{&top, 0}};
    while (!pending.empty()) {
        auto [element, depth] = pending.back();
        pending.pop_back();
        ++summary.elements;
        summary.depth = std::max(summary.depth, depth);
        for (const auto& property : element->GetProperties())
            summary.Add(property.value);
        for (std::size_t i = 0; i < element->GetChildCount(); ++i) {
            pending.emplace_back(element->GetChild(i), depth + 1);
        }
    }
    for (std::size_t i = 0; i < summary.byIndex.size(); ++i) {
        if (summary.byIndex[i] != 0)
            summary.byType[std::string(kestrel::values::kTypeTable[i].typeName)] +=
                summary.byIndex[i];
    }
    return summary;
}

std::string Bytes(std::uint64_t bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4)
        value /= 1024, ++unit;
    char text[32];
    std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

}  // namespace

void AddInfoCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::string input;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* info = app.add_subcommand(
        "info", "Count what a content file holds: elements, properties by type, meshes, images");
    info->add_option("FILE", options->input, "Content file or canonical JSON to load")->required();
    info->add_flag("--json", options->json, "Print the figures as a JSON object");
    info->footer(
        "The top element counts as an element; depth 0 is the top element. Payload bytes are\n"
        "the vertex and triangle records of shapes and the pixels of images.\n"
        "Examples:\n"
        "  kestrel-sc info examples/meshes.xml\n"
        "  kestrel-sc info examples/showcase.xml --json");
    info->callback([options, &context] {
        LoadOutcome outcome;
        if (!context.Load(options->input, outcome))
            return;
        const Summary s = Summarize(*outcome.tree);
        const kestrel::files::FileStatus file = kestrel::files::StatFile(options->input);
        const std::uint64_t fileBytes = file.error == 0 ? file.size : 0;
        if (options->json) {
            nlohmann::ordered_json json;
            json["file"] = options->input;
            json["fileBytes"] = fileBytes;
            json["loadSeconds"] = outcome.seconds;
            json["elements"] = s.elements;
            json["depth"] = s.depth;
            json["properties"] = s.properties;
            json["propertiesByType"] = s.byType;
            json["arrayItems"] = s.arrayItems;
            json["shapes"] = s.shapes;
            json["vertices"] = s.vertices;
            json["triangles"] = s.triangles;
            json["images"] = s.images;
            json["payloadBytes"] = s.payloadBytes;
            context.Write(
                "-", json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
            return;
        }
        std::string out;
        out += "file:        " + options->input + " (" + Bytes(fileBytes) + ")\n";
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f s", outcome.seconds);
        out += "load time:   " + std::string(seconds) + "\n";
        out += "elements:    " + std::to_string(s.elements) + " (depth " + std::to_string(s.depth) +
               ")\n";
        out += "properties:  " + std::to_string(s.properties) + "\n";
        for (const auto& [type, count] : s.byType) {
            out += "  " + type + std::string(type.size() < 12 ? 12 - type.size() : 1, ' ') +
                   std::to_string(count) + "\n";
        }
        out += "array items: " + std::to_string(s.arrayItems) + "\n";
        out += "shapes:      " + std::to_string(s.shapes) + " (" + std::to_string(s.vertices) +
               " vertices, " + std::to_string(s.triangles) + " triangles)\n";
        out += "images:      " + std::to_string(s.images.size());
        for (std::size_t i = 0; i < s.images.size(); ++i)
            out += (i ? ", " : " (") + s.images[i];
        out += s.images.empty() ? "\n" : ")\n";
        out += "payload:     " + Bytes(s.payloadBytes) + "\n";
        context.Write("-", out);
    });
}

}  // namespace kestrelsc
