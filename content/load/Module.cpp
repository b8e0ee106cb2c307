#include "kestrel/load/Module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <chrono>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "MakeError.h"
#include "geometry/XmlElem.h"
#include "kernel/Anchor.h"
#include "kernel/AsyncEvent.h"
#include "kernel/FileParser.h"
#include "kestrel/files/FilePath.h"
#include "load/Progress.h"

namespace kestrel {

namespace {

using load::Report;

constexpr const char* kModuleName = "serializedContent";

// The directory of this library, where the package puts the module too.
std::string OwnDirectory() {
#if defined(_WIN32)
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&OwnDirectory), &self)) {
        return {};
    }
    std::wstring name(32768, L'\0');
    const DWORD length = GetModuleFileNameW(self, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0 || length >= name.size())
        return {};
    name.resize(length);
    return files::Utf8Of(std::filesystem::path(name).parent_path());
#else
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) || !info.dli_fname ||
        !*info.dli_fname) {
        return {};
    }
    std::error_code error;
    std::filesystem::path library = std::filesystem::absolute(info.dli_fname, error);
    return error ? std::string() : library.parent_path().string();
#endif
}

// Opened modules by path. Libraries stay loaded for the whole process anyway, so keeping them
// open spares a dlopen and an OrbDllInit per load. Never destroyed: loads may run at exit.
struct ModuleCache {
    std::mutex mutex;
    std::vector<std::pair<std::string, SmartPtr<ComponentLibrary>>> opened;
};

// Why the module could not load path, in the file system's or the XML parser's terms; None
// when the file looks fine (the module then had a reason of its own).
Error Diagnose(const std::string& path) {
    std::string text;
    if (Error unreadable = files::ReadRegularFile(path, text))
        return unreadable;
    const XmlParseResult parsed = ParseXmlDocument(text, false);
    return parsed ? Error{} : MalformedXml(parsed, path);
}

// Loads path through module once the progress callback has heard (0, total).
LoadResult LoadThrough(ComponentLibrary& module, const std::string& path,
                       const LoadOptions& options, std::uint64_t total) {
    LoadResult result;
    SmartPtr<RefCounted> component;
    if (!module.CreateComponent("loader", "serializedcontent", component) || !component) {
        result.error = MakeError(Error::ModuleUnavailable, "the module made no content loader",
                                 module.GetPath());
        return result;
    }
    auto* loader = dynamic_cast<orbloader::SerializedContentParser*>(component.get());
    if (!loader) {
        result.error = MakeError(Error::ModuleUnavailable,
                                 "the module's loader is not a content loader", module.GetPath());
        return result;
    }
    SmartPtr<SerializedContentLoaderEvent> event(new SerializedContentLoaderEvent);
    SmartPtr<Anchor> anchor(new Anchor(Symbol::EMPTY));
    loader->LoadSerializedContent(Symbol(path), anchor, event.get());
    if (options.waiting) {
        while (!event->WaitFor(std::chrono::milliseconds(100)))
            options.waiting();
    } else {
        event->Wait();
    }
    if (event->GetStatus() == BaseAsyncEvent::SUCCEEDED && event->GetSerializedContent()) {
        if (!Report(options.progress, total, total)) {
            result.error = MakeError(Error::Cancelled, "cancelled", path);
            return result;
        }
        result.tree = event->GetSerializedContent();
        return result;
    }
    // The module only says "Error loading orbifile."; look again to tell the caller why.
    std::string said = event->GetErrorMessage();
    if (said.empty())
        said = "the load ended without content";
    result.error = Diagnose(path);
    if (!result.error)
        result.error = MakeError(Error::LoadFailed, said, path);
    result.error.moduleMessage = std::move(said);
    return result;
}

}  // namespace

struct ModuleOpener {
    static Module Make(SmartPtr<ComponentLibrary> library) { return Module(std::move(library)); }
    static ComponentLibrary& Library(const Module& module) { return *module.library_; }
};

const std::string& Module::path() const {
    return library_->GetPath();
}

LoadResult Module::Load(const std::string& path, const LoadOptions& options) const {
    try {
        if (!library_) {
            LoadResult result;
            result.error = MakeError(Error::ModuleUnavailable, "the module is not open", path);
            return result;
        }
        const std::uint64_t total = files::StatFile(path).RegularSize();
        if (!Report(options.progress, 0, total)) {
            LoadResult result;
            result.error = MakeError(Error::Cancelled, "cancelled", path);
            return result;
        }
        return LoadThrough(*library_, path, options, total);
    } catch (...) {
        LoadResult result;
        result.error = FromException(path);
        return result;
    }
}

ModuleResult OpenModule(const std::string& modulePath) {
    ModuleResult result;
    std::string path = modulePath;
    if (path.empty()) {
        const std::string directory = OwnDirectory();
        if (directory.empty()) {
            result.error = MakeError(Error::ModuleUnavailable,
                                     "cannot tell where the content library lives; give "
                                     "LoadOptions::modulePath");
            return result;
        }
        path = files::Utf8Of(files::PathOf(directory) / ModuleFileName());
    }
    static ModuleCache* cache = new ModuleCache;
    std::lock_guard<std::mutex> lock(cache->mutex);
    for (const auto& [openedPath, library] : cache->opened) {
        if (openedPath == path) {
            result.module = ModuleOpener::Make(library);
            return result;
        }
    }
    std::string reason;
    SmartPtr<ComponentLibrary> library = ComponentLibrary::Open(path, &reason);
    if (!library) {
        result.error =
            MakeError(Error::ModuleUnavailable, "cannot open the module: " + reason, path);
        result.error.moduleMessage = std::move(reason);
        return result;
    }
    cache->opened.emplace_back(path, library);
    result.module = ModuleOpener::Make(std::move(library));
    return result;
}

LoadResult Load(const std::string& path, const LoadOptions& options) {
    try {
        LoadResult result;
        if (path.empty()) {
            result.error = MakeError(Error::InvalidArgument, "no file name given");
            return result;
        }
        const std::uint64_t total = files::StatFile(path).RegularSize();
        if (!Report(options.progress, 0, total)) {
            result.error = MakeError(Error::Cancelled, "cancelled", path);
            return result;
        }
        ModuleResult opened = OpenModule(options.modulePath);
        if (!opened) {
            result.error = std::move(opened.error);
            return result;
        }
        return LoadThrough(ModuleOpener::Library(opened.module), path, options, total);
    } catch (...) {
        LoadResult result;
        result.error = FromException(path);
        return result;
    }
}

std::string ModuleFileName() {
    return ComponentLibrary::PlatformFileName(kModuleName);
}

}  // namespace kestrel
