// Element paths: how the tool names an element of a content tree on its command line.
#pragma once

#include <string>

class SerializedContentElement;

namespace kestrelsc {

// A path names an element by the names of the elements leading to it below the top element,
// separated by '/': "bicycle/frame". A leading '/' or a first segment naming the top element
// itself ("figure/bicycle") is allowed. Where siblings share a name the first one counts; an
// empty path is the top element.

// The element at path below top, or null when there is none.
SerializedContentElement* FindElement(SerializedContentElement& top, const std::string& path);

// The element at path, creating the missing elements of the path (appended as last children).
SerializedContentElement* MakeElement(SerializedContentElement& top, const std::string& path);

// The path of element from its top element, the top's name included: "figure/bicycle/frame".
std::string PathOf(const SerializedContentElement& element);

}  // namespace kestrelsc
