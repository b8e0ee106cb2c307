#include "utilities/FileSystem.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
const std::wstring FileSystem::s_longPathPrefixW = L"\\\\?\\";
#else
const std::wstring FileSystem::s_longPathPrefixW = L"/proc/self/root";
#endif

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at text[i]; advances i past it, or past one byte when invalid.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t extra;
    char32_t c, minimum;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (text.size() - i <= extra) {
        ++i;
        return kReplacement;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += extra + 1;
    return c;
}

}  // namespace

std::wstring Utf8ToWideStr(const Symbol& text) {
    std::string_view bytes = text.view();
    std::wstring out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();)
        AppendWide(out, DecodeUtf8(bytes, i));
    return out;
}

std::string WideToUtf8Str(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
                ++i;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            c = kReplacement;
        AppendUtf8(out, c);
    }
    return out;
}

namespace {

// A std::filesystem::path of a wide path. On POSIX the conversion goes through UTF-8 explicitly:
// the library's own conversion follows the C locale and fails on any non-ASCII character.
std::filesystem::path PathOf(const std::wstring& path) {
#if defined(_WIN32)
    return std::filesystem::path(path);
#else
    return std::filesystem::path(WideToUtf8Str(path));
#endif
}

std::wstring WideOf(const std::filesystem::path& path) {
#if defined(_WIN32)
    return path.wstring();
#else
    return Utf8ToWideStr(Symbol(path.string()));
#endif
}

}  // namespace

std::wstring FileSystem::GenerateLongFilePath(const std::wstring& path, bool absolute) {
    if (path.empty())
        return path;
#if defined(_WIN32)
    // UNC paths first: this std::filesystem takes "\\server\share" for a relative path and would
    // put the current drive before it.
    std::wstring slashed = path;
    for (wchar_t& c : slashed) {
        if (c == L'/')
            c = L'\\';
    }
    if (slashed.rfind(s_longPathPrefixW, 0) == 0)
        return slashed;
    if (slashed.size() > 2 && slashed[0] == L'\\' && slashed[1] == L'\\') {
        std::wstring rest = std::filesystem::path(slashed.substr(2)).lexically_normal().wstring();
        for (wchar_t& c : rest) {
            if (c == L'/')
                c = L'\\';
        }
        return s_longPathPrefixW + L"UNC\\" + rest;
    }
#endif
    std::filesystem::path resolved = PathOf(path);
    if (absolute && resolved.is_relative()) {
        std::error_code error;
        std::filesystem::path full = std::filesystem::absolute(resolved, error);
        if (!error)
            resolved = full;
    }
    resolved = resolved.lexically_normal();
    std::wstring text = WideOf(resolved);
    if (!resolved.is_absolute())
        return text;  // the long form needs a full path
#if defined(_WIN32)
    for (wchar_t& c : text) {
        if (c == L'/')
            c = L'\\';
    }
    if (text.rfind(s_longPathPrefixW, 0) == 0)
        return text;
    if (text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\') {
        return s_longPathPrefixW + L"UNC\\" + text.substr(2);
    }
#endif
    return s_longPathPrefixW + text;
}
