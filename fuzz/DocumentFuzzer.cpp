// Fuzz target: document text through the loader's path, ParseXml and then the XmlParser element
// walk into a content tree below "figure" (image properties reach the "bmp" loader module). A
// tree that can be saved must save to a text that loads and saves to the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "geometry/XmlElem.h"
#include "kernel/SerializedContentElement.h"
#include "kestrel/load/Content.h"
#include "serializedContent/xmlwriter/XmlParser.h"

namespace {

// The loader's steps after reading the file: parse, walk, free the XML tree.
SmartPtr<SerializedContentElement> Load(const std::string& text) {
    std::string error;
    XmlElem* root = ParseXml(text, false, &error);
    if (!root) {
        if (error.empty())
            std::abort();  // a refused text always says where and why
        return SmartPtr<SerializedContentElement>();
    }
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    serializedContent::XmlParser parser;
    parser.Parse(root, top.get());
    FreeXml(root);
    return top;
}

// True when an element below the top's children is named "property" or "property_array": the
// writer gives it the element name of a property, so it cannot come back as an element.
bool HoldsPropertyName(const SerializedContentElement& top) {
    std::vector<std::pair<const SerializedContentElement*, int>> pending{{&top, 0}};
    while (!pending.empty()) {
        const auto [element, depth] = pending.back();
        pending.pop_back();
        if (depth >= 2 &&
            (element->GetName() == "property" || element->GetName() == "property_array"))
            return true;
        for (std::size_t i = 0; i < element->GetChildCount(); ++i)
            pending.emplace_back(element->GetChild(i), depth + 1);
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The loader ends the text it read with a line feed.
    std::string text(reinterpret_cast<const char*>(data), size);
    text += '\n';
    SmartPtr<SerializedContentElement> tree = Load(text);
    if (!tree || HoldsPropertyName(*tree))
        return 0;
    const std::string saved = kestrel::SaveText(*tree);
    if (saved.empty())
        return 0;
    SmartPtr<SerializedContentElement> again = Load(saved);
    if (!again || kestrel::SaveText(*again) != saved)
        std::abort();
    return 0;
}
