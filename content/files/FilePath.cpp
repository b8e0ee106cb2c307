#include "kestrel/files/FilePath.h"

#include <sys/stat.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>

#include "MakeError.h"

namespace kestrel::files {

FileStatus StatFile(const std::string& utf8) {
    FileStatus status;
#if defined(_WIN32)
    struct _stat64 info {};
    const int result = ::_wstat64(PathOf(utf8).c_str(), &info);
#else
    struct stat info {};
    const int result = ::stat(utf8.c_str(), &info);
#endif
    if (result != 0) {
        status.error = errno;
        return status;
    }
    status.directory = S_ISDIR(info.st_mode);
    status.regular = S_ISREG(info.st_mode);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.permissions = static_cast<std::uint32_t>(info.st_mode) & 07777;
    return status;
}

Error ReadRegularFile(const std::string& utf8, std::string& text) {
    const auto notRegular = [&utf8](bool directory) {
        return MakeError(Error::NotRegularFile, directory ? "is a directory" : "not a regular file",
                         utf8);
    };
#if defined(_WIN32)
    // Windows has no FIFOs to block on; the file is told apart first and read through its
    // wide name.
    const FileStatus status = StatFile(utf8);
    if (status.error != 0)
        return FileError(status.error, utf8);
    if (status.directory || !status.regular)
        return notRegular(status.directory);
    errno = 0;
    std::ifstream in(PathOf(utf8), std::ios::binary);
    if (!in)
        return FileError(errno ? errno : EACCES, utf8);
    text.clear();
    text.reserve(static_cast<std::size_t>(status.size));
    char buffer[65536];
    while (in) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
        return FileError(EIO, utf8);
    return {};
#else
    // Opened without blocking, so that a FIFO without a writer is refused rather than waited on.
    const int fd = ::open(utf8.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FileError(errno, utf8);
    struct stat info {};
    Error error;
    if (::fstat(fd, &info) != 0)
        error = FileError(errno, utf8);
    else if (!S_ISREG(info.st_mode))
        error = notRegular(S_ISDIR(info.st_mode));
    text.clear();
    if (!error)
        text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    while (!error) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0)
            break;
        else if (errno != EINTR)
            error = FileError(errno, utf8);
    }
    ::close(fd);
    return error;
#endif
}

std::filesystem::path ExecutableDirectory() {
#if defined(_WIN32)
    // Long enough for "\\?\" paths; GetModuleFileNameW truncates silently otherwise.
    std::wstring self(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0 || length >= self.size())
        return {};
    self.resize(length);
    return std::filesystem::path(self).parent_path();
#else
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
#endif
}

}  // namespace kestrel::files
