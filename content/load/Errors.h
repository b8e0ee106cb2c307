// What loading and saving share inside the library: making errors and asking the progress
// callback.
#pragma once

#include <cstdint>
#include <string>

#include "kestrel/Error.h"
#include "kestrel/load/Content.h"

namespace kestrel::load {

Error MakeError(Error::Code code, std::string message, std::string path = {});

// Turns ParseXml's "line:column: reason" into a Malformed error.
Error MalformedError(const std::string& reason, const std::string& path);

// The error for the exception being handled; call it inside a catch block only.
Error FromException(const std::string& path);

// Asks the progress callback, if any; false when it wants the operation to stop.
inline bool Report(const ProgressCallback& progress, std::uint64_t done, std::uint64_t total) {
    return !progress || progress(done, total);
}

}  // namespace kestrel::load
