// The canonical JSON form of a content tree (docs/json.md), in both directions.
#pragma once

#include <string>
#include <string_view>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Export.h"
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

// What reading JSON gave: the tree, or where and why it failed.
struct KESTREL_CONTENT_API JsonReadResult {
    SmartPtr<SerializedContentElement> tree;  // the top element; null on failure
    std::string path;     // JSON Pointer of the offending value ("/children/0/properties/2/value");
                          // empty for a syntax error
    std::string message;  // what is wrong; for a syntax error it starts with "line:column: "

    explicit operator bool() const noexcept { return static_cast<bool>(tree); }
    // "ok", or "<path>: <message>" / "<message>".
    std::string description() const;
};

// Builds a content tree from canonical JSON text (members may come in any order; "properties"
// and "children" may be absent). Fails, building nothing, on text that is not JSON, a member
// given twice, unknown or missing members, a value of the wrong shape, an unknown type name, an
// integer out of its type's range, or a shape or image value (which have no JSON form yet).
// Documents of any depth are read without recursion.
KESTREL_CONTENT_API JsonReadResult ReadContentJson(std::string_view text);

}  // namespace kestrel::json
