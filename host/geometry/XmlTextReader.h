// The UTF-8 XML parser behind ParseXml, and the line and column counting both parsers share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

class XmlElem;

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

// Whether text is UTF-8 (or ASCII) XML, as its byte order mark or declaration tell; other
// encodings go through the converting parser.
bool IsUtf8Xml(std::string_view text);

// Parses UTF-8 XML text into a new element tree (see ParseXml). The tree's elements, attribute
// lists and child lists live in blocks owned by the root, so FreeXml gives them back at once.
// Null with *error (when given) set to "line:column: reason" when text is not well-formed.
XmlElem* ParseUtf8Xml(std::string_view text, bool keepWhitespace, std::string* error);
