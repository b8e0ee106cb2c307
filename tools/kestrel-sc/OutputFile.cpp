#include "OutputFile.h"

#include <algorithm>
#include <cstdio>

#include "kestrel/files/AtomicFile.h"
#include "kestrel/files/Console.h"

namespace kestrelsc {

bool WriteOutput(const std::string& path, const std::string& text, std::string& error,
                 const std::function<void(std::uint64_t)>& written) {
    if (!path.empty() && path != "-") {
        // Blocks of a few megabytes keep a progress bar moving without slowing the write.
        constexpr std::size_t kBlock = std::size_t{4} << 20;
        return kestrel::files::WriteFileAtomically(
            path,
            [&](std::FILE* file) {
                for (std::size_t done = 0; done < text.size();) {
                    const std::size_t block = std::min(kBlock, text.size() - done);
                    if (std::fwrite(text.data() + done, 1, block, file) != block)
                        return true;  // the stream holds the error
                    done += block;
                    if (written)
                        written(done);
                }
                return true;
            },
            error);
    }
    return kestrel::files::WriteStandardOutput(text, error);
}

}  // namespace kestrelsc
