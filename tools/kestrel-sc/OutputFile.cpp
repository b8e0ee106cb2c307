#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace kestrelsc {

namespace {

bool WriteAll(int fd, const std::string& text, std::string& error) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool WriteOutput(const std::string& path, const std::string& text, std::string& error) {
    if (path.empty() || path == "-") {
        if (!WriteAll(STDOUT_FILENO, text, error)) {
            error = "cannot write to standard output: " + error;
            return false;
        }
        return true;
    }
    std::filesystem::path target(path);
    std::filesystem::path directory = target.parent_path();
    std::string pattern =
        ((directory.empty() ? std::filesystem::path(".") : directory) / ".kestrel-sc-XXXXXX")
            .string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = path + ": cannot create a temporary file beside it: " + std::strerror(errno);
        return false;
    }
    bool ok =
        WriteAll(fd, text, error) && (::fsync(fd) == 0 || (error = std::strerror(errno), false));
    // Keep the permissions an ordinary new file would get.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    if (::close(fd) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(pattern.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(pattern.c_str());
        error = path + ": " + error;
    }
    return ok;
}

}  // namespace kestrelsc
