#include "OutputFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "AtomicFile.h"

namespace kestrelsc {

bool WriteOutput(const std::string& path, const std::string& text, std::string& error,
                 const std::function<void(std::uint64_t)>& written) {
    if (!path.empty() && path != "-") {
        // Blocks of a few megabytes keep a progress bar moving without slowing the write.
        constexpr std::size_t kBlock = std::size_t{4} << 20;
        return toolfiles::WriteFileAtomically(
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
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace kestrelsc
