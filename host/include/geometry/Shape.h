// Shape: a boundary-represented solid of the geometry library.
#pragma once

#include "geometry/Export.h"
#include "utilities/RefCounted.h"

// A shape held by reference count; its bodies, faces and meshes hang below it.
class GEOMETRY_API Shape : public RefCounted {
public:
    Shape();
    ~Shape() override;
};
