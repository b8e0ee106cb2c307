// Symbol visibility for the kestrel library (kestrel_content).
#pragma once

#include "utilities/Export.h"

#if defined(KESTREL_BUILDING_CONTENT)
#define KESTREL_CONTENT_API KESTREL_DLL_EXPORT
#else
#define KESTREL_CONTENT_API KESTREL_DLL_IMPORT
#endif
