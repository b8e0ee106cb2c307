// Writing a content tree as a content file, through the module's XmlWriter.
#pragma once

#include <string>
#include <vector>

class SerializedContentElement;

namespace kestrelsc {

// The XML text of a content file holding top's children. The top element itself is the
// document's root ("kestrel_sc:" + its name, declaring the kestrel_sc prefix), which a load turns
// back into the top element "figure", so loading the text and writing it again gives the same
// bytes. False with error set when the tree cannot be written faithfully: the top element has
// properties (a root carries none), or an element name would not make an XML name. Properties of
// types the format has no name for are left out, each noted in warnings.
bool ContentToXml(const SerializedContentElement& top, std::string& xml, std::string& error,
                  std::vector<std::string>& warnings);

}  // namespace kestrelsc
