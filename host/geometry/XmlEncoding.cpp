// The encodings of XML text: found from the byte order mark, the first bytes and the declaration,
// and converted to UTF-8, which is all the reader reads.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "XmlTextReader.h"
#include "utilities/LargeBuffer.h"
#include "utilities/Utf8.h"

namespace {

unsigned char Byte(std::string_view text, std::size_t at) {
    return at < text.size() ? static_cast<unsigned char>(text[at]) : 0xFFu;
}

bool StartsWithBytes(std::string_view text, std::initializer_list<unsigned char> bytes) {
    std::size_t at = 0;
    for (unsigned char b : bytes) {
        if (at >= text.size() || static_cast<unsigned char>(text[at]) != b)
            return false;
        ++at;
    }
    return true;
}

std::string Lower(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return out;
}

bool OneOf(const std::string& name, std::initializer_list<std::string_view> names) {
    for (std::string_view candidate : names) {
        if (name == candidate)
            return true;
    }
    return false;
}

const char* EncodingTitle(XmlEncoding encoding) {
    switch (encoding) {
        case XmlEncoding::Utf8:
            return "UTF-8";
        case XmlEncoding::Ascii:
            return "US-ASCII";
        case XmlEncoding::Latin1:
            return "ISO-8859-1";
        case XmlEncoding::Utf16Le:
            return "UTF-16 (little-endian)";
        case XmlEncoding::Utf16Be:
            return "UTF-16 (big-endian)";
        case XmlEncoding::Utf32Le:
            return "UTF-32 (little-endian)";
        case XmlEncoding::Utf32Be:
            return "UTF-32 (big-endian)";
    }
    return "?";
}

}  // namespace

void SetFailure(XmlParseResult& result, XmlParseStatus status, std::string_view text,
                std::size_t offset, std::string reason) {
    result.root.reset();
    result.status = status;
    result.offset = std::min(offset, text.size());
    std::tie(result.line, result.column) = PositionCounter(text).At(result.offset);
    result.reason = std::move(reason);
}

namespace {

// The encoding name of an XML declaration at the start of an ASCII-compatible text, and where
// it stands; empty when there is none. The reader checks the declaration's grammar later.
std::string_view DeclaredEncoding(std::string_view text, std::size_t* offset) {
    if (text.substr(0, 5) != "<?xml")
        return {};
    const std::size_t end = text.find("?>");
    const std::string_view declaration = text.substr(0, end);
    const std::size_t encoding = declaration.find("encoding");
    if (encoding == std::string_view::npos)
        return {};
    const std::size_t quote = declaration.find_first_of("\"'", encoding);
    if (quote == std::string_view::npos)
        return {};
    const std::size_t close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string_view::npos)
        return {};
    *offset = quote + 1;
    return declaration.substr(quote + 1, close - quote - 1);
}

enum class Family { Utf8, Ascii, Latin1, Wide, Unknown };

Family FamilyOf(std::string_view name) {
    const std::string lower = Lower(name);
    if (OneOf(lower, {"utf-8", "utf8"}))
        return Family::Utf8;
    if (OneOf(lower, {"us-ascii", "ascii", "iso646-us", "ansi_x3.4-1968"}))
        return Family::Ascii;
    if (OneOf(lower, {"iso-8859-1", "iso_8859-1", "iso8859-1", "latin1", "latin-1", "l1",
                      "iso-ir-100", "cp819", "ibm819", "csisolatin1"}))
        return Family::Latin1;
    if (OneOf(lower, {"utf-16", "utf-16le", "utf-16be", "utf-32", "utf-32le", "utf-32be",
                      "iso-10646-ucs-2", "iso-10646-ucs-4", "ucs-2", "ucs-4"}))
        return Family::Wide;
    return Family::Unknown;
}

// Converts UTF-16 or UTF-32 code units to UTF-8. Gives false, with out holding what came before,
// on a unit that does not make a character.
bool ConvertWide(std::string_view text, XmlEncoding encoding, std::string& out,
                 std::string& reason) {
    const bool utf32 = encoding == XmlEncoding::Utf32Le || encoding == XmlEncoding::Utf32Be;
    const bool little = encoding == XmlEncoding::Utf16Le || encoding == XmlEncoding::Utf32Le;
    const std::size_t unit = utf32 ? 4 : 2;
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    auto read = [&](std::size_t at) -> std::uint32_t {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < unit; ++i) {
            const std::uint32_t b = data[at + (little ? unit - 1 - i : i)];
            value = (value << 8) | b;
        }
        return value;
    };
    ReserveLargeBuffer(out, text.size() / unit * 3 / 2 + 16);
    std::size_t at = 0;
    while (at + unit <= text.size()) {
        std::uint32_t code = read(at);
        at += unit;
        if (code < 0x80) {
            out += static_cast<char>(code);
            continue;
        }
        if (!utf32 && code >= 0xD800 && code <= 0xDBFF) {
            const std::uint32_t low = at + unit <= text.size() ? read(at) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                reason = "a high surrogate without its low surrogate in UTF-16 text";
                return false;
            }
            at += unit;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            reason = utf32 ? "a surrogate code point in UTF-32 text"
                           : "a low surrogate without its high surrogate in UTF-16 text";
            return false;
        } else if (code > 0x10FFFF) {
            reason = "a UTF-32 unit past U+10FFFF";
            return false;
        }
        AppendUtf8(out, code);
    }
    if (at != text.size()) {
        reason = "the text ends inside a " + std::to_string(unit * 8) + "-bit unit";
        return false;
    }
    return true;
}

}  // namespace

