// The long-path rule the loader applies before opening a file.
#pragma once

#include <string>

#include "utilities/FileSystem.h"

namespace serializedContent {

// path itself when it has at most 255 characters or already starts with the long-path prefix
// (an empty prefix counts as present); otherwise its long-path form.
inline std::wstring PathForOpening(const std::wstring& path) {
    const std::wstring& prefix = FileSystem::s_longPathPrefixW;
    if (path.size() > 255 && path.compare(0, prefix.size(), prefix) != 0) {
        return FileSystem::GenerateLongFilePath(path, true);
    }
    return path;
}

}  // namespace serializedContent
