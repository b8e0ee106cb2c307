#include "XmlOutput.h"

#include <vector>

#include "ContentPath.h"
#include "ValueFormat.h"
#include "geometry/XmlElem.h"
#include "kernel/SerializedContentElement.h"
#include "kernel/SerializedContentVisitor.h"
#include "kestrel/Content.h"
#include "serializedContent/xmlwriter/XmlWriter.h"

namespace kestrelsc {

bool ContentToXml(const SerializedContentElement& top, std::string& xml, std::string& error,
                  std::vector<std::string>& warnings) {
    if (const kestrel::Error refused = kestrel::CheckSavable(top)) {
        error = refused.message;
        return false;
    }
    std::vector<const SerializedContentElement*> pending{&top};
    while (!pending.empty()) {
        const SerializedContentElement* element = pending.back();
        pending.pop_back();
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
    // Declared as kestrel::Save declares it, so that both write the same bytes. The input root's
    // attributes (an older declaration included) are not part of the tree and never repeated.
    root->SetAttribute(Symbol(kestrel::kNamespaceAttribute), kestrel::kNamespaceName);
    serializedContent::XmlWriter writer(root);
    WalkContent(top, writer, WalkTop::ContentsOnly);
    xml = WriteXml(*root);
    FreeXml(root);
    return true;
}

}  // namespace kestrelsc
