// The indented outline of a content tree printed by "kestrel-sc tree".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "kestrel/load/Content.h"

namespace kestrelsc {

// Options of the outline.
struct TreeOptions {
    int indent = 2;                  // spaces per level
    std::size_t maxItems = 8;        // longer arrays show their first and last items only
    int maxDepth = -1;               // levels below the top shown; negative: all
    bool typesOnly = false;          // properties as "@name: type", without values
    std::vector<std::string> masks;  // element paths; when given, only these subtrees (and the
                                     // elements leading to them) are shown
};

// The outline of element and its subtree: one line per element, then one per property
// ("@name: type = value"), children indented below their parent. Indentation stops growing at
// depth 64; deeper lines start with their depth instead. Elements cut by maxDepth are counted
// in a line "... N more elements". False with the offending path in error when a mask names no
// element.
bool FormatTree(SerializedContentElement& element, const TreeOptions& options, std::string& out,
                std::string& error);

}  // namespace kestrelsc
