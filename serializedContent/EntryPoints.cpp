// The module's exported entry points and, on Windows, its library entry.
#include <new>
#include <string>

#include "serializedContent/SerializedContentParser.h"

#if defined(_WIN32)
#include <windows.h>

// The module needs no per-thread notifications; the name tables are built by the C runtime
// before this runs and destroyed after the last notification.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(module);
    return TRUE;
}
#endif

extern "C" bool OrbDllCreateComponent(const std::string& type, const std::string& name,
                                      void* /*context*/, SmartPtr<RefCounted>& component) {
    if (type != "loader")
        return false;
    if (name != "serializedcontent")
        return false;
    serializedContent::SerializedContentParser* loader = nullptr;
    try {
        // The pool's operator new gives null when it is exhausted.
        loader = new serializedContent::SerializedContentParser();
    } catch (const std::bad_alloc&) {
        loader = nullptr;
    }
    component = static_cast<RefCounted*>(loader);
    return true;
}

extern "C" void OrbDllInit() {}

extern "C" void OrbDllTerminate() {}
