// The few POSIX calls the shared tests use, on Windows, so that the same test sources build for
// both. Force-included into every Windows test program by tests/CMakeLists.txt.
#pragma once

#if defined(_WIN32)

#include <direct.h>

// Only the base API, and without the min and max macros that would break std::min.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// A new directory named after pattern, whose trailing "XXXXXX" is replaced; null on failure.
inline char* mkdtemp(char* pattern) {
    const std::size_t length = std::strlen(pattern);
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const unsigned value =
            (GetCurrentProcessId() * 7919u + GetTickCount() + ++counter * 104729u) % 1000000u;
        std::snprintf(pattern + length - 6, 7, "%06u", value);
        if (_mkdir(pattern) == 0)
            return pattern;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

// setenv and unsetenv on the C runtime's environment, which getenv reads.
inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name))
        return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "") == 0 ? 0 : -1;
}

#define popen _popen
#define pclose _pclose

// dlopen and dlsym as the loader tests use them: RTLD_NOLOAD finds a library already loaded.
#define RTLD_NOW 0
#define RTLD_NOLOAD 1
inline void* dlopen(const char* path, int flags) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), size);
    if (flags & RTLD_NOLOAD) {
        HMODULE module = nullptr;
        return GetModuleHandleExW(0, wide.c_str(), &module) ? module : nullptr;
    }
    return LoadLibraryW(wide.c_str());
}
inline void* dlsym(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
inline int dlclose(void* handle) {
    return FreeLibrary(static_cast<HMODULE>(handle)) ? 0 : -1;
}

// dladdr: the file of the library that holds an address.
struct Dl_info {
    const char* dli_fname;
    void* dli_fbase;
    const char* dli_sname;
    void* dli_saddr;
};
inline int dladdr(const void* address, Dl_info* info) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module)) {
        return 0;
    }
    static thread_local char name[MAX_PATH * 4];
    wchar_t wide[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, wide, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    wide[length] = L'\0';
    if (!WideCharToMultiByte(CP_UTF8, 0, wide, -1, name, sizeof name, nullptr, nullptr))
        return 0;
    *info = Dl_info{name, module, nullptr, nullptr};
    return 1;
}

#endif
