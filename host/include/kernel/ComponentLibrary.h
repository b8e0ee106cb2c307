// ComponentLibrary: a dynamically loaded library that makes components for the host.
#pragma once

#include <string>

#include "kernel/Export.h"
#include "utilities/RefCounted.h"
#include "utilities/SmartPtr.h"

// The factory every component library exports with the plain C name "OrbDllCreateComponent":
// true and component set when it makes a component of that type and name, false otherwise.
using OrbDllCreateComponentFunction = bool (*)(const std::string& type, const std::string& name,
                                               void* context, SmartPtr<RefCounted>& component);
// The start and stop hooks exported as "OrbDllInit" and "OrbDllTerminate".
using OrbDllHookFunction = void (*)();

// An opened component library. The library stays loaded for the rest of the process: components
// it made may outlive this object.
class KERNEL_API ComponentLibrary : public RefCounted {
public:
    // Opens the library at path (dlopen / LoadLibrary) and finds its factory; null with *error
    // set when it cannot be opened or exports no "OrbDllCreateComponent". Calls "OrbDllInit"
    // when the library exports it.
    static SmartPtr<ComponentLibrary> Open(const std::string& path, std::string* error);

    ~ComponentLibrary() override;

    // Asks the library's factory for a component of type and name.
    bool CreateComponent(const std::string& type, const std::string& name,
                         SmartPtr<RefCounted>& component) const;
    // The address of an exported symbol, or null.
    void* FindSymbol(const char* name) const;
    // The path the library was opened from.
    const std::string& GetPath() const noexcept { return path_; }

    // The file name of a library called name on this platform ("libname.so", "name.dll").
    static std::string PlatformFileName(const std::string& name);

private:
    ComponentLibrary(void* handle, std::string path, OrbDllCreateComponentFunction factory);

    void* handle_;
    std::string path_;
    OrbDllCreateComponentFunction factory_;
};
