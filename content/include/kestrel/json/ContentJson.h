// The canonical JSON form of a content tree (docs/json.md), in both directions.
#pragma once

#include <string>
#include <string_view>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Export.h"
#include "kestrel/load/Content.h"
#include "utilities/SmartPtr.h"

namespace kestrel::json {

// How the JSON text is laid out.
struct JsonWriteOptions {
    int indent = 2;  // spaces per level; 0 or less writes one line
};

// The canonical JSON text of element and everything below it, followed by a newline. Trees of
// any depth are written without recursion.
KESTREL_CONTENT_API std::string WriteContentJson(const SerializedContentElement& element,
                                                 const JsonWriteOptions& options = {});

// The JSON text of one property, {"name": ..., "type": ..., "value": ...}, and a newline.
KESTREL_CONTENT_API std::string WritePropertyJson(
    const SerializedContentElement::Property& property, const JsonWriteOptions& options = {});

// Builds a content tree from canonical JSON text (members may come in any order; "properties"
// and "children" may be absent), building nothing on failure: Malformed (with line, column and
// offset) for text that is not JSON; Invalid (with the JSON Pointer of the value in place, such
// as "/children/0/properties/2/value") for a member given twice, unknown or missing members, a
// value of the wrong shape, an unknown type name, an integer out of its type's range, or a shape
// or image the host cannot make. Documents of any depth are read without recursion.
KESTREL_CONTENT_API LoadResult ReadContentJson(std::string_view text);

}  // namespace kestrel::json
