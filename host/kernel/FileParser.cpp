#include "kernel/FileParser.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

#include "utilities/FileSystem.h"
#else
#include <pthread.h>
#include <unistd.h>
#endif

#include "internal/UrlScheme.h"
#include "utilities/OrbTracer.h"

// The outcomes of a parser's fetches. They outlive OnComplete so that a completion handled later
// (queued by the parser, say) still finds its file; of the fetches whose OnComplete has returned
// only the newest kKept are remembered, and a fetch still being reported is never forgotten.
struct FileParser::FetchRecords {
    struct Record {
        bool succeeded = false;
        std::string text;  // the local path, or why the fetch failed
    };
    static constexpr std::size_t kKept = 64;

    // The record of fetch id. Call with mutex held.
    Record& Add(std::uint64_t id) { return records[id]; }

    // Notes that OnComplete of fetch id has returned, forgetting the oldest finished fetches
    // beyond kKept. Call with mutex held.
    void Finished(std::uint64_t id) {
        finished.push_back(id);
        while (finished.size() > kKept) {
            records.erase(finished.front());
            finished.pop_front();
        }
    }

    std::mutex mutex;
    std::unordered_map<std::uint64_t, Record> records;
    std::deque<std::uint64_t> finished;
};

namespace {

using kernel_detail::IsAsciiLetter;
using kernel_detail::SchemeLength;

std::atomic<std::uint64_t> g_lastFetchId{0};

bool EqualsIgnoringCase(std::string_view text, std::string_view lowerCase) noexcept {
    if (text.size() != lowerCase.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerCase[i])
            return false;
    }
    return true;
}

int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

// A local path or an error text.
struct Resolution {
    bool succeeded = false;
    std::string text;
};

Resolution Fail(std::string text) {
    return {false, std::move(text)};
}

// The local path a "file:" URL names: file:///p, file://localhost/p, file:/p (and file:p),
// with %XX escapes decoded.
Resolution PathOfFileUrl(std::string_view url) {
    std::string_view rest = url.substr(5);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        std::size_t slash = rest.find('/');
        std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !EqualsIgnoringCase(host, "localhost")) {
            return Fail("unsupported file URL host \"" + std::string(host) + "\"");
        }
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        int high = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
        int low = high >= 0 ? HexValue(rest[i + 2]) : -1;
        if (low < 0)
            return Fail("invalid percent escape in file URL");
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
#if defined(_WIN32)
    // file:///C:/dir names C:/dir.
    if (path.size() >= 3 && path[0] == '/' && IsAsciiLetter(path[1]) && path[2] == ':') {
        path.erase(0, 1);
    }
#endif
    if (path.empty())
        return Fail("file URL names no file");
    return {true, std::move(path)};
}

#if defined(_WIN32)
using StatBuffer = struct _stat64;
int StatPath(const std::string& path, StatBuffer* status) {
    return _wstat64(Utf8ToWideStr(Symbol(path)).c_str(), status);
}
#else
using StatBuffer = struct stat;
int StatPath(const std::string& path, StatBuffer* status) {
    return ::stat(path.c_str(), status);
}
#endif

const char* FileKind(unsigned mode) noexcept {
    if (S_ISDIR(mode))
        return "directory";
#if defined(S_ISFIFO)
    if (S_ISFIFO(mode))
        return "FIFO";
#endif
    if (S_ISCHR(mode))
        return "device";
#if defined(S_ISBLK)
    if (S_ISBLK(mode))
        return "device";
#endif
#if defined(S_ISSOCK)
    if (S_ISSOCK(mode))
        return "socket";
#endif
    return "special file";
}

