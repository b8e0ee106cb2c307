// ParseXml and WriteXml: XML text to element trees and back.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "XmlTextReader.h"
#include "geometry/XmlElem.h"
#include "utilities/LargeBuffer.h"

XmlParseResult ParseXmlDocument(std::string_view text, bool keepWhitespace) {
    // Other encodings are converted to UTF-8 first and read by the same reader, which then checks
    // that the declaration names the encoding found; UTF-8 text is read where it stands.
    std::string converted;
    std::string_view utf8;
    XmlEncoding encoding = XmlEncoding::Utf8;
    XmlParseResult failure;
    if (!DecodeXmlText(text, converted, &utf8, &encoding, failure))
        return failure;
    return ParseUtf8Xml(utf8, keepWhitespace, encoding);
}

XmlElem* ParseXml(const std::string& text, bool keepWhitespace, std::string* error) {
    XmlParseResult result = ParseXmlDocument(text, keepWhitespace);
    if (!result && error)
        *error = result.description();
    return result.root.release();
}

std::string XmlParseResult::description() const {
    if (*this)
        return {};
    return std::to_string(line) + ":" + std::to_string(column) + ": " + reason;
}

namespace {

// What the writer must do with each byte: nothing, or replace it in element text and attribute
// values alike, or replace it in attribute values only (where XML would fold it to a space).
enum : std::uint8_t { kPlain = 0, kEscape = 1, kEscapeInValue = 2 };

// clang-format off
constexpr std::uint8_t kEscapeClass[256] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 1, 1, 1, 1, 1,  // 0x00: controls; tab and LF in values only
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x10: controls
    0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x20: " in values, &
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0,  // 0x30: < >
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x40
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x50
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x60
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x70
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x80: bytes of multi-byte characters
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x90
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xA0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xB0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xC0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xD0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,  // 0xE0: 0xEF may begin U+FFFE, U+FFFF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xF0
};
// clang-format on

// The text WriteXml makes, gathered in chunks for a sink: small pieces cost a copy into the
// chunk, without a call each. Offers the operations of std::string that the writer uses, so that
// one writer serves both. After the sink has failed, everything is dropped.
class ChunkOut {
public:
    explicit ChunkOut(const XmlSink& sink) : sink_(sink), chunk_(new char[kChunk]) {}

    void operator+=(char c) {
        if (at_ == kChunk)
            Flush();
        chunk_[at_++] = c;
    }
    void operator+=(std::string_view text) { append(text.data(), text.size()); }
    void append(const char* data, std::size_t size) {
        if (size <= kChunk - at_) {
            std::memcpy(chunk_.get() + at_, data, size);
            at_ += size;
            return;
        }
        InPieces(size, [&data](char* to, std::size_t part) {
            std::memcpy(to, data, part);
            data += part;
        });
    }
    void append(std::size_t count, char c) {
        InPieces(count, [c](char* to, std::size_t part) { std::memset(to, c, part); });
    }
    // Hands over what is left; false when the sink failed at any time.
    bool Finish() {
        Flush();
        return ok_;
    }
    bool ok() const noexcept { return ok_; }

private:
    static constexpr std::size_t kChunk = std::size_t{64} << 10;

    // Writes size bytes with fill(to, part), in parts that fit what is left of the chunk.
    template <class Fill>
    void InPieces(std::size_t size, Fill fill) {
        while (size != 0) {
            if (at_ == kChunk)
                Flush();
            const std::size_t part = std::min(size, kChunk - at_);
            fill(chunk_.get() + at_, part);
            at_ += part;
            size -= part;
        }
    }

    void Flush() {
        if (ok_ && at_ != 0)
            ok_ = sink_(std::string_view(chunk_.get(), at_));
        at_ = 0;
    }

