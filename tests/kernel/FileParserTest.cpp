#include "kernel/FileParser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "kernel/Anchor.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kPatience = 20s;

// What a parser saw of one fetch, taken inside OnComplete.
struct Completion {
    BaseAsyncEvent::EventStatus status = BaseAsyncEvent::SUCCEEDED;
    bool hasName = false;
    std::string name;
    std::string error;
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
    void Progress(std::uint64_t id, int percent) {
        Change([&] { progress_[id].push_back(percent); });
    }
    void Complete(std::uint64_t id, Completion completion) {
        Change([&] {
            completion.progress = progress_[id];
            completions_[id] = std::move(completion);
        });
    }
    // The completion of id; fails the test when it does not come in time.
    Completion WaitFor(std::uint64_t id) {
        const bool arrived = Wait([&] { return completions_.count(id) != 0; });
        EXPECT_TRUE(arrived) << "fetch " << id << " never completed";
        std::lock_guard<std::mutex> lock(mutex_);
        return arrived ? completions_[id] : Completion{};
    }
    bool HasCompleted(std::uint64_t id) {
        return Wait([&] { return completions_.count(id) != 0; }, 0s);
    }
    bool WaitDestroyed(int count) {
        return Wait([&] { return destroyed_ >= count; });
    }

private:
    template <class F>
    void Change(F change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
        changed_.notify_all();
    }
    template <class P>
    bool Wait(P done, std::chrono::seconds patience = kPatience) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, patience, done);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint64_t, std::vector<int>> progress_;
    std::map<std::uint64_t, Completion> completions_;
    int created_ = 0;
    int destroyed_ = 0;
};

class RecordingParser : public FileParser {
public:
    explicit RecordingParser(FetchLog& log, std::chrono::milliseconds completeDelay = 0ms)
        : log_(log), completeDelay_(completeDelay) {
        log_.Created();
    }
    ~RecordingParser() override { log_.Destroyed(); }

    bool OnProgress(std::uint64_t id, std::uint8_t progress) override {
        log_.Progress(id, progress);
        return true;
    }

    void OnComplete(std::uint64_t id, BaseAsyncEvent::EventStatus status) override {
        Completion completion;
        completion.status = status;
        Symbol name;
        completion.hasName = GetAsyncFileName(id, name);
        completion.name = name;
        completion.error = GetAsyncError(id);
        completion.thread = std::this_thread::get_id();
        completion.referencesDuringComplete = GetReferenceCount();
        // A parser freed too early would be touched after free here (the sanitizers tell).
        std::this_thread::sleep_for(completeDelay_);
        completion.referencesDuringComplete =
            std::min(completion.referencesDuringComplete, GetReferenceCount());
        log_.Complete(id, std::move(completion));
    }

private:
    FetchLog& log_;
    std::chrono::milliseconds completeDelay_;
};

class FileParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kestrel-fetch-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = dir_ + "/content.xml";
        std::ofstream(file_) << "<content/>";
    }

    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_ + "/locked.xml", fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }

    std::string dir_;
    std::string file_;
};

struct FetchCase {
    const char* name;
    std::string address;
    bool succeeds;
    std::string expected;  // the local path on success, the error text on failure
};

