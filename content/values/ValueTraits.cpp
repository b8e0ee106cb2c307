#include "kestrel/values/ValueTraits.h"

namespace kestrel::values {

const serializedContent::NameTable& Names() {
    // The module's own table of names, built once more here: its copies are not exported.
    static const serializedContent::NameTable* names = new serializedContent::NameTable;
    return *names;
}

}  // namespace kestrel::values
