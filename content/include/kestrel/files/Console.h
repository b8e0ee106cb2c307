// The process's command line and standard streams, the same on every system: UTF-8 arguments,
// and output bytes written as given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kestrel/Error.h"
#include "kestrel/Export.h"

namespace kestrel::files {

// The command line in UTF-8. On Windows the narrow argv went through the ANSI code page and lost
// every character outside it, so the arguments come from the wide command line instead.
KESTREL_CONTENT_API std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes standard output and standard error write bytes as given: LF line ends on Windows too,
// not CR LF. Nothing to do elsewhere.
KESTREL_CONTENT_API void UseBinaryStandardStreams();

// Whether standard error is a terminal.
KESTREL_CONTENT_API bool StandardErrorIsTerminal();

// Writes all of text to standard output, unbuffered; WriteFailed with the system's reason when it
// cannot.
KESTREL_CONTENT_API Error WriteStandardOutput(std::string_view text);

}  // namespace kestrel::files