// Every fetch both ways: a synchronous one completes before GetFile returns, on the calling
// thread; an asynchronous one on another thread. Only a success has a name and progress.
TEST_F(FileParserTest, FetchReportsThePathOrWhyItFailed) {
#if defined(_WIN32)
    GTEST_SKIP() << "FIFOs, devices, symbolic links and file modes are POSIX matters";
#else
    ASSERT_EQ(mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
    const std::string spaced = dir_ + "/with space%.xml";
    std::ofstream(spaced) << "x";
    fs::create_symlink(file_, dir_ + "/link.xml");
    const std::string locked = dir_ + "/locked.xml";
    std::ofstream(locked) << "x";
    fs::permissions(locked, fs::perms::none);
    // The address an anchor makes of a relative name with a file URL as base.
    const std::string odd = "odd 100% name.xml";
    std::ofstream(dir_ + "/" + odd) << "x";
    Symbol anchored;
    ASSERT_TRUE(Anchor(Symbol("file://" + dir_)).GetURLForFileSource(Symbol(odd), anchored, true));
    std::vector<FetchCase> cases = {
        {"plain path", file_, true, file_},
        {"file URL, empty host", "file://" + file_, true, file_},
        {"file URL, localhost", "file://localhost" + file_, true, file_},
        {"file URL, no authority", "file:" + file_, true, file_},
        {"file URL, upper-case scheme", "FILE://" + file_, true, file_},
        {"file URL with escapes", "file://" + dir_ + "/with%20space%25.xml", true, spaced},
        {"anchored file URL", anchored, true, dir_ + "/" + odd},
        {"symbolic link", dir_ + "/link.xml", true, dir_ + "/link.xml"},
        {"missing file", dir_ + "/missing.xml", false, "No such file or directory"},
        {"below a file", file_ + "/inner.xml", false, "Not a directory"},
        {"directory", dir_, false, "not a regular file (directory)"},
        {"FIFO", dir_ + "/pipe", false, "not a regular file (FIFO)"},
        {"device", "/dev/null", false, "not a regular file (device)"},
        {"unsupported scheme", "http://example.com/content.xml", false,
         "unsupported address scheme"},
        {"remote file URL", "file://server" + file_, false, "unsupported file URL host \"server\""},
        {"bad escape", "file://" + dir_ + "/a%2", false, "invalid percent escape in file URL"},
        {"escaped NUL", "file://" + file_ + "%00.txt", false, "invalid path (contains NUL)"},
        {"empty address", "", false, "empty address"},
    };
    // Permissions do not stop root.
    if (geteuid() != 0)
        cases.push_back({"unreadable file", locked, false, "Permission denied"});

    FetchLog log;
    SmartPtr<RecordingParser> parser(new RecordingParser(log));
    for (bool asynchronous : {false, true}) {
        for (const FetchCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (asynchronous ? ", asynchronous" : ", synchronous"));
            std::uint64_t id = parser->GetFile(Symbol(c.address), asynchronous, Symbol());
            ASSERT_NE(id, 0u);
            if (!asynchronous) {
                EXPECT_TRUE(log.HasCompleted(id)) << "must complete before return";
            }
            Completion done = log.WaitFor(id);
            EXPECT_EQ(done.thread == std::this_thread::get_id(), !asynchronous);
            EXPECT_EQ(done.status, c.succeeds ? BaseAsyncEvent::SUCCEEDED : BaseAsyncEvent::FAILED);
            EXPECT_EQ(done.hasName, c.succeeds);
            EXPECT_EQ(c.succeeds ? done.name : done.error, c.expected);
            EXPECT_EQ(done.progress, c.succeeds ? std::vector<int>{100} : std::vector<int>{});
        }
    }
    parser = nullptr;
    EXPECT_TRUE(log.WaitDestroyed(1));
#endif
}

TEST_F(FileParserTest, OnlyTheMostRecentFetchesAreRemembered) {
    FetchLog log;
    SmartPtr<RecordingParser> parser(new RecordingParser(log));
    Symbol name("unchanged");
    EXPECT_FALSE(parser->GetAsyncFileName(0, name));
    EXPECT_FALSE(parser->GetAsyncFileName(~std::uint64_t{0}, name));
    EXPECT_EQ(std::string(name), "unchanged");
    EXPECT_TRUE(parser->GetAsyncError(12345).empty());
    std::uint64_t first = parser->GetFile(Symbol(file_), false, Symbol());
    std::uint64_t failed = parser->GetFile(Symbol(dir_ + "/missing.xml"), false, Symbol());
    EXPECT_TRUE(parser->GetAsyncFileName(first, name));  // still known after OnComplete
    EXPECT_EQ(std::string(name), file_);
    EXPECT_FALSE(parser->GetAsyncFileName(failed, name));
    EXPECT_FALSE(parser->GetAsyncError(failed).empty());
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
        : RecordingParser(log, 50ms), owner_(owner) {}
    void OnComplete(std::uint64_t id, BaseAsyncEvent::EventStatus status) override {
        owner_ = nullptr;
        RecordingParser::OnComplete(id, status);
    }

private:
    SmartPtr<FileParser>& owner_;
};

