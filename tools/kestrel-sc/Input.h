// Reading the tool's input: a content file through the module, or canonical JSON.
#pragma once

#include <string>

#include "ContentModule.h"
#include "Progress.h"

namespace kestrelsc {

// The forms an input can come in.
enum class InputForm { Xml, Json };

// The form of the file at path, told from its first character after white space and a byte
// order mark: '{' is JSON, anything else (or a file that cannot be read) a content file.
InputForm DetectForm(const std::string& path);

// Loads path in its form. A content file goes through the module opened from modulePath (see
// ContentModule::Open); JSON is read directly. On failure outcome.error says why, and the result
// is the exit status (1: the input is bad, 2: the module could not be opened). Progress is drawn
// on stderr as mode says. opened, if set and open, is used instead of opening the module again;
// loads through one opened module may run on several threads at once.
int LoadInput(const std::string& modulePath, const std::string& path, LoadOutcome& outcome,
              ProgressMode progress = ProgressMode::Off, const ContentModule* opened = nullptr);

}  // namespace kestrelsc