bool EncodingNameFits(std::string_view name, XmlEncoding encoding) {
    const std::string lower = Lower(name);
    switch (encoding) {
        case XmlEncoding::Utf8:
            return FamilyOf(name) == Family::Utf8;
        case XmlEncoding::Ascii:
            return FamilyOf(name) == Family::Ascii;
        case XmlEncoding::Latin1:
            return FamilyOf(name) == Family::Latin1;
        case XmlEncoding::Utf16Le:
            return OneOf(lower, {"utf-16", "utf-16le", "iso-10646-ucs-2", "ucs-2"});
        case XmlEncoding::Utf16Be:
            return OneOf(lower, {"utf-16", "utf-16be", "iso-10646-ucs-2", "ucs-2"});
        case XmlEncoding::Utf32Le:
            return OneOf(lower, {"utf-32", "utf-32le", "iso-10646-ucs-4", "ucs-4"});
        case XmlEncoding::Utf32Be:
            return OneOf(lower, {"utf-32", "utf-32be", "iso-10646-ucs-4", "ucs-4"});
    }
    return false;
}

// The reader says which encoding a text was found in when its declaration names another.
std::string EncodingMismatch(std::string_view name, XmlEncoding encoding) {
    return "encoding '" + std::string(name) + "' declared, but the text is " +
           EncodingTitle(encoding);
}

bool DecodeXmlText(std::string_view text, std::string& out, std::string_view* utf8,
                   XmlEncoding* encoding, XmlParseResult& failure) {
    out.clear();
    // The byte order marks, then the first characters "<?" or "<" as each encoding writes them.
    struct Signature {
        std::initializer_list<unsigned char> bytes;
        XmlEncoding encoding;
        std::size_t mark;  // bytes of the byte order mark to drop
    };
    static const Signature kSignatures[] = {
        {{0x00, 0x00, 0xFE, 0xFF}, XmlEncoding::Utf32Be, 4},
        {{0xFF, 0xFE, 0x00, 0x00}, XmlEncoding::Utf32Le, 4},
        {{0xFE, 0xFF}, XmlEncoding::Utf16Be, 2},
        {{0xFF, 0xFE}, XmlEncoding::Utf16Le, 2},
        {{0xEF, 0xBB, 0xBF}, XmlEncoding::Utf8, 3},
        {{0x00, 0x00, 0x00, 0x3C}, XmlEncoding::Utf32Be, 0},
        {{0x3C, 0x00, 0x00, 0x00}, XmlEncoding::Utf32Le, 0},
        {{0x00, 0x3C, 0x00, 0x3F}, XmlEncoding::Utf16Be, 0},
        {{0x3C, 0x00, 0x3F, 0x00}, XmlEncoding::Utf16Le, 0},
    };
    if (StartsWithBytes(text, {0x4C, 0x6F, 0xA7, 0x94})) {
        SetFailure(failure, XmlParseStatus::BadEncoding, "", 0,
                   "the text is EBCDIC, which is not supported");
        return false;
    }
    for (const Signature& signature : kSignatures) {
        if (!StartsWithBytes(text, signature.bytes))
            continue;
        *encoding = signature.encoding;
        if (signature.encoding == XmlEncoding::Utf8) {
            *utf8 = text;  // the reader steps over the mark, so that offsets stay the file's
            return true;
        }
        std::string reason;
        if (!ConvertWide(text.substr(signature.mark), signature.encoding, out, reason)) {
            SetFailure(failure, XmlParseStatus::BadEncoding, out, out.size(), reason);
            return false;
        }
        // Without a byte order mark only the declaration may say the text is not UTF-8.
        std::size_t offset = 0;
        if (signature.mark == 0 && DeclaredEncoding(out, &offset).empty()) {
            SetFailure(failure, XmlParseStatus::BadEncoding, out, 0,
                       std::string("the text is ") + EncodingTitle(signature.encoding) +
                           " without a byte order mark or an encoding declaration");
            return false;
        }
        *utf8 = out;
        return true;
    }
    std::size_t offset = 0;
    const std::string_view name = DeclaredEncoding(text, &offset);
    *encoding = XmlEncoding::Utf8;
    *utf8 = text;
    if (name.empty())
        return true;
    switch (FamilyOf(name)) {
        case Family::Utf8:
            return true;
        case Family::Ascii: {
            *encoding = XmlEncoding::Ascii;
            for (std::size_t at = 0; at < text.size(); ++at) {
                if (Byte(text, at) >= 0x80) {
                    static const char digits[] = "0123456789ABCDEF";
                    const unsigned char b = Byte(text, at);
                    SetFailure(failure, XmlParseStatus::BadEncoding, text, at,
                               std::string("byte 0x") + digits[b >> 4] + digits[b & 15] +
                                   " is not ASCII, which the declaration names");
                    return false;
                }
            }
            return true;
        }
        case Family::Latin1:
            *encoding = XmlEncoding::Latin1;
            ReserveLargeBuffer(out, text.size() + text.size() / 8 + 16);
            for (char c : text)
                AppendUtf8(out, static_cast<unsigned char>(c));
            *utf8 = out;
            return true;
        case Family::Wide:
            SetFailure(failure, XmlParseStatus::BadEncoding, text, offset,
                       "encoding '" + std::string(name) +
                           "' declared, but the text has no byte order mark and is written in "
                           "single bytes");
            return false;
        case Family::Unknown:
            break;
    }
    SetFailure(failure, XmlParseStatus::BadEncoding, text, offset,
               "encoding '" + std::string(name) +
                   "' is not supported (UTF-8, UTF-16, UTF-32, ISO-8859-1 and US-ASCII are)");
    return false;
}
