// Changing the properties of a loaded tree in place: a value replaced, a property removed.
#pragma once

#include <cstddef>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"

namespace kestrel::edit {

// Replaces the value of element's property at index, keeping its name and place. The new value
// must be of the type the property holds unless anyType; fails with InvalidArgument (nothing
// changed) for an index out of range or a value of another type.
KESTREL_CONTENT_API Error SetPropertyValue(SerializedContentElement& element, std::size_t index,
                                           PropertyValue value, bool anyType = false);

// Removes element's property at index, the later ones moving up; InvalidArgument for an index
// out of range.
KESTREL_CONTENT_API Error RemoveProperty(SerializedContentElement& element, std::size_t index);

}  // namespace kestrel::edit
