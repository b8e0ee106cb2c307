// File names as programs hold them (UTF-8 strings) turned into paths the system opens, and the
// few facts of files that loading and writing need.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "kestrel/Error.h"
#include "kestrel/Export.h"

namespace kestrel::files {

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
    std::uint32_t permissions = 0;  // the mode's permission bits (07777)

    // The size of a regular file, as progress reports count it; 0 for anything else.
    std::uint64_t RegularSize() const noexcept { return error == 0 && regular ? size : 0; }
};

// Follows symbolic links, as stat does; on Windows through the wide name.
KESTREL_CONTENT_API FileStatus StatFile(const std::string& utf8);

// Reads the whole of a regular file into text. Anything else is refused before it is read (a
// FIFO or a device could block or never end): NotRegularFile ("is a directory", "not a regular
// file"), or NotFound or Unreadable with the system's words.
KESTREL_CONTENT_API Error ReadRegularFile(const std::string& utf8, std::string& text);

// The directory of the running program; empty when it cannot be told.
KESTREL_CONTENT_API std::filesystem::path ExecutableDirectory();

}  // namespace kestrel::files
