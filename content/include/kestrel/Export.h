// Symbol visibility for the content facade library.
#pragma once

#include "utilities/Export.h"

#if defined(KESTREL_BUILDING_CONTENT)
#define KESTREL_CONTENT_API KESTREL_DLL_EXPORT
#else
#define KESTREL_CONTENT_API KESTREL_DLL_IMPORT
#endif
