// ParseXml and WriteXml: XML text to element trees and back, over pugixml.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "XmlTextReader.h"
#include "geometry/XmlElem.h"

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

// Appends text escaped for element content (attribute false) or a double-quoted attribute value.
// Markup characters become entity references; control characters that XML would change on
// reading (CR, and tab and line feed in attributes) or cannot hold become character references;
// U+0000, which XML cannot carry at all, becomes U+FFFD.
void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
    std::size_t plain = 0;
    auto flush = [&](std::size_t end) { out.append(text.data() + plain, end - plain); };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const char* replacement = nullptr;
        char reference[8];
        switch (c) {
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '>':
                replacement = "&gt;";
                break;
            case '"':
                replacement = attribute ? "&quot;" : nullptr;
                break;
            case '\0':
                replacement = "\xEF\xBF\xBD";
                break;
            case '\t':
            case '\n':
                if (attribute) {
                    std::snprintf(reference, sizeof reference, "&#%u;", c);
                    replacement = reference;
                }
                break;
            default:
                if (c < 0x20) {
                    std::snprintf(reference, sizeof reference, "&#%u;", c);
                    replacement = reference;
                }
                break;
        }
        if (!replacement)
            continue;
        flush(i);
        out += replacement;
        plain = i + 1;
    }
    flush(text.size());
}

// Element text made only of white space would be dropped by the reader; its first character
// goes as a character reference so that it survives.
void AppendText(std::string& out, const std::string& text) {
    if (!text.empty() && text.find_first_not_of(" \t\n\r") == std::string::npos) {
        char reference[8];
        std::snprintf(reference, sizeof reference, "&#%u;", static_cast<unsigned char>(text[0]));
        out += reference;
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

}  // namespace

std::string WriteXml(const XmlElem& root, const XmlWriteOptions& options) {
    std::string out;
    if (options.declaration)
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::size_t indent = options.indent > 0 ? static_cast<std::size_t>(options.indent) : 0;
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