// Checks that path is a regular file this process can read. FIFOs and devices are refused
// without being opened: opening or reading them may block or never end.
Resolution CheckReadableFile(std::string path) {
    if (path.find('\0') != std::string::npos)
        return Fail("invalid path (contains NUL)");
    StatBuffer status{};
    if (StatPath(path, &status) != 0)
        return Fail(ErrorText(errno));
    if (!S_ISREG(status.st_mode)) {
        return Fail(std::string("not a regular file (") + FileKind(status.st_mode) + ")");
    }
#if defined(_WIN32)
    int fd = _wopen(Utf8ToWideStr(Symbol(path)).c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return Fail(ErrorText(errno));
    _close(fd);
#else
    // O_NONBLOCK in case the file was swapped for a FIFO since the stat.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return Fail(ErrorText(errno));
    bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (!regular)
        return Fail("not a regular file (" + std::string(FileKind(status.st_mode)) + ")");
#endif
    return {true, std::move(path)};
}

Resolution Resolve(std::string_view address) {
    if (address.empty())
        return Fail("empty address");
    std::size_t scheme = SchemeLength(address);
    if (scheme == 0)
        return CheckReadableFile(std::string(address));
    if (!EqualsIgnoringCase(address.substr(0, scheme), "file")) {
        return Fail("unsupported address scheme");
    }
    Resolution url = PathOfFileUrl(address);
    if (!url.succeeded)
        return url;
    return CheckReadableFile(std::move(url.text));
}

// One fetch: resolves the address, records the outcome and reports it. keepAlive holds
// the parser until the fetch has ended (it may be null when the caller holds it meanwhile).
class FetchJob {
public:
    FetchJob(FileParser* parser, SmartPtr<RefCounted> keepAlive,
             std::shared_ptr<FileParser::FetchRecords> records, std::uint64_t id,
             std::string address)
        : parser_(parser),
          keepAlive_(std::move(keepAlive)),
          records_(std::move(records)),
          id_(id),
          address_(std::move(address)) {}

    // Runs the fetch. The parser may be gone once this returns (its reference is dropped).
    void Run() noexcept {
        Resolution outcome;
        try {
            outcome = Resolve(address_);
        } catch (const std::exception& exception) {
            outcome = Fail(exception.what());
        }
        Finish(std::move(outcome));
    }

    // The parser the fetch reports to, fixed before it runs.
    const FileParser* Parser() const noexcept { return parser_; }

    // Ends the fetch with an error without looking at the address.
    void Abort(std::string reason) noexcept { Finish(Fail(std::move(reason))); }

private:
    void Finish(Resolution outcome) noexcept {
        bool succeeded = outcome.succeeded;
        try {
            std::lock_guard<std::mutex> lock(records_->mutex);
            auto& record = records_->Add(id_);
            record.succeeded = succeeded;
            record.text = std::move(outcome.text);
        } catch (const std::exception&) {
            // Out of memory: the fetch is reported as failed, with no reason to give.
            succeeded = false;
        }
        try {
            // The file is local: it is all there at once.
            if (succeeded)
                parser_->OnProgress(id_, 100);
            parser_->OnComplete(id_,
                                succeeded ? BaseAsyncEvent::SUCCEEDED : BaseAsyncEvent::FAILED);
        } catch (const std::exception& exception) {
            OrbTracer("kernel", "FileParser")(TRACE_ERROR, "fetch %llu: completion threw: %s",
                                              static_cast<unsigned long long>(id_),
                                              exception.what());
        } catch (...) {
            OrbTracer("kernel", "FileParser")(TRACE_ERROR, "fetch %llu: completion threw",
                                              static_cast<unsigned long long>(id_));
        }
        try {
            std::lock_guard<std::mutex> lock(records_->mutex);
            records_->Finished(id_);
        } catch (const std::exception&) {
            // Out of memory: the record is simply kept.
        }
        parser_ = nullptr;
        keepAlive_ = nullptr;
    }

    FileParser* parser_;
    SmartPtr<RefCounted> keepAlive_;
    std::shared_ptr<FileParser::FetchRecords> records_;
    std::uint64_t id_;
    std::string address_;
};

#if defined(_WIN32)
// Set when the kernel library is detached because the process exits (not by FreeLibrary).
bool g_processExiting = false;
#endif

// The kernel's fetch workers: started as fetches arrive, up to one per core, and stopped when the
// library unloads. Different parsers' fetches run side by side; one parser's fetches run one at a
// time, in the order they were asked for, so its completions never overlap. Jobs still queued at
// unload are dropped, releasing their parsers.
class FetchThread {
public:
    FetchThread() {
#if !defined(_WIN32)
        pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild);
#endif
    }
    FetchThread(const FetchThread&) = delete;
    FetchThread& operator=(const FetchThread&) = delete;

    ~FetchThread() {
#if defined(_WIN32)
        // At process exit Windows has ended the workers before static destructors run; joining
        // them (or taking a lock one of them held) would never return.
        if (g_processExiting) {
            for (std::thread& worker : workers_) {
                if (worker.joinable())
                    worker.detach();
            }
            return;
        }
#endif
        std::deque<FetchJob> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            dropped.swap(queue_);
            std::move(inherited_.begin(), inherited_.end(), std::back_inserter(dropped));
            inherited_.clear();
        }
        wake_.notify_all();
        for (std::thread& worker : workers_) {
            if (!worker.joinable())
                continue;
            // exit() called from a completion runs this on a worker itself.
            if (worker.get_id() == std::this_thread::get_id()) {
                worker.detach();
            } else {
                worker.join();
            }
        }
        // dropped goes last, outside the lock: releasing a parser may run its destructor.
    }

    // Queues job; false (and job untouched) when the thread cannot take it.
    bool Post(FetchJob& job, std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            error = "the fetch thread has stopped";
            return false;
        }
        try {
            const bool start = idle_ == 0 && workers_.size() < MaxWorkers();
            if (start) {
                workers_.reserve(workers_.size() + 1);
                running_.reserve(workers_.size() + 1);  // so that a worker never allocates
            }
            if (start)
                workers_.emplace_back([this] { Serve(); });  // it waits for the lock held here
            queue_.push_back(std::move(job));
        } catch (const std::exception& exception) {
            error = std::string("cannot start the fetch: ") + exception.what();
            return false;
        }
        wake_.notify_one();
        return true;
    }

