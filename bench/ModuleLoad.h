// Loading content files through the serialized-content module opened at run time, as the
// platform and kestrel-sc do: ComponentLibrary, a "loader" component, and the load's event.
#pragma once

#include <string>

#include "kernel/ComponentLibrary.h"
#include "kernel/SerializedContentElement.h"
#include "utilities/SmartPtr.h"

namespace kestrelbench {

class ModuleLoader {
public:
    // Opens libserializedContent: the one KESTREL_SC_MODULE names, else the one in ../lib beside
    // this program, else the one beside it. Check with operator bool; error says why not.
    static ModuleLoader Open(std::string& error);

    explicit operator bool() const noexcept { return static_cast<bool>(library_); }
    const std::string& GetPath() const { return library_->GetPath(); }

    // The tree below "figure" of the file at path, loaded by a new loader component and waited
    // for; null with error set when the load fails.
    SmartPtr<SerializedContentElement> Load(const std::string& path, std::string& error) const;

private:
    SmartPtr<ComponentLibrary> library_;
};

}  // namespace kestrelbench
