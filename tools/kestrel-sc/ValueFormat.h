// How the tool names property types and shows values to people.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/PropertyValue.h"

namespace kestrelsc {

// The type name of a value: the format's name ("int32", "dpoint3d", "float[]"), or for types the
// format has no name for, "dhex" and "<element type>[]".
std::string TypeName(const PropertyValue& value);

// True when the XML format can carry the value (the writer leaves other types out).
bool HasXmlForm(const PropertyValue& value);

// The value in one line: numbers and compounds in their text form, strings quoted, arrays as
// "[count] a, b, c" with arrays longer than maxItems shown by their first and last items.
std::string ValueSummary(const PropertyValue& value, std::size_t maxItems = 8);

}  // namespace kestrelsc