// However its owner lets go (never holding it, dropping it during the fetch or inside
// OnComplete), a parser lives until OnComplete has returned; OnComplete dawdles to give an early
// free a chance. A synchronous fetch leaves an unreferenced parser to its owner.
TEST_F(FileParserTest, ParserLivesUntilOnCompleteReturns) {
    for (bool asynchronous : {false, true}) {
        SCOPED_TRACE(asynchronous ? "asynchronous" : "synchronous");
        FetchLog log;
        SmartPtr<FileParser> owner;
        owner = new SelfReleasingParser(log, owner);
        std::uint64_t id = owner->GetFile(Symbol(file_), asynchronous, Symbol());
        EXPECT_EQ(log.WaitFor(id).status, BaseAsyncEvent::SUCCEEDED);
        EXPECT_TRUE(log.WaitDestroyed(1));
    }
    {
        FetchLog log;
        auto* unowned = new RecordingParser(log, 50ms);
        Completion done = log.WaitFor(unowned->GetFile(Symbol(file_), true, Symbol()));
        EXPECT_EQ(done.status, BaseAsyncEvent::SUCCEEDED);
        EXPECT_GE(done.referencesDuringComplete, 1);
        EXPECT_TRUE(log.WaitDestroyed(1));  // the fetch's reference was the last one
    }
    {
        FetchLog log;
        SmartPtr<RecordingParser> dropped(new RecordingParser(log, 50ms));
        std::uint64_t id = dropped->GetFile(Symbol(dir_ + "/missing.xml"), true, Symbol());
        dropped = nullptr;
        Completion done = log.WaitFor(id);
        EXPECT_EQ(done.status, BaseAsyncEvent::FAILED);
        EXPECT_GE(done.referencesDuringComplete, 1);
        EXPECT_TRUE(log.WaitDestroyed(1));
    }
    FetchLog log;
    {
        RecordingParser onStack(log);
        EXPECT_EQ(log.WaitFor(onStack.GetFile(Symbol(file_), false, Symbol())).status,
                  BaseAsyncEvent::SUCCEEDED);
        EXPECT_EQ(onStack.GetReferenceCount(), 0);
    }
    EXPECT_TRUE(log.WaitDestroyed(1));
}

// Threads fetch through two parsers at once; fetch ids are unique across parsers and never 0.
TEST_F(FileParserTest, ManyConcurrentFetchesAllCompleteCorrectly) {
    constexpr int kThreads = 6;
    constexpr int kFetchesPerThread = 60;
    FetchLog log;
    SmartPtr<RecordingParser> parsers[2] = {SmartPtr<RecordingParser>(new RecordingParser(log)),
                                            SmartPtr<RecordingParser>(new RecordingParser(log))};
    const std::string missing = dir_ + "/missing.xml";
    std::mutex idsMutex;
    std::map<std::uint64_t, bool> expectSuccess;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFetchesPerThread; ++i) {
                bool existing = (i + t) % 3 != 0;
                bool asynchronous = i % 4 != 0;
                std::uint64_t id = parsers[i % 2]->GetFile(Symbol(existing ? file_ : missing),
                                                           asynchronous, Symbol());
                std::lock_guard<std::mutex> lock(idsMutex);
                EXPECT_NE(id, 0u);
                EXPECT_TRUE(expectSuccess.emplace(id, existing).second) << "id reused: " << id;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_EQ(expectSuccess.size(), std::size_t{kThreads * kFetchesPerThread});
    for (const auto& [id, existing] : expectSuccess) {
        Completion done = log.WaitFor(id);
        EXPECT_EQ(done.status, existing ? BaseAsyncEvent::SUCCEEDED : BaseAsyncEvent::FAILED);
        EXPECT_EQ(done.name, existing ? file_ : "");
        EXPECT_EQ(done.error, existing ? "" : "No such file or directory");
    }
    parsers[0] = nullptr;
    parsers[1] = nullptr;
    EXPECT_TRUE(log.WaitDestroyed(2));
}

