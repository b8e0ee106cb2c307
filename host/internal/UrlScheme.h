// Telling URLs ("file:/x", "http://...") from paths, shared by the anchor and the file fetcher.
#pragma once

#include <cstddef>
#include <string_view>

namespace kernel_detail {

inline bool IsAsciiLetter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool IsSchemeChar(char c) noexcept {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Length of the URL scheme text starts with ("file" in "file:/x"), 0 when it has none. A single
// letter before ':' is a drive ("C:\x"), never a scheme.
inline std::size_t SchemeLength(std::string_view text) noexcept {
    if (text.empty() || !IsAsciiLetter(text[0]))
        return 0;
    std::size_t end = 1;
    while (end < text.size() && IsSchemeChar(text[end]))
        ++end;
    if (end < 2 || end >= text.size() || text[end] != ':')
        return 0;
    return end;
}

}  // namespace kernel_detail
