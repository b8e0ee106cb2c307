// Element paths: how programs name an element of a content tree, "bicycle/frame".
#pragma once

#include <string>

#include "kestrel/Export.h"

class SerializedContentElement;

namespace kestrel::paths {

// A path names an element by the names of the elements leading to it below the top element,
// separated by '/': "bicycle/frame". A leading '/' or a first segment naming the top element
// itself ("figure/bicycle") is allowed. Where siblings share a name the first one counts; an
// empty path is the top element.

// The element at path below top, or null when there is none.
KESTREL_CONTENT_API SerializedContentElement* FindElement(SerializedContentElement& top,
                                                          const std::string& path);

// The element at path, creating the missing elements of the path (appended as last children).
KESTREL_CONTENT_API SerializedContentElement* MakeElement(SerializedContentElement& top,
                                                          const std::string& path);

// The path of element from its top element, the top's name included: "figure/bicycle/frame".
KESTREL_CONTENT_API std::string PathOf(const SerializedContentElement& element);

}  // namespace kestrel::paths
