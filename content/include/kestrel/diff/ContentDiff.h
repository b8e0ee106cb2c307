// The typed comparison of two content trees (kestrel-sc diff).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kestrel/Export.h"

class SerializedContentElement;

namespace kestrel::diff {

// How values are compared.
struct DiffOptions {
    // Floating-point values (float, double, the components of compound values, shape vertex
    // coordinates) are equal when bit-identical or at most eps apart; any NaN then equals any
    // NaN. With 0, only the bits count: -0 differs from 0, and NaNs need the same payload.
    double eps = 0;
    // Leave out the order of differently named siblings (elements and properties).
    bool ignoreOrder = false;
};

enum class DifferenceKind {
    Added,    // an element or property only the second tree has
    Removed,  // an element or property only the first tree has
    Changed,  // a property value differs, or the order of an element's children or properties
    Type,     // a property of the same name holds a different type
};

// One difference between the trees. Elements and properties are matched by name: the k-th of a
// name among its siblings with the k-th of that name. Paths name the k-th (k > 0) as "name[k]".
struct Difference {
    DifferenceKind kind = DifferenceKind::Changed;
    std::string path;                     // the element, "figure/bicycle/frame"
    std::optional<std::string> property;  // the property ("mass", "tag[1]"); none for elements
    std::string type;                     // the property's type (in B when only B has it)
    std::string typeB;                    // Type: the type in B
    std::optional<std::string> a, b;      // one-line summaries of the values on each side
    std::string detail;                   // what differs, when a and b alone do not show it
};

// The differences between a and b, in document order: for each pair of matched elements its
// properties, the order of its properties and children, its removed and added children, then
// the matched children's differences. Works without recursion on trees of any depth.
KESTREL_CONTENT_API std::vector<Difference> DiffContent(const SerializedContentElement& a,
                                                        const SerializedContentElement& b,
                                                        const DiffOptions& options = {});

// The difference as a line without newline:
//   "+ path", "- path"                          an element only B / only A has
//   "+ path@name: type value", "- ..."          a property only B / only A has
//   "~ path@name: type a -> b"                  a value that changed
//   "~ path@name: typeA a -> typeB b"           a property whose type changed
//   "! path@name: type detail"                  a change too large to show (arrays, shapes,
//                                               images), described
//   "! path: detail"                            the order of children or properties, or the
//                                               top element's name, changed
KESTREL_CONTENT_API std::string FormatDifference(const Difference& difference);

// The differences as a JSON array of {"kind", "path", "property", "type", "a", "b", "detail"},
// one a line, and a newline. kind is "added", "removed", "changed" or "type"; type is the
// property's type (A's for "type", whose detail is "typeA -> typeB"); absent members are null.
KESTREL_CONTENT_API std::string DifferencesToJson(const std::vector<Difference>& differences);

}  // namespace kestrel::diff
