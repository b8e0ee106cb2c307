// Asking the progress callback of a load or a save.
#pragma once

#include <cstdint>

#include "kestrel/load/Content.h"

namespace kestrel::load {

// Asks the progress callback, if any; false when it wants the operation to stop.
inline bool Report(const ProgressCallback& progress, std::uint64_t done, std::uint64_t total) {
    return !progress || progress(done, total);
}

}  // namespace kestrel::load
