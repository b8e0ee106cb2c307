#include "kernel/FileParser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kPatience = 20s;

// What a parser saw of one fetch, taken inside OnComplete.
struct Completion {
    BaseAsyncEvent::EventStatus status = BaseAsyncEvent::SUCCEEDED;
    bool hasName = false;
    std::string name, error;
    std::vector<int> progress;
    std::thread::id thread;
    int referencesDuringComplete = 0;
};

// Outlives the parsers that report to it, so it can tell what happened after they are gone.
class FetchLog {
public:
    // Parsers still running fetches may report here later: wait until the last one is gone.
    ~FetchLog() {
        if (!Wait([&] { return destroyed_ == created_; })) {
            ADD_FAILURE() << created_ - destroyed_ << " parsers outlived their test";
            std::abort();
        }
    }
    void Created() {
        Change([&] { ++created_; });
    }
    void Destroyed() {
        Change([&] { ++destroyed_; });
    }
    void Complete(std::uint64_t id, Completion completion) {
        Change([&] { completions_[id] = std::move(completion); });
    }
    // The completion of id; fails the test when it does not come in time.
    Completion WaitFor(std::uint64_t id) {
        const bool arrived = Wait([&] { return completions_.count(id) != 0; });
        EXPECT_TRUE(arrived) << "fetch " << id << " never completed";
        std::lock_guard<std::mutex> lock(mutex_);
        return arrived ? completions_[id] : Completion{};
    }

private:
    template <class F>
    void Change(F change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
        changed_.notify_all();
    }
    template <class P>
    bool Wait(P done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, done);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint64_t, Completion> completions_;
    int created_ = 0, destroyed_ = 0;
};

class RecordingParser : public FileParser {
public:
    explicit RecordingParser(FetchLog& log, std::chrono::milliseconds completeDelay = 0ms)
        : log_(log), completeDelay_(completeDelay) {
        log_.Created();
    }
    ~RecordingParser() override { log_.Destroyed(); }

    // A fetch reports its progress and completion on one thread.
    bool OnProgress(std::uint64_t, std::uint8_t percent) override {
        progress_.push_back(percent);
        return true;
    }

    // Notes what it sees, and dawdles to give an early free a chance: a parser freed too early
    // would be touched after free here (the sanitizers tell).
    void OnComplete(std::uint64_t id, BaseAsyncEvent::EventStatus status) override {
        if (++inside_ > 1)
            overlapped = true;
        Symbol name;
        Completion completion{status,
                              GetAsyncFileName(id, name),
                              std::string(name),
                              std::string(GetAsyncError(id)),
                              std::exchange(progress_, {}),
                              std::this_thread::get_id(),
                              GetReferenceCount()};
        std::this_thread::sleep_for(completeDelay_);
        completion.referencesDuringComplete =
            std::min(completion.referencesDuringComplete, GetReferenceCount());
        --inside_;
        log_.Complete(id, std::move(completion));
    }

    std::atomic<bool> overlapped{false};

private:
    FetchLog& log_;
    std::chrono::milliseconds completeDelay_;
    std::atomic<int> inside_{0};
    static inline thread_local std::vector<int> progress_;
};

class FileParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kestrel-fetch-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = dir_ + "/content.xml";
        missing_ = dir_ + "/missing.xml";
        std::ofstream(file_) << "<content/>";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_ + "/locked.xml", fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }

    std::string dir_, file_, missing_;
};

struct FetchCase {
    const char* name;
    std::string address;
    bool succeeds;
    std::string expected;  // the local path on success, the error text on failure
};