// Counts how many completions of one parser run at once, and the most seen.
class OverlapParser : public FileParser {
public:
    void OnComplete(std::uint64_t, BaseAsyncEvent::EventStatus) override {
        const int now = ++inside_;
        int seen = most_.load();
        while (now > seen && !most_.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(20ms);
        --inside_;
        ++done_;
    }
    std::atomic<int> inside_{0};
    std::atomic<int> most_{0};
    std::atomic<int> done_{0};
};

// Fetches of different parsers may complete side by side; one parser's completions never overlap.
TEST_F(FileParserTest, OneParsersCompletionsNeverOverlap) {
    SmartPtr<OverlapParser> parsers[2] = {SmartPtr<OverlapParser>(new OverlapParser),
                                          SmartPtr<OverlapParser>(new OverlapParser)};
    constexpr int kFetches = 6;
    for (int i = 0; i < kFetches; ++i) {
        for (auto& parser : parsers)
            parser->GetFile(Symbol(file_), true, Symbol());
    }
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while ((parsers[0]->done_ < kFetches || parsers[1]->done_ < kFetches) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    for (auto& parser : parsers) {
        EXPECT_EQ(parser->done_, kFetches);
        EXPECT_EQ(parser->most_, 1);
    }
}

TEST_F(FileParserTest, CopiesShareNoFetchesWithTheOriginal) {
    // Looks at its fetch through a copy of itself, from inside OnComplete.
    class CopyingParser : public FileParser {
    public:
        void OnComplete(std::uint64_t id, BaseAsyncEvent::EventStatus) override {
            Symbol name;
            originalSees = GetAsyncFileName(id, name);
            FileParser copy(*this);
            copySees = copy.GetAsyncFileName(id, name);
            FileParser assigned;
            assigned = *this;
            assignedSees = assigned.GetAsyncFileName(id, name);
            copyReferences = copy.GetReferenceCount();
        }
        bool originalSees = false;
        bool copySees = true;
        bool assignedSees = true;
        int copyReferences = -1;
    };
    SmartPtr<CopyingParser> parser(new CopyingParser());
    parser->GetFile(Symbol(file_), false, Symbol());
    EXPECT_TRUE(parser->originalSees);
    EXPECT_FALSE(parser->copySees);
    EXPECT_FALSE(parser->assignedSees);
    EXPECT_EQ(parser->copyReferences, 0);
}

TEST_F(FileParserTest, DefaultsOfTheBaseParser) {
    SmartPtr<FileParser> parser(new FileParser());
    EXPECT_TRUE(parser->OnProgress(1, 50));
    SmartPtr<Structure> structure(new Structure());
    EXPECT_FALSE(parser->IsPresaveNeeded(structure));
    SmartPtr<AsyncEvent> event(new AsyncEvent());
    parser->Presave(structure, Symbol("saved.xml"), event);
    EXPECT_TRUE(event->IsDone());
    EXPECT_EQ(event->GetStatus(), BaseAsyncEvent::SUCCEEDED);
    parser->Presave(structure, Symbol("saved.xml"), SmartPtr<AsyncEvent>());
    EXPECT_NE(parser->GetFile(Symbol(file_), false, Symbol()), 0u);  // runs without overrides
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
        close(result[0]);
        char completed = 0;
        {
            FetchLog childLog;
            SmartPtr<RecordingParser> childParser(new RecordingParser(childLog));
            std::uint64_t id = childParser->GetFile(Symbol(file_), true, Symbol());
            completed = childLog.WaitFor(id).status == BaseAsyncEvent::SUCCEEDED &&
                        childLog.HasCompleted(id);
        }
        if (write(result[1], &completed, 1) != 1)
            completed = 0;
        close(result[1]);
        // exit, not _exit: the kernel's static shutdown must not wait for the parent's thread.
        // (The exit status is not used: the leak checker may misjudge memory of the parent's
        // threads, which the child lacks.)
        std::exit(0);
    }
    close(result[1]);

    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    char completed = 0;
    const bool reported = read(result[0], &completed, 1) == 1;
    close(result[0]);
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the forked child hung";
    }
    EXPECT_TRUE(WIFEXITED(status)) << "the child ended abnormally, status " << status;
    EXPECT_TRUE(reported && completed) << "the child's fetch did not complete";
#endif
}

}  // namespace
