#include "kernel/Anchor.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "internal/UrlScheme.h"

namespace {

using kernel_detail::IsAsciiLetter;
using kernel_detail::SchemeLength;

bool IsSeparator(char c) noexcept {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

bool IsAbsolutePath(std::string_view path) noexcept {
#if defined(_WIN32)
    if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
        return true;
    }
    // UNC ("\\server\share") and rooted paths.
    return !path.empty() && IsSeparator(path[0]);
#else
    return !path.empty() && path[0] == '/';
#endif
}

// Appends a file name to a URL path. '%' is escaped so that decoding the URL gives the name back.
void AppendToUrl(std::string& url, std::string_view name) {
    if (!url.empty() && url.back() != '/')
        url += '/';
    for (char c : name) {
        if (c == '%') {
            url += "%25";
        } else if (IsSeparator(c)) {
            url += '/';
        } else {
            url += c;
        }
    }
}

std::string MakeAbsolute(const std::string& path) {
#if defined(_WIN32)
    std::filesystem::path native(std::u8string(path.begin(), path.end()));
#else
    std::filesystem::path native(path);
#endif
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(native, error);
    // Without a current directory the relative result is the best answer there is.
    if (error)
        return path;
#if defined(_WIN32)
    std::u8string text = absolute.u8string();
    return std::string(text.begin(), text.end());
#else
    return absolute.string();
#endif
}

}  // namespace

Anchor::Anchor(const Symbol& base) : base_(base) {}

Anchor::~Anchor() = default;

bool Anchor::GetURLForFileSource(const Symbol& file, Symbol& address, bool absolute) const {
    if (file.empty())
        return false;
    std::string_view name = file.view();
    if (SchemeLength(name) != 0 || IsAbsolutePath(name)) {
        address = file;
        return true;
    }

    std::string_view base = base_.view();
    std::string result;
    try {
        if (base.empty()) {
            result = name;
        } else if (SchemeLength(base) != 0) {
            result = base;
            AppendToUrl(result, name);
        } else {
            result = base;
            if (!IsSeparator(result.back()))
                result += '/';
            result += name;
        }
        if (absolute && SchemeLength(result) == 0 && !IsAbsolutePath(result)) {
            result = MakeAbsolute(result);
        }
    } catch (const std::exception&) {
        // Only allocation can fail here; the caller's address stays as it was.
        return false;
    }
    address = Symbol(result);
    return true;
}
