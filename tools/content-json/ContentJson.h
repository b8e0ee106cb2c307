// The canonical JSON form of a content tree (docs/json.md).
#pragma once

#include <string>

class SerializedContentElement;

namespace contentjson {

// How the JSON text is laid out.
struct JsonWriteOptions {
    int indent = 2;  // spaces per level; 0 or less writes one line
};

// The canonical JSON text of element and everything below it, followed by a newline. Trees of
// any depth are written without recursion.
std::string WriteContentJson(const SerializedContentElement& element,
                             const JsonWriteOptions& options = {});

}  // namespace contentjson
