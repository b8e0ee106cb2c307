// kestrel-gen: writes a generated content document of about a given size, through the module's
// XmlWriter exactly as `kestrel-sc cat` writes the trees it loads.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "DocumentGenerator.h"
#include "kestrel/load/Content.h"

int main(int argc, char** argv) {
    std::string kindName, sizeText, output;
    std::uint64_t seed = 1;
    bool quiet = false;
    CLI::App app("Writes a deterministic content document of about the given size.");
    app.add_option("--kind", kindName, "What the document holds: property, mesh or image")
        ->required()
        ->check(CLI::IsMember({"property", "mesh", "image"}));
    app.add_option("--size", sizeText, "About how large: 100MB, 64KiB, 1GB, ...")->required();
    app.add_option("--seed", seed, "Seed of the generator (default 1)");
    app.add_option("-o,--output", output, "The file to write, replaced atomically")->required();
    app.add_flag("-q,--quiet", quiet, "Print nothing on success");
    app.footer(
        "Examples:\n"
        "  kestrel-gen --kind property --size 4MB -o property-4MB.xml\n"
        "  kestrel-gen --kind mesh --size 1GB --seed 7 -o mesh.xml");
    CLI11_PARSE(app, argc, argv);

    const auto size = kestrelbench::ParseSize(sizeText);
    if (!size) {
        std::cerr << "kestrel-gen: --size " << sizeText << ": not a size such as 4MB or 64KiB\n";
        return 2;
    }
    const kestrelbench::DocumentKind kind = *kestrelbench::ParseKind(kindName);
    const auto started = std::chrono::steady_clock::now();
    kestrelbench::GeneratedDocument document;
    try {
        document = kestrelbench::GenerateDocument(kind, *size, seed);
    } catch (const std::bad_alloc&) {
        std::cerr << "kestrel-gen: out of memory while generating the document\n";
        return 1;
    }
    if (kestrel::Error error = kestrel::Save(*document.tree, output)) {
        std::cerr << "kestrel-gen: " << error.description() << '\n';
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::error_code failure;
    const auto written = std::filesystem::file_size(output, failure);
    if (!quiet) {
        std::fprintf(
            stderr,
            "%s: %s %s seed %llu: %llu bytes (%.1f%% of the size asked for, estimate %llu), %llu "
            "elements, %llu properties, %llu triangles, %llu pixels, %.1f s\n",
            output.c_str(), kindName.c_str(), sizeText.c_str(),
            static_cast<unsigned long long>(seed), static_cast<unsigned long long>(written),
            100.0 * static_cast<double>(written) / static_cast<double>(*size),
            static_cast<unsigned long long>(document.estimatedBytes),
            static_cast<unsigned long long>(document.elements),
            static_cast<unsigned long long>(document.properties),
            static_cast<unsigned long long>(document.triangles),
            static_cast<unsigned long long>(document.pixels), seconds);
    }
    return 0;
}
