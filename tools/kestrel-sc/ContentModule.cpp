#include "ContentModule.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "FilePath.h"
#include "geometry/XmlElem.h"
#include "kernel/Anchor.h"
#include "kernel/AsyncEvent.h"
#include "kernel/FileParser.h"

namespace kestrelsc {

namespace {

constexpr const char* kModuleName = "serializedContent";

std::filesystem::path ExecutableDirectory() {
#if defined(_WIN32)
    // Long enough for "\\?\" paths; GetModuleFileNameW truncates silently otherwise.
    std::wstring self(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0 || length >= self.size())
        return {};
    self.resize(length);
    return std::filesystem::path(self).parent_path();
#else
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
#endif
}

std::string FindModule() {
    if (const char* named = std::getenv("KESTREL_SC_MODULE"); named && *named)
        return named;
    std::string file = ComponentLibrary::PlatformFileName(kModuleName);
    std::filesystem::path here = ExecutableDirectory();
    for (const std::filesystem::path& candidate : {here / ".." / "lib" / file, here / file}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return toolfiles::Utf8Of(candidate);
    }
    return toolfiles::Utf8Of(here / ".." / "lib" / file);
}

// Why a file the module could not load is bad, in the user's terms: the file system's reason,
// or the XML parser's "line:column: reason". Empty when nothing more is known.
std::string Diagnose(const std::string& file) {
    const toolfiles::FileStatus status = toolfiles::StatFile(file);
    if (status.error != 0)
        return std::strerror(status.error);
    if (status.directory)
        return "is a directory";
    if (!status.regular)
        return "not a regular file";
    std::ifstream in(toolfiles::PathOf(file), std::ios::binary);
    if (!in)
        return std::strerror(errno ? errno : EACCES);
    std::ostringstream text;
    text << in.rdbuf();
    std::string reason;
    XmlElem* root = ParseXml(text.str(), false, &reason);
    if (root) {
        FreeXml(root);
        return {};
    }
    return reason;
}

}  // namespace

ContentModule ContentModule::Open(const std::string& path, std::string& error) {
    ContentModule module;
    std::string where = path.empty() ? FindModule() : path;
    module.library_ = ComponentLibrary::Open(where, &error);
    return module;
}

LoadOutcome ContentModule::Load(const std::string& file,
                                const std::function<void()>& waiting) const {
    LoadOutcome outcome;
    auto started = std::chrono::steady_clock::now();
    SmartPtr<RefCounted> component;
    if (!library_->CreateComponent("loader", "serializedcontent", component) || !component) {
        outcome.error = "the module made no content loader";
        return outcome;
    }
    auto* loader = dynamic_cast<orbloader::SerializedContentParser*>(component.get());
    if (!loader) {
        outcome.error = "the module's loader is not a content loader";
        return outcome;
    }
    SmartPtr<SerializedContentLoaderEvent> event(new SerializedContentLoaderEvent);
    SmartPtr<Anchor> anchor(new Anchor(Symbol::EMPTY));
    loader->LoadSerializedContent(Symbol(file), anchor, event.get());
    while (!event->WaitFor(std::chrono::milliseconds(100))) {
        if (waiting)
            waiting();
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (event->GetStatus() == BaseAsyncEvent::SUCCEEDED) {
        outcome.tree = event->GetSerializedContent();
        if (outcome.tree)
            return outcome;
    }
    std::string message = event->GetErrorMessage();
    if (message.empty())
        message = "the load ended without content";
    std::string reason = Diagnose(file);
    if (reason.empty()) {
        outcome.error = file + ": " + message;
    } else if (std::isdigit(static_cast<unsigned char>(reason[0]))) {
        outcome.error = file + ":" + reason + " (" + message + ")";
    } else {
        outcome.error = file + ": " + reason + " (" + message + ")";
    }
    return outcome;
}

}  // namespace kestrelsc
