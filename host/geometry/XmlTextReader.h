// The XML reader behind ParseXml: the encodings it takes, and the line and column counting.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "geometry/XmlElem.h"

// Turns byte offsets of a text into line and column numbers, counted from 1. Offsets asked in
// increasing order (document order) scan the text once; an earlier one starts again from the top.
class PositionCounter {
public:
    explicit PositionCounter(std::string_view text) : text_(text) {}

    std::pair<std::uint32_t, std::uint32_t> At(std::size_t offset) {
        offset = std::min(offset, text_.size());
        if (offset < scanned_)
            scanned_ = lineStart_ = 0, line_ = 1;
        while (scanned_ < offset) {
            const void* newline = std::memchr(text_.data() + scanned_, '\n', offset - scanned_);
            if (!newline) {
                scanned_ = offset;
                break;
            }
            scanned_ =
                static_cast<std::size_t>(static_cast<const char*>(newline) - text_.data()) + 1;
            ++line_;
            lineStart_ = scanned_;
        }
        return {line_, static_cast<std::uint32_t>(offset - lineStart_ + 1)};
    }

private:
    std::string_view text_;
    std::size_t scanned_ = 0;
    std::size_t lineStart_ = 0;
    std::uint32_t line_ = 1;
};

// The encodings a document may come in. Everything is read as UTF-8 in the end: the others are
// converted first, and the reader then checks that the XML declaration names the one found.
enum class XmlEncoding { Utf8, Ascii, Latin1, Utf16Le, Utf16Be, Utf32Le, Utf32Be };

// Finds the encoding of text from its byte order mark, its first bytes and its XML declaration,
// and converts it to UTF-8 in out (without a byte order mark). When text is UTF-8 already, out
// stays empty and *utf8 views text as it is. False, with failure set (BadEncoding), for an
// encoding not supported, one that contradicts the byte order mark, or bytes that are not text in
// the encoding.
bool DecodeXmlText(std::string_view text, std::string& out, std::string_view* utf8,
                   XmlEncoding* encoding, XmlParseResult& failure);

// Sets result to a failure at offset of text, counting its line and column there.
void SetFailure(XmlParseResult& result, XmlParseStatus status, std::string_view text,
                std::size_t offset, std::string reason);

// Whether an encoding name of an XML declaration may stand for the encoding a text was read in,
// and the reason given when it may not.
bool EncodingNameFits(std::string_view name, XmlEncoding encoding);
std::string EncodingMismatch(std::string_view name, XmlEncoding encoding);

// Parses UTF-8 XML text into a new element tree (see ParseXml). The tree's elements, attribute
// lists and child lists live in blocks owned by the root, so FreeXml gives them back at once.
// encoding is the one the text was converted from, which its XML declaration must name.
XmlParseResult ParseUtf8Xml(std::string_view text, bool keepWhitespace,
                            XmlEncoding encoding = XmlEncoding::Utf8);

// How far entity references may make a document grow (see docs/format.md): once replacement text
// and supplied attribute defaults pass kEntityBudgetFloor bytes, they may not pass
// kEntityBudgetFactor times the size of the document.
constexpr std::size_t kEntityBudgetFloor = std::size_t{8} << 20;
constexpr std::size_t kEntityBudgetFactor = 100;
