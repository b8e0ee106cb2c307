// The serialized-content module opened at run time, exactly as the platform opens it: the
// library by path (dlopen, or LoadLibraryW on Windows), then its loader component through
// OrbDllCreateComponent.
#pragma once

#include <string>
#include <utility>

#include "kernel/ComponentLibrary.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"
#include "kestrel/load/Content.h"
#include "utilities/SmartPtr.h"

namespace kestrel {

// An opened module library; a default Module is not open. Loads through one module may run on
// several threads at once.
class KESTREL_CONTENT_API Module {
public:
    Module() = default;

    explicit operator bool() const noexcept { return static_cast<bool>(library_); }
    // The path the library was opened from.
    const std::string& path() const;

    // Loads the content file at path through a new loader component of the module and waits for
    // its event. When the module refuses the file, the file is looked at again to say why:
    // NotFound, NotRegularFile or Unreadable (the system's reason), Malformed (with line and
    // column), else LoadFailed; moduleMessage then holds what the module said. Also fails with
    // ModuleUnavailable (the module makes no content loader), Cancelled or Internal.
    // options.modulePath is not used.
    LoadResult Load(const std::string& path, const LoadOptions& options = {}) const;

private:
    friend struct ModuleOpener;
    explicit Module(SmartPtr<ComponentLibrary> library) : library_(std::move(library)) {}

    SmartPtr<ComponentLibrary> library_;
};

// An opened module, or why there is none.
struct ModuleResult {
    Module module;
    Error error;  // ModuleUnavailable, with the system's reason in moduleMessage

    explicit operator bool() const noexcept { return static_cast<bool>(module); }
};

// Opens the module library at modulePath; empty means libserializedContent beside this library
// (the directory the package installs both into). A library stays open for the whole process,
// so opening the same path again is cheap.
KESTREL_CONTENT_API ModuleResult OpenModule(const std::string& modulePath = {});

// The module library's file name on this system: "libserializedContent.so",
// "serializedContent.dll".
KESTREL_CONTENT_API std::string ModuleFileName();

}  // namespace kestrel
