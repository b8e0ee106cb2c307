// Loading content files through the serialized-content module opened at run time, as the
// platform and kestrel-sc do, by way of the kestrel library's Module.
#pragma once

#include <string>

#include "kestrel/load/Module.h"

namespace kestrelbench {

class ModuleLoader {
public:
    // Opens libserializedContent: the one KESTREL_SC_MODULE names, else the one beside the
    // kestrel library. Check with operator bool; error says why not.
    static ModuleLoader Open(std::string& error);

    explicit operator bool() const noexcept { return static_cast<bool>(module_); }
    const std::string& GetPath() const { return module_.path(); }

    // The tree below "figure" of the file at path, loaded by a new loader component and waited
    // for; null with error set when the load fails.
    SmartPtr<SerializedContentElement> Load(const std::string& path, std::string& error) const;

private:
    kestrel::Module module_;
};

}  // namespace kestrelbench
