// Symbol visibility for the serialized-content module.
#pragma once

#include "utilities/Export.h"

#if defined(KESTREL_BUILDING_SERIALIZEDCONTENT)
#define SERIALIZEDCONTENT_API KESTREL_DLL_EXPORT
#else
#define SERIALIZEDCONTENT_API KESTREL_DLL_IMPORT
#endif