// Every fetch both ways: a synchronous one completes on the calling thread, so before GetFile
// returns; an asynchronous one on another thread. Only a success has a name and progress.
TEST_F(FileParserTest, FetchReportsThePathOrWhyItFailed) {
#if defined(_WIN32)
    GTEST_SKIP() << "FIFOs, devices and file modes are POSIX matters";
#else
    ASSERT_EQ(mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
    const std::string spaced = dir_ + "/with space%.xml", locked = dir_ + "/locked.xml";
    std::ofstream(spaced) << "x";
    std::ofstream(locked) << "x";
    fs::permissions(locked, fs::perms::none);
    // clang-format off
    std::vector<FetchCase> cases = {
        {"plain path", file_, true, file_},
        {"file URL, localhost, upper-case scheme", "FILE://localhost" + file_, true, file_},
        {"file URL, no authority", "file:" + file_, true, file_},
        {"file URL with escapes", "file://" + dir_ + "/with%20space%25.xml", true, spaced},
        {"missing file", missing_, false, "No such file or directory"},
        {"directory", dir_, false, "not a regular file (directory)"},
        {"FIFO", dir_ + "/pipe", false, "not a regular file (FIFO)"},
        {"device", "/dev/null", false, "not a regular file (device)"},
        {"unsupported scheme", "http://example.com/content.xml", false, "unsupported address scheme"},
        {"remote file URL", "file://server" + file_, false, "unsupported file URL host \"server\""},
        {"file URL without path", "file://localhost", false, "file URL names no file"},
        {"bad escape", "file://" + dir_ + "/a%2", false, "invalid percent escape in file URL"},
        {"escaped NUL", "file://" + file_ + "%00.txt", false, "invalid path (contains NUL)"},
        {"empty address", "", false, "empty address"},
    };
    // clang-format on
    // Permissions do not stop root.
    if (geteuid() != 0)
        cases.push_back({"unreadable file", locked, false, "Permission denied"});

    FetchLog log;
    SmartPtr<RecordingParser> parser(new RecordingParser(log));
    for (bool asynchronous : {false, true}) {
        for (const FetchCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (asynchronous ? ", asynchronous" : ", synchronous"));
            std::uint64_t id = parser->GetFile(Symbol(c.address), asynchronous, Symbol());
            Completion done = log.WaitFor(id);
            EXPECT_EQ(done.thread == std::this_thread::get_id(), !asynchronous);
            EXPECT_EQ(done.status, c.succeeds ? BaseAsyncEvent::SUCCEEDED : BaseAsyncEvent::FAILED);
            EXPECT_EQ(done.hasName, c.succeeds);
            EXPECT_EQ(c.succeeds ? done.name : done.error, c.expected);
            EXPECT_EQ(done.progress, c.succeeds ? std::vector<int>{100} : std::vector<int>{});
        }
    }
#endif
}

// A failed fetch has an error and no name; of the finished fetches the newest 64 are kept.
TEST_F(FileParserTest, OnlyTheMostRecentFetchesAreRemembered) {
    FetchLog log;
    SmartPtr<RecordingParser> parser(new RecordingParser(log));
    Symbol name;
    std::uint64_t first = parser->GetFile(Symbol(file_), false, Symbol());
    std::uint64_t failed = parser->GetFile(Symbol(missing_), false, Symbol());
    EXPECT_TRUE(parser->GetAsyncFileName(first, name));  // still known after OnComplete
    EXPECT_EQ(std::string(name), file_);
    EXPECT_FALSE(parser->GetAsyncFileName(failed, name));
    std::uint64_t last = 0;
    for (int i = 0; i < 64; ++i)
        last = parser->GetFile(Symbol(file_), false, Symbol());
    EXPECT_FALSE(parser->GetAsyncFileName(first, name));  // pushed out by 64 newer fetches
    EXPECT_TRUE(parser->GetAsyncFileName(last, name));
}

// Drops its owner's last reference from inside OnComplete.
class SelfReleasingParser : public RecordingParser {
public:
    SelfReleasingParser(FetchLog& log, SmartPtr<FileParser>& owner)
        : RecordingParser(log, 50ms), owner(owner) {}
    void OnComplete(std::uint64_t id, BaseAsyncEvent::EventStatus status) override {
        owner = nullptr;
        RecordingParser::OnComplete(id, status);
    }
    SmartPtr<FileParser>& owner;
};

// However its owner lets go (dropping it inside OnComplete or during the fetch), a parser lives
// until OnComplete has returned, and is then freed (each FetchLog waits for that). A synchronous
// fetch leaves an unreferenced parser to its owner.
TEST_F(FileParserTest, ParserLivesUntilOnCompleteReturns) {
    for (bool asynchronous : {false, true}) {
        FetchLog log;
        SmartPtr<FileParser> owner;
        owner = new SelfReleasingParser(log, owner);
        std::uint64_t id = owner->GetFile(Symbol(file_), asynchronous, Symbol());
        EXPECT_EQ(log.WaitFor(id).status, BaseAsyncEvent::SUCCEEDED) << asynchronous;
    }
    {
        FetchLog log;
        SmartPtr<RecordingParser> dropped(new RecordingParser(log, 50ms));
        std::uint64_t id = dropped->GetFile(Symbol(missing_), true, Symbol());
        dropped = nullptr;
        Completion done = log.WaitFor(id);
        EXPECT_EQ(done.status, BaseAsyncEvent::FAILED);
        EXPECT_GE(done.referencesDuringComplete, 1);  // the fetch's reference was the last one
    }
    FetchLog log;
    {
        RecordingParser onStack(log);
        EXPECT_EQ(log.WaitFor(onStack.GetFile(Symbol(file_), false, Symbol())).status,
                  BaseAsyncEvent::SUCCEEDED);
        EXPECT_EQ(onStack.GetReferenceCount(), 0);
    }
}