private:
#if !defined(_WIN32)
    static void BeforeFork();
    static void AfterForkInParent();
    static void AfterForkInChild();
#endif

    static std::size_t MaxWorkers() {
        return std::max(1u, std::thread::hardware_concurrency());
    }

    // The first queued job whose parser has no fetch running, or end().
    std::deque<FetchJob>::iterator NextRunnable() {
        return std::find_if(queue_.begin(), queue_.end(), [this](const FetchJob& job) {
            return std::find(running_.begin(), running_.end(), job.Parser()) == running_.end();
        });
    }

    void Serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return stopping_ || NextRunnable() != queue_.end(); });
            --idle_;
            if (stopping_)
                return;
            auto next = NextRunnable();
            FetchJob job = std::move(*next);
            queue_.erase(next);
            const FileParser* parser = job.Parser();
            running_.push_back(parser);
            lock.unlock();
            job.Run();
            lock.lock();
            running_.erase(std::find(running_.begin(), running_.end(), parser));
            // A job of the same parser may have been waiting for this one.
            wake_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<FetchJob> queue_;
    std::deque<FetchJob> inherited_;
    bool stopping_ = false;
    std::vector<const FileParser*> running_;  // parsers with a fetch running now
    std::size_t idle_ = 0;                    // workers waiting for a job
    std::vector<std::thread> workers_;
};

FetchThread g_fetchThread;

}  // namespace

#if defined(_WIN32)
// The C runtime runs the library's static destructors after this has seen the detach.
BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr)
        g_processExiting = true;
    return TRUE;
}
#endif