    const XmlSink& sink_;
    std::unique_ptr<char[]> chunk_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// Appends the replacement of one byte that its class says must not go as it is.
template <class Out>
void AppendReplacement(Out& out, unsigned char c) {
    switch (c) {
        case '&':
            out += "&amp;";
            return;
        case '<':
            out += "&lt;";
            return;
        case '>':
            out += "&gt;";
            return;
        case '"':
            out += "&quot;";
            return;
        case '\t':
        case '\n':
        case '\r':
        case ' ': {
            char reference[8];
            const int size = std::snprintf(reference, sizeof reference, "&#%u;", c);
            out.append(reference, static_cast<std::size_t>(size));
            return;
        }
        default:
            // XML 1.0 cannot carry U+0000 nor the other controls, not even as references.
            out += "\xEF\xBF\xBD";
            return;
    }
}

// Appends text escaped for element content (attribute false) or a double-quoted attribute value.
// Markup characters become entity references; white space that XML would change on reading (CR,
// and tab and line feed in attributes) becomes character references; the characters XML 1.0
// cannot carry at all (U+0000 and the other controls, U+FFFE, U+FFFF) become U+FFFD. Plain runs,
// nearly all of a document, are found by table and copied whole.
template <class Out>
void AppendEscaped(Out& out, std::string_view text, bool attribute) {
    const std::uint8_t stop = attribute ? (kEscape | kEscapeInValue) : kEscape;
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t plain = 0;
    std::size_t i = 0;
    while (true) {
        while (i + 4 <= size && !((kEscapeClass[data[i]] | kEscapeClass[data[i + 1]] |
                                   kEscapeClass[data[i + 2]] | kEscapeClass[data[i + 3]]) &
                                  stop))
            i += 4;
        while (i < size && !(kEscapeClass[data[i]] & stop))
            ++i;
        if (i == size)
            break;
        if (data[i] == 0xEF) {
            // Only U+FFFE and U+FFFF among the characters from 0xEF on need replacing.
            if (i + 2 < size && data[i + 1] == 0xBF && (data[i + 2] & 0xFE) == 0xBE) {
                out.append(text.data() + plain, i - plain);
                out += "\xEF\xBF\xBD";
                plain = i += 3;
            } else {
                ++i;
            }
            continue;
        }
        out.append(text.data() + plain, i - plain);
        AppendReplacement(out, data[i]);
        plain = ++i;
    }
    out.append(text.data() + plain, size - plain);
}

// Element text made only of white space would be dropped by the reader; its first character
// goes as a character reference so that it survives.
template <class Out>
void AppendText(Out& out, const std::string& text) {
    if (!text.empty() && text.find_first_not_of(" \t\n\r") == std::string::npos) {
        AppendReplacement(out, static_cast<unsigned char>(text[0]));
        AppendEscaped(out, std::string_view(text).substr(1), false);
        return;
    }
    AppendEscaped(out, text, false);
}

template <class Out>
void AppendStartTag(Out& out, const XmlElem& element) {
    out += '<';
    out += element.GetName().view();
    for (std::size_t i = 0; i < element.GetAttributeCount(); ++i) {
        out += ' ';
        out += element.GetAttributeName(i).view();
        out += "=\"";
        AppendEscaped(out, element.GetAttributeText(i), true);
        out += '"';
    }
}

// The size of the text WriteXml makes of the tree, short only by what escaping adds. Building the
// text in one allocation of that size saves the copies and the fresh pages of a growing string,
// which for documents of tens of megabytes cost several times the writing itself.
std::size_t EstimateSize(const XmlElem& root, std::size_t indent) {
    std::size_t size = 64;
    std::vector<std::pair<const XmlElem*, std::size_t>> pending{{&root, 0}};
    while (!pending.empty()) {
        auto [element, depth] = pending.back();
        pending.pop_back();
        size += 2 * element->GetName().view().size() + 5 + element->GetText().size();
        if (indent != 0)
            size += 2 * (1 + std::min<std::size_t>(depth, 64) * indent);
        for (std::size_t i = 0; i < element->GetAttributeCount(); ++i)
            size += element->GetAttributeName(i).view().size() +
                    element->GetAttributeText(i).size() + 4;
        for (std::size_t i = 0; i < element->GetChildCount(); ++i)
            pending.emplace_back(element->GetChild(i), depth + 1);
    }
    return size;
}

// Writes the tree below root to out. An element with both text and children is written without
// indentation below it, since white space added there would become part of its text.
template <class Out>
void Write(Out& out, const XmlElem& root, std::size_t indent, bool declaration) {
    if (declaration)
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    struct Frame {
        const XmlElem* element;
        std::size_t nextChild;
        std::size_t depth;
        bool raw;
    };
    auto newLine = [&](std::size_t depth, bool raw) {
        if (indent == 0 || raw)
            return;
        out += '\n';
        out.append(std::min<std::size_t>(depth, 64) * indent, ' ');
    };
    std::vector<Frame> stack;
    auto open = [&](const XmlElem& element, std::size_t depth, bool raw) {
        AppendStartTag(out, element);
        const std::string& text = element.GetText();
        const std::size_t children = element.GetChildCount();
        if (children == 0 && text.empty()) {
            out += "/>";
            return;
        }
        out += '>';
        AppendText(out, text);
        const bool mixed = !text.empty() && children != 0;
        stack.push_back({&element, 0, depth, raw || mixed});
    };
    open(root, 0, false);
    while (!stack.empty()) {
        if constexpr (requires { out.ok(); }) {
            if (!out.ok())
                return;  // the sink has failed: the rest would be dropped anyway
        }
        Frame& frame = stack.back();
        const XmlElem& element = *frame.element;
        if (frame.nextChild == element.GetChildCount()) {
            if (frame.nextChild != 0)
                newLine(frame.depth, frame.raw);
            out += "</";
            out += element.GetName().view();
            out += '>';
            stack.pop_back();
            continue;
        }
        const XmlElem* child = element.GetChild(frame.nextChild++);
        const std::size_t depth = frame.depth + 1;
        const bool raw = frame.raw;
        newLine(depth, raw);
        open(*child, depth, raw);
    }
    if (indent != 0)
        out += '\n';
}

std::size_t IndentOf(const XmlWriteOptions& options) {
    return options.indent > 0 ? static_cast<std::size_t>(options.indent) : 0;
}

}  // namespace

std::string WriteXml(const XmlElem& root, const XmlWriteOptions& options) {
    const std::size_t indent = IndentOf(options);
    std::string out;
    const std::size_t estimate = EstimateSize(root, indent);
    ReserveLargeBuffer(out, estimate + estimate / 64);
    Write(out, root, indent, options.declaration);
    return out;
}

bool WriteXml(const XmlElem& root, const XmlSink& sink, const XmlWriteOptions& options) {
    ChunkOut out(sink);
    Write(out, root, IndentOf(options), options.declaration);
    return out.Finish();
}

std::size_t EstimateXmlSize(const XmlElem& root, const XmlWriteOptions& options) {
    return EstimateSize(root, IndentOf(options));
}
