// How values are shown to people: type names and one-line summaries, as kestrel-sc prints them.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/PropertyValue.h"
#include "kernel/SerializedContentElement.h"
#include "kestrel/Export.h"

namespace kestrel::values {

// The type name of a value (ValueTraits<T>::typeName): "int32", "dpoint3d", "float[]", "dhex".
KESTREL_CONTENT_API std::string TypeName(const PropertyValue& value);

// The value in one line: numbers and compounds in their text form, strings quoted, arrays as
// "[count] a, b, c" with arrays longer than maxItems shown by their first and last items, shapes
// by their vertex and triangle counts, images by their size and pixel format.
KESTREL_CONTENT_API std::string ValueSummary(const PropertyValue& value, std::size_t maxItems = 8);

// A property as kestrel-sc tree shows it: "@name: type = summary" (ValueSummary with maxItems), or
// "@name: type" without the value.
KESTREL_CONTENT_API std::string PropertyLine(const SerializedContentElement::Property& property,
                                             std::size_t maxItems = 8, bool withValue = true);

// An image as "48 x 24 rgba8".
KESTREL_CONTENT_API std::string ImageSummary(const Image& image);

}  // namespace kestrel::values
