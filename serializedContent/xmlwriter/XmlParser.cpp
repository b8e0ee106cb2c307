#include "serializedContent/xmlwriter/XmlParser.h"

#include <string>
#include <vector>

#include "geometry/XmlElem.h"
#include "kernel/SerializedContentElement.h"
#include "serializedContent/xmlwriter/NameTable.h"

namespace serializedContent {

namespace {

// The content name of an XML element: its name after the first ':', or all of it.
Symbol ContentName(const XmlElem* element) {
    std::string name = element->GetName();
    std::size_t colon = name.find(':');
    return colon == std::string::npos ? Symbol(name) : Symbol(name.substr(colon + 1));
}

}  // namespace

XmlParser::XmlParser() = default;
XmlParser& XmlParser::operator=(const XmlParser&) = default;
XmlParser::~XmlParser() = default;

bool XmlParser::Parse(const XmlElem* root, SerializedContentElement* top) {
    if (!root || !top)
        return true;
    const int count = static_cast<int>(root->GetChildCount());
    for (int i = 0; i < count; ++i) {
        ParseItem(root->GetChild(static_cast<std::size_t>(i)), top);
    }
    return true;
}

bool XmlParser::ParseItem(const XmlElem* element, SerializedContentElement* parent) {
    // Nesting is followed with an explicit stack rather than recursion, so that documents nested
    // a million levels deep cannot exhaust the thread's stack. Each frame is one open content
    // element; it is ended once all of its XML children have been dispatched, so the host sees
    // StartContent and EndContent properly nested and in document order.
    struct Frame {
        const XmlElem* xml;
        SerializedContentElement* content;
        std::uint64_t nextChild;
        std::uint64_t childCount;
    };
    std::vector<Frame> stack;
    auto open = [&stack](const XmlElem* xml, SerializedContentElement* into) {
        std::uint64_t childCount = xml->GetChildCount();
        stack.push_back({xml, into->StartContent(ContentName(xml)), 0, childCount});
    };
    open(element, parent);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextChild == frame.childCount) {
            frame.content->EndContent();
            stack.pop_back();
            continue;
        }
        const XmlElem* child = frame.xml->GetChild(frame.nextChild++);
        SerializedContentElement* content = frame.content;
        const Symbol& name = child->GetName();
        if (name == readerNames.property) {
            ParseProperty(child, content);
        } else if (name == readerNames.propertyArray) {
            ParsePropertyArray(child, content);
        } else {
            open(child, content);
        }
    }
    return true;
}

bool XmlParser::ParseProperty(const XmlElem* element, SerializedContentElement* /*owner*/) {
    return element->FindAttribute(readerNames.type) != XmlElem::npos &&
           element->FindAttribute(readerNames.name) != XmlElem::npos;
}

bool XmlParser::ParsePropertyArray(const XmlElem* element, SerializedContentElement* /*owner*/) {
    return element->FindAttribute(readerNames.arrayType) != XmlElem::npos &&
           element->FindAttribute(readerNames.arrayName) != XmlElem::npos;
}

}  // namespace serializedContent
