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

double SecondsSince(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

std::string DescribeLoadError(const kestrel::Error& error) {
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
    if (error.moduleMessage.empty())
        return error.description();
    return error.description() + " (" + error.moduleMessage + ")";
}

kestrel::ModuleResult OpenToolModule(const std::string& path) {
    kestrel::ModuleResult opened = kestrel::OpenModule(path.empty() ? FindModule() : path);
    if (!opened) {
        opened.error.message =
            "cannot open the serialized-content module: " + opened.error.moduleMessage;
    }
    return opened;
}

LoadOutcome LoadInput(const std::string& modulePath, const std::string& path, ProgressMode progress,
                      const kestrel::Module* opened) {
    LoadOutcome outcome;
    if (DetectForm(path) == InputForm::Json) {
        auto started = std::chrono::steady_clock::now();
        ProgressMeter meter(progress, "loading", files::StatFile(path).RegularSize());
        std::string text;
        if (!ReadFile(path, text, meter)) {
            outcome.error.code = kestrel::Error::Unreadable;
            outcome.error.path = path;
            outcome.error.message = "cannot be read";
            return outcome;
        }
        kestrel::LoadResult result = kestrel::json::ReadContentJson(text);
        meter.Finish(text.size());
        outcome.seconds = SecondsSince(started);
        outcome.tree = std::move(result.tree);
        outcome.error = std::move(result.error);
        outcome.error.path = path;
        return outcome;
    }
    kestrel::ModuleResult own;
    if (!opened || !*opened) {
        own = OpenToolModule(modulePath);
        if (!own) {
            outcome.error = std::move(own.error);
            return outcome;
        }
        opened = &own.module;
    }
    ProgressMeter meter(progress, "loading", files::StatFile(path).RegularSize());
    meter.Tick();
    kestrel::LoadOptions options;
    options.waiting = [&meter] { meter.Tick(); };
    const auto started = std::chrono::steady_clock::now();
    kestrel::LoadResult loaded = opened->Load(path, options);
    outcome.seconds = SecondsSince(started);
    if (!loaded) {
        outcome.error = std::move(loaded.error);
        return outcome;
    }
    outcome.tree = std::move(loaded.tree);
    meter.Finish(files::StatFile(path).RegularSize());
    return outcome;
}

}  // namespace kestrelsc
