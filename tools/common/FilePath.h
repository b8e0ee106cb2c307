// File names as the tools hold them (UTF-8 strings) turned into paths the system opens.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>

namespace toolfiles {

// The path of a UTF-8 file name. On Windows it goes through UTF-16, so names with any character
// open; a narrow name there would pass through the ANSI code page and lose them.
inline std::filesystem::path PathOf(const std::string& utf8) {
#if defined(_WIN32)
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return std::filesystem::path(utf8);
#endif
}

// The UTF-8 form of a path, the inverse of PathOf.
inline std::string Utf8Of(const std::filesystem::path& path) {
#if defined(_WIN32)
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

// What stat tells of a file, by its UTF-8 name.
struct FileStatus {
    int error = 0;  // errno of a failed stat, 0 when it succeeded
    bool directory = false;
    bool regular = false;
    std::uint64_t size = 0;
};

inline FileStatus StatFile(const std::string& utf8) {
    FileStatus status;
#if defined(_WIN32)
    struct _stat64 info {};
    const int result = ::_wstat64(PathOf(utf8).c_str(), &info);
#else
    struct stat info {};
    const int result = ::stat(utf8.c_str(), &info);
#endif
    if (result != 0) {
        status.error = errno;
        return status;
    }
    status.directory = S_ISDIR(info.st_mode);
    status.regular = S_ISREG(info.st_mode);
    status.size = static_cast<std::uint64_t>(info.st_size);
    return status;
}

}  // namespace toolfiles
