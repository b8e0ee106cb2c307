// Symbol visibility for the kernel library.
#pragma once

#include "utilities/Export.h"

#if defined(KESTREL_BUILDING_KERNEL)
#define KERNEL_API KESTREL_DLL_EXPORT
#else
#define KERNEL_API KESTREL_DLL_IMPORT
#endif
