// Windows version of the atomic file writing in AtomicFile.cpp: the same contract, on wide paths,
// with MoveFileExW for the final rename (rename() there cannot replace an existing file).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "AtomicFile.h"
#include "FilePath.h"

namespace toolfiles {

namespace {

// Names of the temporary files being written, for the signal handler to remove; fixed storage,
// as a handler may neither allocate nor lock. Longer names are simply not tracked.
constexpr std::size_t kMaxTracked = 1024;
struct PendingSlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> named{false};
    wchar_t name[kMaxTracked];
};
PendingSlot pending[64];

class PendingTemporary {
public:
    explicit PendingTemporary(const std::wstring& name) {
        if (name.size() >= kMaxTracked)
            return;
        for (PendingSlot& slot : pending) {
            bool expected = false;
            if (slot.taken.compare_exchange_strong(expected, true)) {
                std::wmemcpy(slot.name, name.c_str(), name.size() + 1);
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
            ::_wunlink(slot.name);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string LastErrorText() {
    return std::system_category().message(static_cast<int>(GetLastError()));
}

int Finish(std::FILE* file, bool sync) {
    int failure = 0;
    if (std::ferror(file) || std::fflush(file) != 0 || (sync && ::_commit(::_fileno(file)) != 0))
        failure = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && failure == 0)
        failure = errno;
    return failure;
}

// Writes to something that is not a regular file, such as NUL, in place.
bool WriteThrough(const std::string& path, const std::filesystem::path& target,
                  const std::function<bool(std::FILE*)>& write, std::string& error) {
    std::FILE* file = ::_wfopen(target.c_str(), L"wb");
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

// A new, exclusively created file beside target; -1 with errno set when none could be made.
int CreateTemporary(const std::filesystem::path& target, std::filesystem::path& temporary) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path directory =
        target.parent_path().empty() ? std::filesystem::path(L".") : target.parent_path();
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

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write,
                         std::string& error) {
    std::filesystem::path target = PathOf(path);
    std::error_code failed;
    if (std::filesystem::is_symlink(target, failed)) {
        const std::filesystem::path resolved = std::filesystem::canonical(target, failed);
        if (!failed)
            target = resolved;
    }
    const FileStatus status = StatFile(Utf8Of(target));
    if (status.error == 0) {
        if (status.directory) {
            error = path + ": is a directory";
            return false;
        }
        if (!status.regular)
            return WriteThrough(path, target, write, error);
    }

    std::filesystem::path temporary;
    const int fd = CreateTemporary(target, temporary);
    if (fd < 0) {
        error = path + ": cannot create a temporary file beside it: " + std::strerror(errno);
        return false;
    }
    PendingTemporary tracked(temporary.native());
    std::FILE* file = ::_fdopen(fd, "wb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        ::_close(fd);
        ::_wunlink(temporary.c_str());
        return false;
    }
    std::vector<char> buffer(std::size_t{1} << 20);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    errno = 0;
    const bool completed = write(file);
    const int failure = Finish(file, completed);
    if (failure != 0 || !completed) {
        ::_wunlink(temporary.c_str());
        error = path + ": " + (failure != 0 ? std::strerror(failure) : "cancelled");
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = path + ": " + LastErrorText();
        ::_wunlink(temporary.c_str());
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
    for (const int signal : {SIGINT, SIGTERM}) {
        if (std::signal(signal, RemovePendingAndRaise) == SIG_IGN)
            std::signal(signal, SIG_IGN);
    }
}

}  // namespace toolfiles