namespace {

#if !defined(_WIN32)
// A forked child has no worker threads, only the parent's record of them; joining that at exit
// would hang. The child forgets them and starts workers of its own when it fetches.
void FetchThread::BeforeFork() {
    g_fetchThread.mutex_.lock();
}

void FetchThread::AfterForkInParent() {
    g_fetchThread.mutex_.unlock();
}

void FetchThread::AfterForkInChild() {
    // Reusing the storage ends the stale objects without their destructors: ~thread would
    // terminate, and the condition variable still counts the parent's waiting worker.
    // The stale thread objects hold no resources of their own: their storage is given back
    // without running ~thread.
    std::thread* stale = g_fetchThread.workers_.data();
    new (&g_fetchThread.workers_) std::vector<std::thread>();
    ::operator delete(stale);
    new (&g_fetchThread.wake_) std::condition_variable();
    g_fetchThread.running_.clear();
    g_fetchThread.idle_ = 0;
    // The parent's queued fetches are the parent's: they are dropped at exit, never run here.
    g_fetchThread.inherited_.swap(g_fetchThread.queue_);
    g_fetchThread.mutex_.unlock();
}
#endif

}  // namespace

Structure::~Structure() = default;

FileParser::FileParser() : fetches_(std::make_shared<FetchRecords>()) {}

FileParser::FileParser(const FileParser& other)
    : orbk::MemoryPoolAllocated(other),
      RefCounted(other),
      fetches_(std::make_shared<FetchRecords>()) {}

// The fetch table is not assigned: this parser's own fetches may still be running.
FileParser& FileParser::operator=(const FileParser& other) {
    RefCounted::operator=(other);
    return *this;
}

FileParser::~FileParser() = default;

Symbol FileParser::GetDebugClassName() const {
    return Symbol("FileParser");
}

bool FileParser::OnProgress(std::uint64_t, std::uint8_t) {
    return true;
}

void FileParser::OnComplete(std::uint64_t, BaseAsyncEvent::EventStatus) {}

Symbol FileParser::GetParserName() const {
    return Symbol("FileParser");
}

bool FileParser::IsPresaveNeeded(const SmartPtr<Structure>&) const {
    return false;
}

void FileParser::Presave(const SmartPtr<Structure>&, const Symbol&,
                         const SmartPtr<AsyncEvent>& event) {
    if (event)
        event->SetCompleted();
}

std::uint64_t FileParser::GetFile(const Symbol& address, bool asynchronous, const Symbol&) {
    std::uint64_t id = g_lastFetchId.fetch_add(1, std::memory_order_relaxed) + 1;
    std::string text;
    try {
        text = std::string(address.view());
    } catch (const std::exception& exception) {
        FetchJob(this, nullptr, fetches_, id, {}).Abort(exception.what());
        return id;
    }

    if (!asynchronous) {
        // The caller keeps the parser alive during the call. A reference is still taken when it
        // has any, in case OnComplete drops the last one; one with none is the caller's to own.
        SmartPtr<RefCounted> keepAlive;
        if (GetReferenceCount() > 0)
            keepAlive = static_cast<RefCounted*>(this);
        FetchJob(this, std::move(keepAlive), fetches_, id, std::move(text)).Run();
        return id;
    }

    FetchJob job(this, SmartPtr<RefCounted>(static_cast<RefCounted*>(this)), fetches_, id,
                 std::move(text));
    std::string error;
    if (!g_fetchThread.Post(job, error))
        job.Abort(std::move(error));
    return id;
}

bool FileParser::GetAsyncFileName(std::uint64_t fetchId, Symbol& name) const {
    std::lock_guard<std::mutex> lock(fetches_->mutex);
    auto found = fetches_->records.find(fetchId);
    if (found == fetches_->records.end() || !found->second.succeeded)
        return false;
    name = Symbol(found->second.text);
    return true;
}

Symbol FileParser::GetAsyncError(std::uint64_t fetchId) const {
    std::lock_guard<std::mutex> lock(fetches_->mutex);
    auto found = fetches_->records.find(fetchId);
    if (found == fetches_->records.end() || found->second.succeeded)
        return Symbol();
    return Symbol(found->second.text);
}

namespace orbloader {

SerializedContentParser::SerializedContentParser() = default;

SerializedContentParser::SerializedContentParser(const SerializedContentParser& other)
    : FileParser(other) {}

SerializedContentParser& SerializedContentParser::operator=(const SerializedContentParser& other) {
    FileParser::operator=(other);
    return *this;
}

SerializedContentParser::~SerializedContentParser() = default;

}  // namespace orbloader
