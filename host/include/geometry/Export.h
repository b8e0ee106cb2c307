// Symbol visibility for the geometry library.
#pragma once

#include "utilities/Export.h"

#if defined(KESTREL_BUILDING_GEOMETRY)
#define GEOMETRY_API KESTREL_DLL_EXPORT
#else
#define GEOMETRY_API KESTREL_DLL_IMPORT
#endif
