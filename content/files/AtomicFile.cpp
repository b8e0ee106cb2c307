#include "kestrel/files/AtomicFile.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "MakeError.h"
#include "kestrel/files/FilePath.h"

namespace kestrel::files {

namespace {

namespace fs = std::filesystem;

// ---- What differs between systems --------------------------------------------------------------
// Names are native paths (UTF-16 on Windows); a temporary file is made exclusively beside its
// target and renamed over it, which Windows does with MoveFileExW (its rename() cannot replace a
// file).

#if defined(_WIN32)

constexpr std::size_t kMaxTracked = 1024;
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM};

void RemoveFile(const wchar_t* name) {
    ::_wunlink(name);
}

int SyncFile(std::FILE* file) {
    return ::_commit(::_fileno(file));
}

std::FILE* OpenInPlace(const fs::path& target) {
    return ::_wfopen(target.c_str(), L"wb");
}

// A new, exclusively created file in directory; -1 with errno set when none could be made.
int CreateTemporary(const fs::path& directory, fs::path& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = L".kestrel-sc-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter.fetch_add(1)) + L"-" +
                                  std::to_wstring(GetTickCount64() % 100000);
        temporary = directory / name;
        const int fd = ::_wopen(temporary.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                                _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Windows files carry no permission bits to keep.
void SetPermissions(int, const FileStatus&) {}

std::FILE* StreamOf(int fd) {
    return ::_fdopen(fd, "wb");
}

void CloseDescriptor(int fd) {
    ::_close(fd);
}

bool Replace(const fs::path& temporary, const fs::path& target, std::string& reason) {
    if (MoveFileExW(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    reason = std::system_category().message(static_cast<int>(GetLastError()));
    return false;
}

void IgnoreFileSizeLimit() {}

#else

constexpr std::size_t kMaxTracked = PATH_MAX;
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveFile(const char* name) {
    ::unlink(name);
}

int SyncFile(std::FILE* file) {
    return ::fsync(::fileno(file));
}

std::FILE* OpenInPlace(const fs::path& target) {
    return std::fopen(target.c_str(), "wb");
}

int CreateTemporary(const fs::path& directory, fs::path& temporary) {
    std::string name = (directory / ".kestrel-sc-XXXXXX").string();
    const int fd = ::mkstemp(name.data());
    const int reason = errno;
    temporary = name;
    errno = reason;
    return fd;
}

// mkstemp makes the file private: a replaced file keeps its permissions, a new one gets those of
// an ordinary new file.
void SetPermissions(int fd, const FileStatus& existing) {
    mode_t mode = static_cast<mode_t>(existing.permissions);
    if (existing.error != 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
}

std::FILE* StreamOf(int fd) {
    return ::fdopen(fd, "wb");
}

void CloseDescriptor(int fd) {
    ::close(fd);
}

bool Replace(const fs::path& temporary, const fs::path& target, std::string& reason) {
    if (std::rename(temporary.c_str(), target.c_str()) == 0)
        return true;
    reason = std::strerror(errno);
    return false;
}

void IgnoreFileSizeLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
}

#endif

// ---- The same everywhere -----------------------------------------------------------------------

using NativeChar = fs::path::value_type;

// Names of the temporary files being written, for the signal handler to remove. Fixed storage,
// as a handler may neither allocate nor lock; a slot is published by its flag.
struct PendingSlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> named{false};
    NativeChar name[kMaxTracked];
};
PendingSlot pending[64];

// Registers name for removal on a signal while it lives; silently untracked when all slots are
// taken or the name is too long (the write itself goes on).
class PendingTemporary {
public:
    explicit PendingTemporary(const fs::path::string_type& name) {
        if (name.size() >= kMaxTracked)
            return;
        for (PendingSlot& slot : pending) {
            bool expected = false;
            if (slot.taken.compare_exchange_strong(expected, true)) {
                std::char_traits<NativeChar>::copy(slot.name, name.c_str(), name.size() + 1);
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
            RemoveFile(slot.name);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Flushes and closes file, giving the first error on the way (0 when there was none). Devices and
// pipes cannot be synced, so only regular files are.
int Finish(std::FILE* file, bool sync) {
    int failure = 0;
    if (std::ferror(file) || std::fflush(file) != 0 || (sync && SyncFile(file) != 0))
        failure = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && failure == 0)
        failure = errno;
    return failure;
}

// Writes to something that is not a regular file, such as /dev/null, NUL or a named pipe, in
// place.
Error WriteThrough(const std::string& path, const fs::path& target,
                   const std::function<bool(std::FILE*)>& write) {
    std::FILE* file = OpenInPlace(target);
    if (!file)
        return MakeError(Error::WriteFailed, std::strerror(errno), path);
    errno = 0;
    const bool completed = write(file);
    if (const int failure = Finish(file, false))
        return MakeError(Error::WriteFailed, std::strerror(failure), path);
    return completed ? Error{} : MakeError(Error::Cancelled, "cancelled", path);
}

}  // namespace

Error WriteFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    // Replace what a link points at, not the link.
    fs::path target = PathOf(path);
    std::error_code failed;
    if (fs::is_symlink(target, failed)) {
        const fs::path resolved = fs::canonical(target, failed);
        if (!failed)
            target = resolved;
    }
    const FileStatus existing = StatFile(Utf8Of(target));
    if (existing.error == 0) {
        if (existing.directory)
            return MakeError(Error::WriteFailed, "is a directory", path);
        if (!existing.regular)
            return WriteThrough(path, target, write);
    }

    fs::path temporary;
    const int fd = CreateTemporary(
        target.parent_path().empty() ? fs::path(".") : target.parent_path(), temporary);
    if (fd < 0) {
        return MakeError(
            Error::WriteFailed,
            std::string("cannot create a temporary file beside it: ") + std::strerror(errno), path);
    }
    PendingTemporary tracked(temporary.native());
    SetPermissions(fd, existing);
    std::FILE* file = StreamOf(fd);
    if (!file) {
        Error error = MakeError(Error::WriteFailed, std::strerror(errno), path);
        CloseDescriptor(fd);
        RemoveFile(temporary.c_str());
        return error;
    }
    std::vector<char> buffer(std::size_t{1} << 20);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    errno = 0;
    const bool completed = write(file);
    const int failure = Finish(file, completed);
    std::string reason;
    Error error;
    if (failure != 0)
        error = MakeError(Error::WriteFailed, std::strerror(failure), path);
    else if (!completed)
        error = MakeError(Error::Cancelled, "cancelled", path);
    else if (!Replace(temporary, target, reason))
        error = MakeError(Error::WriteFailed, std::move(reason), path);
    if (error)
        RemoveFile(temporary.c_str());
    return error;
}

Error WriteFileAtomically(const std::string& path, std::string_view bytes,
                          const std::function<bool(std::uint64_t)>& written) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    return WriteFileAtomically(path, [&](std::FILE* file) {
        for (std::size_t done = 0; done < bytes.size();) {
            const std::size_t chunk = std::min(kChunk, bytes.size() - done);
            if (std::fwrite(bytes.data() + done, 1, chunk, file) != chunk)
                return true;  // the stream holds the error
            done += chunk;
            if (written && !written(done))
                return false;
        }
        return true;
    });
}

void CleanUpOnSignals() {
    IgnoreFileSizeLimit();
    for (const int signal : kCleanedSignals) {
        // Left alone when ignored already, as under nohup.
        if (std::signal(signal, RemovePendingAndRaise) == SIG_IGN)
            std::signal(signal, SIG_IGN);
    }
}

}  // namespace kestrel::files
