// Loader: the kernel's framework that finds and loads component modules.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kernel/ComponentLibrary.h"
#include "kernel/Export.h"
#include "utilities/RefCounted.h"
#include "utilities/SmartPtr.h"
#include "utilities/Symbol.h"

// Finds component modules by role, family and format. The module of family F and format M is the
// library named "F_M" (libF_M.so, F_M.dll) in the first directory of the search path that has
// it; it is opened once and asked for the component of type role and name M.
//
// The search path starts as the directories of the environment variable KESTREL_MODULE_PATH
// (separated by ':' or, on Windows, ';'), then the directory of the kernel library itself.
class KERNEL_API Loader : public RefCounted {
public:
    Loader();
    ~Loader() override;

    // The process's loader framework; null when none is installed.
    static SmartPtr<Loader> GetLoader();
    // Installs loader as the process's framework (null removes it); gives the previous one.
    static SmartPtr<Loader> SetLoader(SmartPtr<Loader> loader);

    // Loads the module (role, family, format) into module; true when it delivered a component.
    virtual bool LoadModule(const Symbol& role, const Symbol& family, const Symbol& format,
                            SmartPtr<RefCounted>& module);

    // Adds a directory to the end of the search path.
    void AddSearchPath(const std::string& directory);
    // The search path in order.
    std::vector<std::string> GetSearchPath() const;
    // Why the last LoadModule failed; empty after a success.
    std::string GetLastError() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> searchPath_;
    std::vector<std::pair<std::string, SmartPtr<ComponentLibrary>>> opened_;
    std::string lastError_;
};
