#include "OutputFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "AtomicFile.h"

namespace kestrelsc {

bool WriteOutput(const std::string& path, const std::string& text, std::string& error) {
    if (!path.empty() && path != "-") {
        return toolfiles::WriteFileAtomically(path, text.data(), text.size(), error);
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
