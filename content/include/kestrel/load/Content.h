// Loading and saving content files from programs that embed the serialized-content module.
//
// Load goes through the module opened at run time, exactly as the platform does; LoadText, Save
// and SaveText use the module's reader and writer directly. No function here throws: failures
// come back as an Error that says what went wrong and where.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "kernel/SerializedContentElement.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"
#include "utilities/SmartPtr.h"

namespace kestrel {

// Progress in bytes, total being 0 when unknown; returning false cancels the operation, which
// then ends with Error::Cancelled and leaves no partial output behind.
using ProgressCallback = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// How Load and LoadText work.
struct LoadOptions {
    // The module library to load through; empty means libserializedContent beside this library
    // (the directory the package installs both into).
    std::string modulePath;
    // Called with (0, size) before the load starts and (size, size) once it has succeeded; a
    // load through the module cannot report finer steps.
    ProgressCallback progress;
    // Called about ten times a second while the module loads, for displays that show time
    // passing.
    std::function<void()> waiting;
};

// How Save and SaveText work.
struct SaveOptions {
    // Spaces per level of XML; 0 or less writes everything on one line.
    int indent = 2;
    // False leaves out properties whose types content files cannot hold (DHex, arrays of most
    // types), as the module's writer does; true refuses such trees with Error::NotSavable.
    bool strict = false;
    // Save writes the text as it makes it: it calls progress with (0, the expected size), after
    // each MiB written with (bytes written, the expected size or more), and last with (size,
    // size). SaveText calls it with (0, size) and (size, size).
    ProgressCallback progress;
};

// A loaded tree, or why there is none.
struct LoadResult {
    SmartPtr<SerializedContentElement> tree;  // the top element "figure"; null on failure
    Error error;                              // None on success

    // True when the tree was loaded.
    explicit operator bool() const noexcept { return tree && !error; }
};

// Loads the content file at path through the module, waiting for the load to end. Fails with
// NotFound, NotRegularFile or Unreadable (the system's reason), Malformed (with line and
// column), ModuleUnavailable, LoadFailed or Cancelled.
KESTREL_CONTENT_API LoadResult Load(const std::string& path, const LoadOptions& options = {});

// Reads content file text into a tree below "figure" with the module's reader; fails with
// Malformed (with line and column) or Cancelled. options.modulePath is not used.
KESTREL_CONTENT_API LoadResult LoadText(const std::string& xml, const LoadOptions& options = {});

// Whether Save and SaveText take tree: success, or NotSavable saying why (the top element has
// properties; an element name is no XML name, or is "property" or "property_array" below the top
// element's children, where it would be read back as a property; under strict, a property type
// content files cannot hold).
KESTREL_CONTENT_API Error CheckSavable(const SerializedContentElement& tree, bool strict = false);

// The module and the host report what they pass over while reading (a property type they do not
// know, ...) as trace lines, on standard error by default. Sends each line ("module/class: type:
// text") to sink instead; an empty sink restores standard error. Holds for the whole process.
KESTREL_CONTENT_API void SetTraceSink(std::function<void(const std::string& line)> sink);

// The namespace the "kestrel_sc" prefix of content files is bound to. Everything that writes a
// content file (Save, SaveText, kestrel-sc) declares it on the root element as
// kNamespaceAttribute="kNamespaceName", so that namespace-aware XML tools take the files. The
// name never changes; reading does not need the declaration, as the reader goes by names alone.
inline constexpr const char* kNamespaceName = "urn:kestrel-sc:serialized-content";
inline constexpr const char* kNamespaceAttribute = "xmlns:kestrel_sc";

// Writes tree as a content file at path: its children below a root element "kestrel_sc:" + the
// top element's name that declares kNamespaceName, written to a temporary file beside path and
// renamed over it once complete, so path is either untouched or wholly replaced. Fails with
// NotSavable (see CheckSavable), WriteFailed (the system's reason), InvalidArgument (empty path)
// or Cancelled.
KESTREL_CONTENT_API Error Save(const SerializedContentElement& tree, const std::string& path,
                               const SaveOptions& options = {});

// The text Save would write; empty with *error (when given) set on failure, which can be
// NotSavable or Cancelled.
KESTREL_CONTENT_API std::string SaveText(const SerializedContentElement& tree,
                                         Error* error = nullptr, const SaveOptions& options = {});

}  // namespace kestrel
