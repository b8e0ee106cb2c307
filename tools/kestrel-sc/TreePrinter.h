// The indented outline of a content tree printed by "kestrel-sc tree".
#pragma once

#include <string>

class SerializedContentElement;

namespace kestrelsc {

// Options of the outline.
struct TreeOptions {
    int indent = 2;  // spaces per level
};

// The outline of element and its subtree, one element per line, children indented below their
// parent. Indentation stops growing at depth 64; deeper lines start with their depth instead.
std::string FormatTree(const SerializedContentElement& element, const TreeOptions& options = {});

}  // namespace kestrelsc
