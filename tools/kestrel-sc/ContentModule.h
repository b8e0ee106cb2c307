// ContentModule: the serialized-content module opened at run time, as the platform opens it.
#pragma once

#include <functional>
#include <string>

#include "kernel/ComponentLibrary.h"
#include "kernel/SerializedContentElement.h"
#include "utilities/SmartPtr.h"

namespace kestrelsc {

// The result of loading one content file.
struct LoadOutcome {
    SmartPtr<SerializedContentElement> tree;  // the tree below "figure"; null on failure
    std::string error;                        // what went wrong, for the user
    double seconds = 0;                       // wall time of the load

    explicit operator bool() const noexcept { return static_cast<bool>(tree); }
};

// The opened module and its loader factory.
class ContentModule {
public:
    // Opens the module library at path; an empty path finds it beside the tool (../lib or the
    // tool's own directory) unless KESTREL_SC_MODULE names it. Null module and error set on
    // failure.
    static ContentModule Open(const std::string& path, std::string& error);

    explicit operator bool() const noexcept { return static_cast<bool>(library_); }
    // The library's path.
    const std::string& GetPath() const { return library_->GetPath(); }

    // Loads file through a new loader component and waits for its event. On failure the error
    // names the file, what the module reported, and why (missing, unreadable, not well-formed
    // XML with line and column, ...). While it waits, waiting (if set) is called about ten times
    // a second.
    LoadOutcome Load(const std::string& file, const std::function<void()>& waiting = {}) const;

private:
    SmartPtr<ComponentLibrary> library_;
};

}  // namespace kestrelsc
