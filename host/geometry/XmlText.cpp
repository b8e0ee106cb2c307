// ParseXml and WriteXml: XML text to element trees and back, over pugixml.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "geometry/XmlElem.h"

namespace {

// Turns byte offsets of the parsed text into line and column numbers. Offsets must be asked for
// in increasing order, which document order gives; the whole text is then scanned once.
class PositionCounter {
public:
    explicit PositionCounter(const std::string& text) : text_(text) {}

    std::pair<std::uint32_t, std::uint32_t> At(std::size_t offset) {
        if (offset > text_.size())
            offset = text_.size();
        if (offset < scanned_)
            Reset();
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
    void Reset() { scanned_ = lineStart_ = 0, line_ = 1; }

    const std::string& text_;
    std::size_t scanned_ = 0;
    std::size_t lineStart_ = 0;
    std::uint32_t line_ = 1;
};

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

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, size_t size) override {
        out_.append(static_cast<const char*>(data), size);
    }

private:
    std::string& out_;
};

void CopyInto(const XmlElem& element, pugi::xml_node node) {
    for (std::size_t i = 0; i < element.GetAttributeCount(); ++i) {
        node.append_attribute(element.GetAttributeName(i).safe_c_str())
            .set_value(element.GetAttributeText(i).c_str());
    }
    if (!element.GetText().empty()) {
        node.append_child(pugi::node_pcdata).set_value(element.GetText().c_str());
    }
}

}  // namespace

std::string WriteXml(const XmlElem& root, const XmlWriteOptions& options) {
    pugi::xml_document document;
    pugi::xml_node top = document.append_child(root.GetName().safe_c_str());
    CopyInto(root, top);
    std::vector<std::pair<const XmlElem*, pugi::xml_node>> pending{{&root, top}};
    while (!pending.empty()) {
        auto [element, node] = pending.back();
        pending.pop_back();
        for (std::size_t i = 0; i < element->GetChildCount(); ++i) {
            const XmlElem* child = element->GetChild(i);
            pugi::xml_node childNode = node.append_child(child->GetName().safe_c_str());
            CopyInto(*child, childNode);
            pending.emplace_back(child, childNode);
        }
    }
    std::string out;
    StringWriter writer(out);
    unsigned flags = options.indent > 0 ? pugi::format_indent : pugi::format_raw;
    if (!options.declaration)
        flags |= pugi::format_no_declaration;
    std::string indent(options.indent > 0 ? static_cast<std::size_t>(options.indent) : 0, ' ');
    document.save(writer, indent.c_str(), flags, pugi::encoding_utf8);
    return out;
}
