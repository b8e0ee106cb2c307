#include "ContentModule.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "geometry/XmlElem.h"
#include "kernel/Anchor.h"
#include "kernel/AsyncEvent.h"
#include "kernel/FileParser.h"

namespace kestrelsc {

namespace {

constexpr const char* kModuleName = "serializedContent";

std::filesystem::path ExecutableDirectory() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

std::string FindModule() {
    if (const char* named = std::getenv("KESTREL_SC_MODULE"); named && *named)
        return named;
    std::string file = ComponentLibrary::PlatformFileName(kModuleName);
    std::filesystem::path here = ExecutableDirectory();
    for (const std::filesystem::path& candidate : {here / ".." / "lib" / file, here / file}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    return (here / ".." / "lib" / file).string();
}

// Why a file the module could not load is bad, in the user's terms: the file system's reason,
// or the XML parser's "line:column: reason". Empty when nothing more is known.
std::string Diagnose(const std::string& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return "is a directory";
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    std::ifstream in(file, std::ios::binary);
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
