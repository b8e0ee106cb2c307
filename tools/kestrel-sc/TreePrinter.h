// The indented outline of a content tree printed by "kestrel-sc tree".
#pragma once

#include <cstddef>
#include <string>

class SerializedContentElement;

namespace kestrelsc {

// Options of the outline.
struct TreeOptions {
    int indent = 2;            // spaces per level
    std::size_t maxItems = 8;  // longer arrays show their first and last items only
};

// The outline of element and its subtree: one line per element, then one per property
// ("@name: type = value"), children indented below their parent. Indentation stops growing at depth
// 64; deeper lines start with their depth instead.
std::string FormatTree(const SerializedContentElement& element, const TreeOptions& options = {});

}  // namespace kestrelsc