// Threads fetch through two parsers at once; fetch ids are unique across parsers and never 0.
// Completions of different parsers may run side by side, but the fetch thread never overlaps one
// parser's (parsers[0] gets asynchronous fetches only; synchronous ones run on the caller).
TEST_F(FileParserTest, ManyConcurrentFetchesAllCompleteCorrectly) {
    FetchLog log;
    SmartPtr<RecordingParser> parsers[2] = {
        SmartPtr<RecordingParser>(new RecordingParser(log, 1ms)),
        SmartPtr<RecordingParser>(new RecordingParser(log, 1ms))};
    std::mutex idsMutex;
    std::map<std::uint64_t, bool> expectSuccess;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 60; ++i) {
                bool existing = (i + t) % 3 != 0;
                const bool asynchronous = i % 4 != 0;
                std::uint64_t id = parsers[asynchronous ? i % 2 : 1]->GetFile(
                    Symbol(existing ? file_ : missing_), asynchronous, Symbol());
                std::lock_guard<std::mutex> lock(idsMutex);
                EXPECT_NE(id, 0u);
                EXPECT_TRUE(expectSuccess.emplace(id, existing).second) << "id reused: " << id;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_EQ(expectSuccess.size(), 6u * 60u);
    for (const auto& [id, existing] : expectSuccess) {
        Completion done = log.WaitFor(id);
        EXPECT_EQ(done.status, existing ? BaseAsyncEvent::SUCCEEDED : BaseAsyncEvent::FAILED);
        EXPECT_EQ(existing ? done.name : done.error,
                  existing ? file_ : "No such file or directory");
    }
    EXPECT_FALSE(parsers[0]->overlapped);
}

// A copy or an assigned parser shares no fetches with the original; the base parser's defaults.
TEST_F(FileParserTest, CopiesShareNoFetchesAndDefaultsOfTheBaseParser) {
    // Looks at its fetch through a copy of itself, from inside OnComplete.
    class CopyingParser : public FileParser {
    public:
        void OnComplete(std::uint64_t id, BaseAsyncEvent::EventStatus) override {
            Symbol name;
            FileParser copy(*this);
            FileParser assigned;
            assigned = *this;
            seen = {GetAsyncFileName(id, name), copy.GetAsyncFileName(id, name),
                    assigned.GetAsyncFileName(id, name)};
        }
        std::vector<bool> seen;
    };
    SmartPtr<CopyingParser> parser(new CopyingParser());
    parser->GetFile(Symbol(file_), false, Symbol());
    EXPECT_EQ(parser->seen, (std::vector<bool>{true, false, false}));

    SmartPtr<FileParser> base(new FileParser());
    SmartPtr<Structure> structure(new Structure());
    EXPECT_FALSE(base->IsPresaveNeeded(structure));
    SmartPtr<AsyncEvent> event(new AsyncEvent());
    base->Presave(structure, Symbol("saved.xml"), event);
    EXPECT_EQ(event->GetStatus(), BaseAsyncEvent::SUCCEEDED);
    EXPECT_NE(base->GetFile(Symbol(file_), false, Symbol()), 0u);  // runs without overrides
}

TEST_F(FileParserTest, ForkedChildFetchesOnItsOwnThreadAndExits) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no fork";
#elif defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer cannot start threads in a forked child";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    GTEST_SKIP() << "ThreadSanitizer cannot start threads in a forked child";
#endif
#endif
#if !defined(_WIN32)
    {
        // Start the parent's fetch thread and let it go idle before forking.
        FetchLog log;
        SmartPtr<RecordingParser> parser(new RecordingParser(log));
        log.WaitFor(parser->GetFile(Symbol(file_), true, Symbol()));
    }
    std::this_thread::sleep_for(20ms);

    int result[2];
    ASSERT_EQ(pipe(result), 0);
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(std::chrono::seconds(kPatience).count());  // a hung child ends, abnormally
        close(result[0]);
        char completed = 0;
        {
            FetchLog childLog;
            SmartPtr<RecordingParser> childParser(new RecordingParser(childLog));
            std::uint64_t id = childParser->GetFile(Symbol(file_), true, Symbol());
            completed = childLog.WaitFor(id).hasName;
        }
        completed = write(result[1], &completed, 1) == 1 && completed;
        close(result[1]);
        // exit, not _exit: the kernel's static shutdown must not wait for the parent's thread.
        // (The status is unused: the leak checker may misjudge the parent's threads' memory.)
        std::exit(0);
    }
    close(result[1]);

    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    char completed = 0;
    const bool reported = read(result[0], &completed, 1) == 1;
    close(result[0]);
    EXPECT_TRUE(reported && completed)
        << "the child's fetch did not complete, or the child hung; status " << status;
#endif
}

}  // namespace
