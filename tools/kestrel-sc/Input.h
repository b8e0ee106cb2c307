// Reading the tool's input: a content file through the module, or canonical JSON.
#pragma once

#include <string>

#include "Progress.h"
#include "kestrel/load/Module.h"

namespace kestrelsc {

// The result of loading one input.
struct LoadOutcome {
    SmartPtr<SerializedContentElement> tree;  // the tree below "figure"; null on failure
    kestrel::Error error;                     // why there is none
    double seconds = 0;                       // wall time of the load

    explicit operator bool() const noexcept { return static_cast<bool>(tree); }
};

// The forms an input can come in.
enum class InputForm { Xml, Json };

// The form of the file at path, told from its first character after white space and a byte
// order mark: '{' is JSON, anything else (or a file that cannot be read) a content file.
InputForm DetectForm(const std::string& path);

// Opens the module library at path; an empty path finds it beside the tool (../lib or the
// tool's own directory) unless KESTREL_SC_MODULE names it.
kestrel::ModuleResult OpenToolModule(const std::string& path);

// Loads path in its form. A content file goes through the module opened from modulePath (see
// OpenToolModule); JSON is read directly. Progress is drawn on stderr as mode says. opened, if
// set and open, is used instead of opening the module again; loads through one opened module may
// run on several threads at once.
LoadOutcome LoadInput(const std::string& modulePath, const std::string& path,
                      ProgressMode progress = ProgressMode::Off,
                      const kestrel::Module* opened = nullptr);

// A failed load in the tool's words: the file, where in it, why, and in parentheses what the
// module said.
std::string DescribeLoadError(const kestrel::Error& error);

}  // namespace kestrelsc
