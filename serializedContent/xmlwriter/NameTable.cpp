#include "serializedContent/xmlwriter/NameTable.h"

namespace serializedContent {

// Both copies live in this one file so that they are built in this order at library load and
// destroyed in the reverse order at unload.
const NameTable writerNames;
const NameTable readerNames;

}  // namespace serializedContent
