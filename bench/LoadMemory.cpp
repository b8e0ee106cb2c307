// kestrel-bench-load: loads one content file through the module as the tool does and reports
// the process's peak resident memory against the file's size. Run it in a fresh process per
// file: the peak only ever grows.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "ModuleLoad.h"

namespace {

std::uint64_t PeakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

// Escapes a file name for a JSON string.
std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--json") {
            json = true;
        } else if (file.empty() && !argument.starts_with("-")) {
            file = argument;
        } else {
            std::fprintf(stderr, "usage: kestrel-bench-load [--json] FILE\n");
            return 2;
        }
    }
    if (file.empty()) {
        std::fprintf(stderr, "usage: kestrel-bench-load [--json] FILE\n");
        return 2;
    }
    std::string error;
    const kestrelbench::ModuleLoader module = kestrelbench::ModuleLoader::Open(error);
    if (!module) {
        std::fprintf(stderr, "kestrel-bench-load: cannot open the module: %s\n", error.c_str());
        return 1;
    }
    std::error_code failure;
    const std::uint64_t fileBytes = std::filesystem::file_size(file, failure);
    if (failure) {
        std::fprintf(stderr, "kestrel-bench-load: %s: %s\n", file.c_str(),
                     failure.message().c_str());
        return 1;
    }
    const std::uint64_t before = PeakResidentBytes();
    const auto started = std::chrono::steady_clock::now();
    SmartPtr<SerializedContentElement> tree = module.Load(file, error);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!tree) {
        std::fprintf(stderr, "kestrel-bench-load: %s\n", error.c_str());
        return 1;
    }
    const std::uint64_t peak = PeakResidentBytes();
    const double ratio = static_cast<double>(peak) / static_cast<double>(fileBytes);
    if (json) {
        std::printf(
            "{\"file\": %s, \"file_bytes\": %llu, \"rss_before_load_bytes\": %llu, "
            "\"peak_rss_bytes\": %llu, \"peak_rss_over_file\": %.4f, \"load_seconds\": %.6f}\n",
            JsonString(file).c_str(), static_cast<unsigned long long>(fileBytes),
            static_cast<unsigned long long>(before), static_cast<unsigned long long>(peak), ratio,
            seconds);
    } else {
        std::printf(
            "%s: %.1f MB, peak RSS %.1f MB = %.2f x the file (%.1f MB before the load), "
            "loaded in %.3f s\n",
            file.c_str(), static_cast<double>(fileBytes) / 1e6, static_cast<double>(peak) / 1e6,
            ratio, static_cast<double>(before) / 1e6, seconds);
    }
    return 0;
}
