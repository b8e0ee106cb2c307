#include "kernel/Loader.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>

#if defined(_WIN32)
#include <windows.h>

#include "utilities/FileSystem.h"
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

namespace {

std::mutex g_frameworkMutex;
SmartPtr<Loader> g_framework;
// Set once GetLoader made the framework or SetLoader installed one (a null one included).
bool g_frameworkInstalled = false;

#if defined(_WIN32)
constexpr char kPathListSeparator = ';';
#else
constexpr char kPathListSeparator = ':';
#endif

std::vector<std::string> SplitPathList(const char* list) {
    std::vector<std::string> directories;
    if (!list)
        return directories;
    std::string_view rest(list);
    while (!rest.empty()) {
        std::size_t end = rest.find(kPathListSeparator);
        std::string_view entry = rest.substr(0, end);
        if (!entry.empty())
            directories.emplace_back(entry);
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return directories;
}

// Any function of this library will do for asking the system where the library was loaded from.
void KernelAddressProbe() {}

std::string KernelLibraryDirectory() {
    std::filesystem::path library;
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&KernelAddressProbe), &module)) {
        return {};
    }
    std::wstring name(32768, L'\0');
    DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0 || length >= name.size())
        return {};
    name.resize(length);
    library = std::filesystem::path(name);
#else
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&KernelAddressProbe), &info) || !info.dli_fname ||
        !*info.dli_fname) {
        return {};
    }
    library = std::filesystem::path(info.dli_fname);
#endif
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(library, error);
    if (!error)
        library = absolute;
#if defined(_WIN32)
    return WideToUtf8Str(library.parent_path().wstring());
#else
    return library.parent_path().string();
#endif
}

bool IsRegularFile(const std::string& path) {
#if defined(_WIN32)
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(Utf8ToWideStr(Symbol(path))),
                                            error);
#else
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
#endif
}

std::string JoinPath(const std::string& directory, const std::string& file) {
    if (directory.empty())
        return file;
    char last = directory.back();
#if defined(_WIN32)
    if (last == '\\' || last == '/')
        return directory + file;
    return directory + '\\' + file;
#else
    if (last == '/')
        return directory + file;
    return directory + '/' + file;
#endif
}

std::string Describe(const std::vector<std::string>& directories) {
    std::string text;
    for (const std::string& directory : directories) {
        if (!text.empty())
            text += ", ";
        text += directory;
    }
    return text;
}

}  // namespace

Loader::Loader() {
    try {
        searchPath_ = SplitPathList(std::getenv("KESTREL_MODULE_PATH"));
        std::string own = KernelLibraryDirectory();
        if (!own.empty() &&
            std::find(searchPath_.begin(), searchPath_.end(), own) == searchPath_.end()) {
            searchPath_.push_back(std::move(own));
        }
    } catch (const std::exception&) {
        // A loader with a partial search path still works with what AddSearchPath gives it.
    }
}

Loader::~Loader() = default;

SmartPtr<Loader> Loader::GetLoader() {
    std::lock_guard<std::mutex> lock(g_frameworkMutex);
    if (!g_frameworkInstalled) {
        g_framework = new (std::nothrow) Loader();
        g_frameworkInstalled = static_cast<bool>(g_framework);
    }
    return g_framework;
}

SmartPtr<Loader> Loader::SetLoader(SmartPtr<Loader> loader) {
    std::lock_guard<std::mutex> lock(g_frameworkMutex);
    g_frameworkInstalled = true;
    std::swap(g_framework, loader);
    return loader;
}

bool Loader::LoadModule(const Symbol& role, const Symbol& family, const Symbol& format,
                        SmartPtr<RefCounted>& module) {
    std::string failure;
    try {
        std::string name = std::string(family.view()) + "_" + std::string(format.view());
        SmartPtr<ComponentLibrary> library;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (family.empty() || format.empty() ||
                name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) {
                // Names come from content files; never let them reach outside the search path.
                lastError_ = "invalid module name \"" + name + "\"";
                return false;
            }
            std::string fileName = ComponentLibrary::PlatformFileName(name);
            // A candidate that cannot be opened (another architecture, say) does not hide one
            // further down the path; its error is told only when no candidate opens.
            std::string openError;
            for (const std::string& directory : searchPath_) {
                std::string path = JoinPath(directory, fileName);
                auto cached = std::find_if(opened_.begin(), opened_.end(),
                                           [&](const auto& entry) { return entry.first == path; });
                if (cached != opened_.end()) {
                    library = cached->second;
                    break;
                }
                if (!IsRegularFile(path))
                    continue;
                std::string error;
                library = ComponentLibrary::Open(path, &error);
                if (library) {
                    opened_.emplace_back(path, library);
                    break;
                }
                if (openError.empty())
                    openError = std::move(error);
            }
            if (!library) {
                lastError_ = !openError.empty() ? openError
                                                : "no module " + name + " on the search path (" +
                                                      Describe(searchPath_) + ")";
                return false;
            }
        }

        // The factory runs unlocked so that a module may itself ask this loader for modules.
        SmartPtr<RefCounted> component;
        if (library->CreateComponent(std::string(role.view()), std::string(format.view()),
                                     component) &&
            component) {
            module = std::move(component);
            std::lock_guard<std::mutex> lock(mutex_);
            lastError_.clear();
            return true;
        }
        failure = "module " + name + " made no " + std::string(role.view()) + " component " +
                  std::string(format.view());
    } catch (const std::exception& exception) {
        failure = std::string("loading a module failed: ") + exception.what();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_ = std::move(failure);
    return false;
}

void Loader::AddSearchPath(const std::string& directory) {
    if (directory.empty())
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    searchPath_.push_back(directory);
}

std::vector<std::string> Loader::GetSearchPath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return searchPath_;
}

std::string Loader::GetLastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}
