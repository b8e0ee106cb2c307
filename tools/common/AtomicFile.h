// Writing files so that readers never see a half-written one.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace toolfiles {

// Hands write a stdio stream on a new temporary file beside path, then syncs it and renames it
// over path, with the permissions an ordinary new file gets. On any failure (no room, no
// permission, a write error the stream recorded) the temporary file is removed, path is left as
// it was, and error says "<path>: <reason>".
bool WriteFileAtomically(const std::string& path, const std::function<void(std::FILE*)>& write,
                         std::string& error);

// Writes size bytes at data to path the same way.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string& error);

}  // namespace toolfiles
