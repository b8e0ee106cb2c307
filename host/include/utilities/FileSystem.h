// File paths: UTF-8 to wide conversion and the long-path form.
#pragma once

#include <string>

#include "utilities/Export.h"
#include "utilities/Symbol.h"

// Path helpers shared by the host and its modules.
//
// The long-path form lifts the platform's path length limit. On Windows it is the "\\?\" form
// ("\\?\UNC\server\share" for UNC paths). On POSIX systems it is the absolute, lexically normal
// path behind the prefix "/proc/self/root", which names the same file, so that code applying the
// long-path rule behaves alike and can be tested on every platform.
class UTILITIES_API FileSystem {
public:
    // The prefix that marks a path as already being in the long-path form.
    static const std::wstring s_longPathPrefixW;

    // The long-path form of path; with absolute true a relative path is first resolved against
    // the current directory. An empty path stays empty.
    static std::wstring GenerateLongFilePath(const std::wstring& path, bool absolute);
};

// The wide-character form of a UTF-8 text (UTF-16 on Windows, UTF-32 elsewhere); each invalid
// UTF-8 sequence becomes U+FFFD.
UTILITIES_API std::wstring Utf8ToWideStr(const Symbol& text);

// The UTF-8 form of a wide text; unpaired surrogates become U+FFFD.
UTILITIES_API std::string WideToUtf8Str(const std::wstring& text);
