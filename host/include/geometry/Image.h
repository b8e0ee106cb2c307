// Image: a raster image held by reference count.
#pragma once

#include "geometry/Export.h"
#include "utilities/RefCounted.h"

// A raster image.
class GEOMETRY_API Image : public RefCounted {
public:
    Image();
    ~Image() override;
};
