// A component library for the loader tests: makes a "probe" component named "dummy" and counts
// what the host does with it, readable through the exported counters below.
#include <atomic>
#include <string>

#include "kernel/ComponentLibrary.h"
#include "utilities/Export.h"

namespace {

std::atomic<int> g_initCalls{0};
std::atomic<int> g_liveComponents{0};

class Probe : public RefCounted {
public:
    Probe() { ++g_liveComponents; }
    ~Probe() override { --g_liveComponents; }
};

}  // namespace

extern "C" {

KESTREL_DLL_EXPORT bool OrbDllCreateComponent(const std::string& type, const std::string& name,
                                              void* /*context*/, SmartPtr<RefCounted>& component) {
    if (type != "probe" || name != "dummy")
        return false;
    component = SmartPtr<RefCounted>(new Probe());
    return true;
}

KESTREL_DLL_EXPORT void OrbDllInit() {
    ++g_initCalls;
}

// How often the host called OrbDllInit.
KESTREL_DLL_EXPORT int TestDummyInitCalls() {
    return g_initCalls.load();
}

// Number of components made and not yet freed.
KESTREL_DLL_EXPORT int TestDummyLiveComponents() {
    return g_liveComponents.load();
}

}  // extern "C"
