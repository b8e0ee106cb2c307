// Symbol visibility for the host libraries and the modules built on them.
#pragma once

#if defined(_WIN32)
#define KESTREL_DLL_EXPORT __declspec(dllexport)
#define KESTREL_DLL_IMPORT __declspec(dllimport)
#else
#define KESTREL_DLL_EXPORT __attribute__((visibility("default")))
#define KESTREL_DLL_IMPORT __attribute__((visibility("default")))
#endif

#if defined(KESTREL_BUILDING_UTILITIES)
#define UTILITIES_API KESTREL_DLL_EXPORT
#else
#define UTILITIES_API KESTREL_DLL_IMPORT
#endif

#if defined(__GNUC__)
#define KESTREL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KESTREL_PRINTF_FORMAT(fmt, args)
#endif
