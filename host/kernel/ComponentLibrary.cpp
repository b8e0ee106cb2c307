#include "kernel/ComponentLibrary.h"

#include <new>
#include <utility>

#if defined(_WIN32)
#include <windows.h>

#include "utilities/FileSystem.h"
#else
#include <dlfcn.h>
#endif

namespace {

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

#if defined(_WIN32)

void* OpenImage(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryW(Utf8ToWideStr(Symbol(path)).c_str());
    if (!module) {
        DWORD code = GetLastError();
        wchar_t* text = nullptr;
        DWORD length =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        std::wstring message = length ? std::wstring(text, length) : std::wstring();
        if (text)
            LocalFree(text);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
            message.pop_back();
        }
        SetError(error,
                 path + ": " +
                     (message.empty() ? "error " + std::to_string(code) : WideToUtf8Str(message)));
    }
    return module;
}

void* FindExport(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseImage(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

#else

void* OpenImage(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        SetError(error, text ? std::string(text) : path + ": cannot be opened");
    }
    return handle;
}

void* FindExport(void* handle, const char* name) {
    return dlsym(handle, name);
}

void CloseImage(void* handle) {
    dlclose(handle);
}

#endif

}  // namespace

SmartPtr<ComponentLibrary> ComponentLibrary::Open(const std::string& path, std::string* error) {
    try {
        if (path.empty()) {
            SetError(error, "no library path given");
            return nullptr;
        }
        void* handle = OpenImage(path, error);
        if (!handle)
            return nullptr;

        auto factory = reinterpret_cast<OrbDllCreateComponentFunction>(
            FindExport(handle, "OrbDllCreateComponent"));
        if (!factory) {
            CloseImage(handle);
            SetError(error, path + ": exports no OrbDllCreateComponent");
            return nullptr;
        }
        SmartPtr<ComponentLibrary> library(new (std::nothrow)
                                               ComponentLibrary(handle, path, factory));
        if (!library) {
            // The handle stays open: the library may already have run code of its own.
            SetError(error, path + ": out of memory");
            return nullptr;
        }
        if (auto init = reinterpret_cast<OrbDllHookFunction>(FindExport(handle, "OrbDllInit"))) {
            init();
        }
        return library;
    } catch (const std::exception& exception) {
        SetError(error, path + ": " + exception.what());
        return nullptr;
    }
}

ComponentLibrary::ComponentLibrary(void* handle, std::string path,
                                   OrbDllCreateComponentFunction factory)
    : handle_(handle), path_(std::move(path)), factory_(factory) {}

// The handle is deliberately never closed: components made by the library may outlive this object.
ComponentLibrary::~ComponentLibrary() = default;

bool ComponentLibrary::CreateComponent(const std::string& type, const std::string& name,
                                       SmartPtr<RefCounted>& component) const {
    return factory_(type, name, nullptr, component);
}

void* ComponentLibrary::FindSymbol(const char* name) const {
    if (!name)
        return nullptr;
    return FindExport(handle_, name);
}

std::string ComponentLibrary::PlatformFileName(const std::string& name) {
#if defined(_WIN32)
    return name + ".dll";
#elif defined(__APPLE__)
    return "lib" + name + ".dylib";
#else
    return "lib" + name + ".so";
#endif
}
