#include "OutputFile.h"

#include <algorithm>
#include <cstdio>

#include "kestrel/files/AtomicFile.h"
#include "kestrel/files/Console.h"

namespace kestrelsc {

kestrel::Error WriteOutput(const std::string& path, const std::string& text,
                           const std::function<void(std::uint64_t)>& written) {
    if (!path.empty() && path != "-") {
        return kestrel::files::WriteFileAtomically(path, text, [&](std::uint64_t done) {
            if (written)
                written(done);
            return true;
        });
    }
    return kestrel::files::WriteStandardOutput(text);
}

}  // namespace kestrelsc
