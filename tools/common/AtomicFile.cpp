#include "AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace toolfiles {

bool WriteFileAtomically(const std::string& path, const std::function<void(std::FILE*)>& write,
                         std::string& error) {
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    std::string temporary =
        ((directory.empty() ? std::filesystem::path(".") : directory) / ".kestrel-sc-XXXXXX")
            .string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = path + ": cannot create a temporary file beside it: " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; give it the permissions an ordinary new file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    std::vector<char> buffer(std::size_t{1} << 20);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    errno = 0;
    write(file);
    int failure = 0;
    if (std::ferror(file) || std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) {
        failure = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        error = path + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string& error) {
    return WriteFileAtomically(
        path, [&](std::FILE* file) { std::fwrite(data, 1, size, file); }, error);
}

}  // namespace toolfiles
