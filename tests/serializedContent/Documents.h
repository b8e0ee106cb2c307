// Content trees to and from XML text through the module's reader and writer, for tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "geometry/XmlElem.h"
#include "kernel/SerializedContentElement.h"
#include "kernel/SerializedContentVisitor.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "serializedContent/xmlwriter/XmlWriter.h"

namespace documents {

using Tree = SmartPtr<SerializedContentElement>;

// The content read from text, below a top element "figure"; text must be well-formed.
inline Tree Read(const std::string& text) {
    std::string error;
    XmlElem* root = ParseXml(text, false, &error);
    EXPECT_NE(root, nullptr) << error << "\n" << text.substr(0, 2000);
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    serializedContent::XmlParser().Parse(root, top.get());
    FreeXml(root);
    return top;
}

// Reads one content element "e" holding body; the returned tree keeps it as child 0.
inline Tree ReadElement(const std::string& body) {
    return Read("<r><kestrel_sc:e>" + body + "</kestrel_sc:e></r>");
}

// The text of top's children written below a root element.
inline std::string Write(const SerializedContentElement& top) {
    XmlElem* root = NewXmlElem(Symbol("kestrel_sc:figure"), false);
    serializedContent::XmlWriter writer(root);
    WalkContent(top, writer, WalkTop::ContentsOnly);
    std::string text = WriteXml(*root);
    FreeXml(root);
    return text;
}

}  // namespace documents
