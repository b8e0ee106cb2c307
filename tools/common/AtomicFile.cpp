#include "AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace toolfiles {

namespace {

// Names of the temporary files being written, for the signal handler to remove. Fixed storage,
// as a handler may neither allocate nor lock; a slot is published by its flag.
struct PendingSlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> named{false};
    char name[PATH_MAX];
};
PendingSlot pending[64];

// Registers name for removal on a signal while it lives; silently untracked when all slots are
// taken or the name is too long (the write itself goes on).
class PendingTemporary {
public:
    explicit PendingTemporary(const std::string& name) {
        if (name.size() >= PATH_MAX)
            return;
        for (PendingSlot& slot : pending) {
            bool expected = false;
            if (slot.taken.compare_exchange_strong(expected, true)) {
                std::memcpy(slot.name, name.c_str(), name.size() + 1);
                slot.named.store(true);
                slot_ = &slot;
                return;
            }
        }
    }
    PendingTemporary(const PendingTemporary&) = delete;
    PendingTemporary& operator=(const PendingTemporary&) = delete;
    ~PendingTemporary() {
        if (slot_) {
            slot_->named.store(false);
            slot_->taken.store(false);
        }
    }

private:
    PendingSlot* slot_ = nullptr;
};

extern "C" void RemovePendingAndRaise(int signal) {
    for (PendingSlot& slot : pending) {
        if (slot.named.load())
            ::unlink(slot.name);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Flushes and closes file, giving the first error on the way (0 when there was none). Devices and
// pipes cannot be synced, so only regular files are.
int Finish(std::FILE* file, bool sync) {
    int failure = 0;
    if (std::ferror(file) || std::fflush(file) != 0 || (sync && ::fsync(::fileno(file)) != 0))
        failure = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && failure == 0)
        failure = errno;
    return failure;
}

// Writes to something that is not a regular file, such as /dev/null or a named pipe, in place.
bool WriteThrough(const std::string& path, const std::string& target,
                  const std::function<bool(std::FILE*)>& write, std::string& error) {
    std::FILE* file = std::fopen(target.c_str(), "wb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    const bool completed = write(file);
    if (const int failure = Finish(file, false)) {
        error = path + ": " + std::strerror(failure);
        return false;
    }
    if (!completed)
        error = path + ": cancelled";
    return completed;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write,
                         std::string& error) {
    // Replace what a link points at, not the link.
    std::string target = path;
    std::error_code failed;
    if (std::filesystem::is_symlink(path, failed)) {
        const std::filesystem::path resolved = std::filesystem::canonical(path, failed);
        if (!failed)
            target = resolved.string();
    }
    mode_t mode = 0;
    struct stat info;
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            error = path + ": is a directory";
            return false;
        }
        if (!S_ISREG(info.st_mode))
            return WriteThrough(path, target, write, error);
        mode = info.st_mode & 07777;
    } else {
        // mkstemp makes the file private; a new file gets the permissions of an ordinary one.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    const std::filesystem::path directory = std::filesystem::path(target).parent_path();
    std::string temporary =
        ((directory.empty() ? std::filesystem::path(".") : directory) / ".kestrel-sc-XXXXXX")
            .string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = path + ": cannot create a temporary file beside it: " + std::strerror(errno);
        return false;
    }
    PendingTemporary tracked(temporary);
    ::fchmod(fd, mode);
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
    const bool completed = write(file);
    int failure = Finish(file, completed);
    if (failure == 0 && completed && std::rename(temporary.c_str(), target.c_str()) != 0)
        failure = errno;
    if (failure != 0 || !completed) {
        ::unlink(temporary.c_str());
        error = path + ": " + (failure != 0 ? std::strerror(failure) : "cancelled");
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string& error) {
    return WriteFileAtomically(
        path,
        [&](std::FILE* file) {
            std::fwrite(data, 1, size, file);  // a short write leaves its error in the stream
            return true;
        },
        error);
}

void CleanUpOnSignals() {
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // Left alone when ignored already, as under nohup.
        if (std::signal(signal, RemovePendingAndRaise) == SIG_IGN)
            std::signal(signal, SIG_IGN);
    }
}

}  // namespace toolfiles
