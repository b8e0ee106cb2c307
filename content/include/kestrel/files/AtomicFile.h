// Writing files so that readers never see a half-written one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "kestrel/Error.h"
#include "kestrel/Export.h"

namespace kestrel::files {

// Hands write a stdio stream on a new temporary file beside path, then syncs it and renames it
// over path; write returns false to abandon the file (Cancelled). A file replaced keeps
// its permissions, a new one gets those of an ordinary new file; a symbolic link is followed and
// its target replaced. On any failure (no room, a file-size limit, no permission, a write error the
// stream recorded) the temporary file is removed, path is left as it was, and the result is
// WriteFailed with the reason. An existing path that is not a regular file (a device such as
// /dev/null, a pipe) is written straight through instead; a directory fails.
KESTREL_CONTENT_API Error WriteFileAtomically(const std::string& path,
                                              const std::function<bool(std::FILE*)>& write);

// Writes bytes to path the same way, in chunks of at most 1 MiB; written (if set) hears the bytes
// written so far after each chunk and returns false to abandon the file (Cancelled).
KESTREL_CONTENT_API Error
WriteFileAtomically(const std::string& path, std::string_view bytes,
                    const std::function<bool(std::uint64_t written)>& written = {});

// For programs that write files: interrupting signals (SIGINT, SIGTERM, and SIGHUP where there is
// one) first remove the temporary files being written, and going over a file-size limit (ulimit
// -f) fails the write with "File too large" instead of killing the process with the temporary
// file left behind.
KESTREL_CONTENT_API void CleanUpOnSignals();

}  // namespace kestrel::files
