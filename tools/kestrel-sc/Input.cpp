#include "Input.h"

#include <chrono>
#include <fstream>

#include "ContentJson.h"
#include "FilePath.h"

namespace kestrelsc {

InputForm DetectForm(const std::string& path) {
    if (!toolfiles::StatFile(path).regular)
        return InputForm::Xml;
    std::ifstream in(toolfiles::PathOf(path), std::ios::binary);
    char buffer[4096];
    in.read(buffer, sizeof buffer);
    std::string_view head(buffer, static_cast<std::size_t>(in.gcount()));
    if (head.substr(0, 3) == "\xEF\xBB\xBF")
        head.remove_prefix(3);
    std::size_t first = head.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && head[first] == '{' ? InputForm::Json : InputForm::Xml;
}

namespace {

// The size of a regular file, for progress; 0 when it cannot be told.
std::uint64_t FileSize(const std::string& path) {
    const toolfiles::FileStatus status = toolfiles::StatFile(path);
    return status.error == 0 && status.regular ? status.size : 0;
}

// Reads the whole file in blocks so the meter can follow; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& text, ProgressMeter& meter) {
    std::ifstream in(toolfiles::PathOf(path), std::ios::binary);
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

}  // namespace

int LoadInput(const std::string& modulePath, const std::string& path, LoadOutcome& outcome,
              ProgressMode progress, const ContentModule* opened) {
    if (DetectForm(path) == InputForm::Json) {
        auto started = std::chrono::steady_clock::now();
        ProgressMeter meter(progress, "loading", FileSize(path));
        std::string text;
        if (!ReadFile(path, text, meter)) {
            outcome.error = path + ": cannot be read";
            return 1;
        }
        contentjson::JsonReadResult result = contentjson::ReadContentJson(text);
        meter.Finish(text.size());
        outcome.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!result) {
            outcome.error = path + ": " + result.description();
            return 1;
        }
        outcome.tree = result.tree;
        return 0;
    }
    ContentModule own;
    if (!opened || !*opened) {
        std::string error;
        own = ContentModule::Open(modulePath, error);
        if (!own) {
            outcome.error = "cannot open the serialized-content module: " + error;
            return 2;
        }
        opened = &own;
    }
    ProgressMeter meter(progress, "loading", FileSize(path));
    meter.Tick();
    outcome = opened->Load(path, [&meter] { meter.Tick(); });
    if (outcome)
        meter.Finish(FileSize(path));
    return outcome ? 0 : 1;
}

}  // namespace kestrelsc
