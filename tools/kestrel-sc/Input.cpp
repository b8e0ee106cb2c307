#include "Input.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kestrel/files/FilePath.h"
#include "kestrel/json/ContentJson.h"

namespace kestrelsc {

namespace files = kestrel::files;

InputForm DetectForm(const std::string& path) {
    if (!files::StatFile(path).regular)
        return InputForm::Xml;
    std::ifstream in(files::PathOf(path), std::ios::binary);
    char buffer[4096];
    in.read(buffer, sizeof buffer);
    std::string_view head(buffer, static_cast<std::size_t>(in.gcount()));
    if (head.substr(0, 3) == "\xEF\xBB\xBF")
        head.remove_prefix(3);
    std::size_t first = head.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && head[first] == '{' ? InputForm::Json : InputForm::Xml;
}

namespace {

std::string FindModule() {
    if (const char* named = std::getenv("KESTREL_SC_MODULE"); named && *named)
        return named;
    const std::string file = kestrel::ModuleFileName();
    const std::filesystem::path here = files::ExecutableDirectory();
    for (const std::filesystem::path& candidate : {here / ".." / "lib" / file, here / file}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return files::Utf8Of(candidate);
    }
    return files::Utf8Of(here / ".." / "lib" / file);
}

// Reads the whole file in blocks so the meter can follow; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& text, ProgressMeter& meter) {
    std::ifstream in(files::PathOf(path), std::ios::binary);
    if (!in)
        return false;
    constexpr std::size_t kBlock = 1 << 20;
    std::size_t done = 0;
    for (;;) {
        text.resize(done + kBlock);
        in.read(text.data() + done, static_cast<std::streamsize>(kBlock));
        done += static_cast<std::size_t>(in.gcount());
        meter.Update(done);
        if (!in)
            break;
    }
    text.resize(done);
    return in.eof() && !in.bad();
}

// A failed load as the tool reports it: the file, where in it, why, and in parentheses what the
// module said.
std::string Describe(const kestrel::Error& error) {
    switch (error.code) {
        case kestrel::Error::ModuleUnavailable:
        case kestrel::Error::Cancelled:
            return error.message;
        case kestrel::Error::LoadFailed:
        case kestrel::Error::Internal:
            return error.path + ": " + error.message;
        default:
            break;
    }
    std::string where = error.path;
    if (error.line != 0)
        where += ':' + std::to_string(error.line) + ':' + std::to_string(error.column);
    return where + ": " + error.message + " (" + error.moduleMessage + ")";
}

double SecondsSince(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

kestrel::Module OpenToolModule(const std::string& path, std::string& error) {
    kestrel::ModuleResult opened = kestrel::OpenModule(path.empty() ? FindModule() : path);
    if (!opened)
        error = opened.error.moduleMessage;
    return opened.module;
}

int LoadInput(const std::string& modulePath, const std::string& path, LoadOutcome& outcome,
              ProgressMode progress, const kestrel::Module* opened) {
    if (DetectForm(path) == InputForm::Json) {
        auto started = std::chrono::steady_clock::now();
        ProgressMeter meter(progress, "loading", files::StatFile(path).RegularSize());
        std::string text;
        if (!ReadFile(path, text, meter)) {
            outcome.error = path + ": cannot be read";
            return 1;
        }
        kestrel::json::JsonReadResult result = kestrel::json::ReadContentJson(text);
        meter.Finish(text.size());
        outcome.seconds = SecondsSince(started);
        if (!result) {
            outcome.error = path + ": " + result.description();
            return 1;
        }
        outcome.tree = result.tree;
        return 0;
    }
    kestrel::Module own;
    if (!opened || !*opened) {
        std::string error;
        own = OpenToolModule(modulePath, error);
        if (!own) {
            outcome.error = "cannot open the serialized-content module: " + error;
            return 2;
        }
        opened = &own;
    }
    ProgressMeter meter(progress, "loading", files::StatFile(path).RegularSize());
    meter.Tick();
    kestrel::LoadOptions options;
    options.waiting = [&meter] { meter.Tick(); };
    const auto started = std::chrono::steady_clock::now();
    kestrel::LoadResult loaded = opened->Load(path, options);
    outcome.seconds = SecondsSince(started);
    if (!loaded) {
        outcome.error = Describe(loaded.error);
        return 1;
    }
    outcome.tree = std::move(loaded.tree);
    meter.Finish(files::StatFile(path).RegularSize());
    return 0;
}

}  // namespace kestrelsc
