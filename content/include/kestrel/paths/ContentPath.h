// Element paths: how programs name an element of a content tree, "bicycle/frame".
#pragma once

#include <cstddef>
#include <string>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"

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

// What a path, with "@name" for a property, names: "bicycle/frame@mass".
struct PathTarget {
    SerializedContentElement* element = nullptr;  // the element; null when there is none
    // For "@name": the first property of that name and its index among the element's
    // properties; null for a path without '@'.
    const SerializedContentElement::Property* property = nullptr;
    std::size_t propertyIndex = 0;
    Error error;  // NotFound saying which element or property is missing

    // True when everything the path names was found.
    explicit operator bool() const noexcept { return element && !error; }
};

// Resolves path below top as kestrel-sc get does: the part before the last '@' is an element
// path (FindElement), the part after it a property name. Fails with NotFound, naming the
// element path that has no element or the element that has no such property.
KESTREL_CONTENT_API PathTarget Resolve(SerializedContentElement& top, const std::string& path);

}  // namespace kestrel::paths
