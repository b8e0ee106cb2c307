// Random content trees for round-trip tests: every value type, awkward names and texts, random
// nesting. A tree depends only on its seed, so a failing one can be made again from the seed.
#pragma once

#include <cstdint>

#include "kernel/SerializedContentElement.h"
#include "utilities/SmartPtr.h"

namespace randomcontent {

// Which form the tree has to survive; each keeps a different set of trees (see RandomContent.cpp).
enum class Target {
    Xml,   // content files: the module's writer, XML text and the module's reader
    Json,  // the canonical JSON form of tools/content-json
};

// A random tree below a top element "figure" (Xml) or a randomly named top element (Json),
// holding only what the target carries unchanged.
SmartPtr<SerializedContentElement> RandomTree(std::uint64_t seed, Target target);

}  // namespace randomcontent
