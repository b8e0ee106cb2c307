// XmlParser: rebuilds a content tree from an XML element tree.
#pragma once

#include "serializedContent/Export.h"

class SerializedContentElement;
class XmlElem;

namespace serializedContent {

// Reads a document's element tree into a content tree. Holds no state: one parser may read any
// number of documents, one after another or at once.
class SERIALIZEDCONTENT_API XmlParser {
public:
    XmlParser();
    XmlParser& operator=(const XmlParser& other);
    ~XmlParser();

    // Makes every child of root a content element below top, with its properties and nested
    // elements; always true. A null root or top adds nothing. Depth is limited only by memory.
    bool Parse(const XmlElem* root, SerializedContentElement* top);

private:
    // Makes element a content element below parent and reads its subtree; always true.
    bool ParseItem(const XmlElem* element, SerializedContentElement* parent);
    // Reads one property element into owner; false when "type" or "name" is missing.
    bool ParseProperty(const XmlElem* element, SerializedContentElement* owner);
    // Reads one property array element into owner; false when "type" or "name" is missing.
    bool ParsePropertyArray(const XmlElem* element, SerializedContentElement* owner);
};

}  // namespace serializedContent
