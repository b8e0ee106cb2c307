#include "XmlOutput.h"

#include <vector>

#include "ContentPath.h"
#include "ValueFormat.h"
#include "geometry/XmlElem.h"
#include "kernel/SerializedContentElement.h"
#include "kernel/SerializedContentVisitor.h"
#include "serializedContent/xmlwriter/XmlWriter.h"

namespace kestrelsc {

namespace {

// Whether "kestrel_sc:" + name is an XML name: letters, digits, '.', '-', '_', ':' and anything
// beyond ASCII.
bool FitsXmlName(std::string_view name) {
    for (unsigned char c : name) {
        const bool ascii = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':';
        if (!ascii && c < 0x80)
            return false;
    }
    return true;
}

}  // namespace

bool ContentToXml(const SerializedContentElement& top, std::string& xml, std::string& error,
                  std::vector<std::string>& warnings) {
    if (!top.GetProperties().empty()) {
        error = "the top element '" + std::string(top.GetName()) +
                "' has properties, which a content file cannot hold (only its children are "
                "stored); move them into a child element";
        return false;
    }
    std::vector<const SerializedContentElement*> pending{&top};
    while (!pending.empty()) {
        const SerializedContentElement* element = pending.back();
        pending.pop_back();
        if (!FitsXmlName(element->GetName().view())) {
            error = "element '" + PathOf(*element) + "': the name is not usable in XML";
            return false;
        }
        for (const SerializedContentElement::Property& property : element->GetProperties()) {
            if (!HasXmlForm(property.value)) {
                warnings.push_back("property '" + std::string(property.name) + "' of '" +
                                   PathOf(*element) + "' has type " + TypeName(property.value) +
                                   ", which content files cannot hold; it is left out");
            }
        }
        for (std::size_t i = element->GetChildCount(); i-- > 0;) {
            pending.push_back(element->GetChild(i));
        }
    }
    XmlElem* root = NewXmlElem(Symbol("kestrel_sc:" + std::string(top.GetName())), false);
    serializedContent::XmlWriter writer(root);
    WalkContent(top, writer, WalkTop::ContentsOnly);
    xml = WriteXml(*root);
    FreeXml(root);
    return true;
}

}  // namespace kestrelsc
