// Changing a loaded tree in place: a value replaced, a property or a child removed.
#pragma once

#include <cstddef>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"
#include "utilities/SmartPtr.h"

namespace kestrel::edit {

// Replaces the value of element's property at index, keeping its name and place. The new value
// must be of the type the property holds unless anyType; fails with InvalidArgument (nothing
// changed) for an index out of range or a value of another type.
KESTREL_CONTENT_API Error SetPropertyValue(SerializedContentElement& element, std::size_t index,
                                           PropertyValue value, bool anyType = false);

// Removes element's property at index, the later ones moving up; InvalidArgument for an index
// out of range.
KESTREL_CONTENT_API Error RemoveProperty(SerializedContentElement& element, std::size_t index);

// A child taken out of its tree, or why none was.
struct RemovedChild {
    SmartPtr<SerializedContentElement>
        element;  // now a top element with its subtree; null on failure
    Error error;  // InvalidArgument for an index out of range

    // True when the child was removed.
    explicit operator bool() const noexcept { return element && !error; }
};

// Takes parent's child at index out of the tree, the later ones moving up; the child keeps its
// subtree and lives on as long as the result (or another SmartPtr) holds it.
KESTREL_CONTENT_API RemovedChild RemoveChild(SerializedContentElement& parent, std::size_t index);

}  // namespace kestrel::edit
