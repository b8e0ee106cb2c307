// Writing the tool's output: to stdout, or atomically to a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "kestrel/Error.h"

namespace kestrelsc {

// Writes text to path through a temporary file in the same directory that is renamed over path
// once complete, so a failed run never leaves a partial file; "-" or an empty path writes to
// stdout. written (if set) hears the bytes written so far. WriteFailed on failure (the temporary
// file is removed).
kestrel::Error WriteOutput(const std::string& path, const std::string& text,
                           const std::function<void(std::uint64_t)>& written = {});

}  // namespace kestrelsc
