// ParseXml and WriteXml: XML text to element trees and back, over pugixml.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "XmlTextReader.h"
#include "geometry/XmlElem.h"
#include "utilities/LargeBuffer.h"

namespace {

void SetError(std::string* error, PositionCounter& positions, std::size_t offset,
              const std::string& reason) {
    if (!error)
        return;
    auto [line, column] = positions.At(offset);
    *error = std::to_string(line) + ":" + std::to_string(column) + ": " + reason;
}

// Where a node starts in the text: pugixml records the offset of the name, just after the '<'.
std::size_t StartOffset(const pugi::xml_node& node, const std::string& text) {
    std::ptrdiff_t offset = node.offset_debug();
    if (offset <= 0)
        return 0;
    auto at = static_cast<std::size_t>(offset);
    if (at <= text.size() && text[at - 1] == '<')
        --at;
    return at;
}

// Builds the element of one pugixml element node: name, attributes and own text. Fails on a
// repeated attribute name, which pugixml lets through.
XmlElem* MakeElement(const pugi::xml_node& node, std::string& reason) {
    auto* element = new XmlElem(Symbol(node.name()));
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        Symbol name(attribute.name());
        if (element->FindAttribute(name) != XmlElem::npos) {
            reason = "attribute '" + std::string(attribute.name()) + "' repeated";
            delete element;
            return nullptr;
        }
        element->SetAttribute(name, std::string(attribute.value()));
    }
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            const char* value = child.value();
            element->AppendText(value, std::strlen(value));
        }
    }
    return element;
}

}  // namespace

XmlElem* ParseXml(const std::string& text, bool keepWhitespace, std::string* error) {
    if (IsUtf8Xml(text))
        return ParseUtf8Xml(text, keepWhitespace, error);
    // Other encodings (UTF-16, UTF-32, Latin-1 and the like) go through pugixml, which converts.
    PositionCounter positions(text);
    pugi::xml_document document;
    // As a fragment, pugixml keeps text outside the root element, which is then refused below.
    unsigned options =
        pugi::parse_default | pugi::parse_fragment | (keepWhitespace ? pugi::parse_ws_pcdata : 0u);
    pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), options, pugi::encoding_auto);
    if (!result) {
        SetError(error, positions, static_cast<std::size_t>(result.offset), result.description());
        return nullptr;
    }

    // pugixml accepts a forest; XML wants exactly one root element and no text beside it.
    pugi::xml_node top;
    for (const pugi::xml_node& node : document.children()) {
        if (node.type() == pugi::node_element) {
            if (top) {
                SetError(error, positions, StartOffset(node, text), "more than one root element");
                return nullptr;
            }
            top = node;
        } else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            std::string_view value(node.value());
            if (value.find_first_not_of(" \t\r\n") != std::string_view::npos) {
                SetError(error, positions, StartOffset(node, text),
                         "text outside the root element");
                return nullptr;
            }
        }
    }
    if (!top) {
        SetError(error, positions, text.size(), "no root element");
        return nullptr;
    }

    // Depth-first in document order with an explicit stack, so that any depth is safe and the
    // source positions are asked for in increasing order.
    std::string reason;
    XmlElem* root = MakeElement(top, reason);
    if (!root) {
        SetError(error, positions, StartOffset(top, text), reason);
        return nullptr;
    }
    auto [line, column] = positions.At(StartOffset(top, text));
    root->SetSourcePosition(line, column);
    std::vector<std::pair<pugi::xml_node, XmlElem*>> pending;  // (node, its parent element)
    auto pushChildren = [&pending](const pugi::xml_node& node, XmlElem* element) {
        for (pugi::xml_node child = node.last_child(); child; child = child.previous_sibling()) {
            if (child.type() == pugi::node_element)
                pending.emplace_back(child, element);
        }
    };
    pushChildren(top, root);
    while (!pending.empty()) {
        auto [node, parent] = pending.back();
        pending.pop_back();
        XmlElem* element = MakeElement(node, reason);
        if (!element) {
            SetError(error, positions, StartOffset(node, text), reason);
            FreeXml(root);
            return nullptr;
        }
        auto [elementLine, elementColumn] = positions.At(StartOffset(node, text));
        element->SetSourcePosition(elementLine, elementColumn);
        parent->AddChild(element);
        pushChildren(node, element);
    }
    return root;
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
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xE0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xF0
};
// clang-format on

// Appends the replacement of one byte that its class says must not go as it is.
void AppendReplacement(std::string& out, unsigned char c) {
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
        case '\0':
            out += "\xEF\xBF\xBD";  // XML cannot carry U+0000 at all
            return;
        default: {
            char reference[8];
            const int size = std::snprintf(reference, sizeof reference, "&#%u;", c);
            out.append(reference, static_cast<std::size_t>(size));
        }
    }
}

// Appends text escaped for element content (attribute false) or a double-quoted attribute value.
// Markup characters become entity references; control characters that XML would change on
// reading (CR, and tab and line feed in attributes) or cannot hold become character references;
// U+0000 becomes U+FFFD. Plain runs, nearly all of a document, are found by table and copied whole.
void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
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
        out.append(text.data() + plain, i - plain);
        AppendReplacement(out, data[i]);
        plain = ++i;
    }
    out.append(text.data() + plain, size - plain);
}

// Element text made only of white space would be dropped by the reader; its first character
// goes as a character reference so that it survives.
void AppendText(std::string& out, const std::string& text) {
    if (!text.empty() && text.find_first_not_of(" \t\n\r") == std::string::npos) {
        AppendReplacement(out, static_cast<unsigned char>(text[0]));
        AppendEscaped(out, std::string_view(text).substr(1), false);
        return;
    }
    AppendEscaped(out, text, false);
}

void AppendStartTag(std::string& out, const XmlElem& element) {
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

}  // namespace

std::string WriteXml(const XmlElem& root, const XmlWriteOptions& options) {
    const std::size_t indent = options.indent > 0 ? static_cast<std::size_t>(options.indent) : 0;
    std::string out;
    const std::size_t estimate = EstimateSize(root, indent);
    ReserveLargeBuffer(out, estimate + estimate / 64);
    if (options.declaration)
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    // An element with both text and children is written without indentation below it, since
    // white space added there would become part of its text.
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
        if (element.GetChildCount() == 0 && element.GetText().empty()) {
            out += "/>";
            return;
        }
        out += '>';
        AppendText(out, element.GetText());
        const bool mixed = !element.GetText().empty() && element.GetChildCount() != 0;
        stack.push_back({&element, 0, depth, raw || mixed});
    };
    open(root, 0, false);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const XmlElem& element = *frame.element;
        if (frame.nextChild == element.GetChildCount()) {
            if (element.GetChildCount() != 0)
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
    return out;
}
