// The names shared by the content writer and reader: elements, attributes and type names.
#pragma once

#include "utilities/Symbol.h"

namespace serializedContent {

// One copy of the document's names, in the order they are built.
struct NameTable {
    Symbol property{"kestrel_sc:property"};
    Symbol type{"type"};
    Symbol name{"name"};
    Symbol value{"value"};
    Symbol boolType{"bool"};
    Symbol colorType{"color"};
    Symbol doubleType{"double"};
    Symbol floatType{"float"};
    Symbol uint8Type{"uint8"};
    Symbol uint16Type{"uint16"};
    Symbol uint32Type{"uint32"};
    Symbol uint64Type{"uint64"};
    Symbol int8Type{"int8"};
    Symbol int16Type{"int16"};
    Symbol int32Type{"int32"};
    Symbol int64Type{"int64"};
    Symbol locationType{"location"};
    Symbol quatType{"quat"};
    Symbol dvec2Type{"dvec2"};
    Symbol dvec3Type{"dvec3"};
    Symbol fvec3Type{"fvec3"};
    Symbol dpoint3dType{"dpoint3d"};
    Symbol dpoint2dType{"dpoint2d"};
    Symbol fpoint3dType{"fpoint3d"};
    Symbol stringType{"string"};
    Symbol imageType{"image"};
    Symbol shapeType{"shape"};
    Symbol propertyArray{"kestrel_sc:property_array"};
    Symbol arrayCount{"count"};
    Symbol arrayName{"name"};
    Symbol arrayType{"type"};
};

// The writer's copy, built first when the library is loaded.
extern const NameTable writerNames;
// The reader's copy, built second.
extern const NameTable readerNames;

}  // namespace serializedContent
