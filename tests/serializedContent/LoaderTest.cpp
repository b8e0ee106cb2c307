#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "kernel/Anchor.h"
#include "kernel/AsyncEvent.h"
#include "kernel/SerializedContentElement.h"
#include "serializedContent/LongPath.h"
#include "serializedContent/SerializedContentParser.h"

namespace {

using serializedContent::SerializedContentParser;

// Writes down what the loader tells it, in order.
class RecordingEvent : public SerializedContentLoaderEvent {
public:
    void SetSerializedContent(SmartPtr<SerializedContentElement> content) override {
        Log("content");
        SerializedContentLoaderEvent::SetSerializedContent(std::move(content));
    }
    void SetError(const Symbol& message, EventStatus status) override {
        Log("error " + std::string(message) + " " + std::to_string(status));
        SerializedContentLoaderEvent::SetError(message, status);
    }
    void SetCompleted() override {
        Log("completed");
        SerializedContentLoaderEvent::SetCompleted();
    }
    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    void Log(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::vector<std::string> calls_;
};

// Holds back the host's completion calls so a test decides when, and in which order, they run.
class HeldLoader : public SerializedContentParser {
public:
    void OnComplete(std::uint64_t id, BaseAsyncEvent::EventStatus status) override {
        std::lock_guard<std::mutex> lock(mutex_);
        held_.emplace_back(id, status);
        arrived_.notify_all();
    }
    // Waits for the next held completion and runs it for real.
    void Deliver() {
        std::pair<std::uint64_t, BaseAsyncEvent::EventStatus> next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            arrived_.wait(lock, [this] { return !held_.empty(); });
            next = held_.front();
            held_.pop_front();
        }
        SerializedContentParser::OnComplete(next.first, next.second);
    }
    void WaitForHeld(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait(lock, [&] { return held_.size() >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::pair<std::uint64_t, BaseAsyncEvent::EventStatus>> held_;
};

// Loads file through a real loader and the host's asynchronous fetch.
SmartPtr<RecordingEvent> Load(const std::string& file, SmartPtr<Anchor> anchor = {}) {
    SmartPtr<SerializedContentParser> loader(new SerializedContentParser);
    SmartPtr<RecordingEvent> event(new RecordingEvent);
    loader->LoadSerializedContent(Symbol(file), anchor, event.get());
    EXPECT_TRUE(event->WaitFor(std::chrono::seconds(30)));
    return event;
}

std::vector<std::string> ChildNames(const SerializedContentElement& element) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < element.GetChildCount(); ++i)
        names.push_back(element.GetChild(i)->GetName());
    return names;
}

const std::vector<std::string> kDelivered{"content", "completed"};
const std::vector<std::string> kLoadError{"error Error loading orbifile. 1"};
const std::vector<std::string> kFileError{"error Failed to get orbi file. 1"};

struct FileCase {
    const char* name;
    std::optional<std::string> content;  // none: the file is missing
    std::vector<std::string> calls;
    std::vector<std::string> children;  // of "figure"
};

class LoaderFileTest : public testing::TestWithParam<FileCase> {};

TEST_P(LoaderFileTest, DeliversTheTreeBelowFigureOrFails) {
    testfiles::TempDir dir;
    std::filesystem::path file = dir.path() / "missing.xml";
    if (GetParam().content)
        file = dir.Write("f.xml", *GetParam().content);
    SmartPtr<RecordingEvent> event = Load(file.string());
    EXPECT_EQ(event->Calls(), GetParam().calls);
    SmartPtr<SerializedContentElement> tree = event->GetSerializedContent();
    ASSERT_EQ(bool(tree), GetParam().calls == kDelivered);
    if (tree) {
        EXPECT_EQ(ChildNames(*tree), GetParam().children);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoaderFileTest,
    testing::Values(
        FileCase{"Tree",
                 "<root><kestrel_sc:a><kestrel_sc:b/></kestrel_sc:a><c/></root>",
                 kDelivered,
                 {"a", "c"}},
        FileCase{"CrLfLineEnds", "<root>\r\n<a/>\r\n<b/>\r\n</root>\r\n", kDelivered, {"a", "b"}},
        FileCase{"MalformedXml", "<root><a></root>", kLoadError, {}},
        FileCase{"MissingFileFailsTheFetch", std::nullopt, kLoadError, {}}),
    [](const testing::TestParamInfo<FileCase>& info) { return info.param.name; });

TEST(LoaderTest, AnchorResolvesRelativeNames) {
    testfiles::TempDir dir;
    dir.Write("sub/in.xml", "<r><x/></r>");
    EXPECT_EQ(Load("in.xml", SmartPtr<Anchor>(new Anchor(Symbol((dir.path() / "sub").string()))))
                  ->Calls(),
              kDelivered);
}

// A loader whose completions the test delivers, an event and files to load.
class HeldLoaderTest : public testing::Test {
protected:
    void Start(const std::string& file, RecordingEvent* event) {
        loader->LoadSerializedContent(Symbol(file), SmartPtr<Anchor>(), event);
    }
    SmartPtr<HeldLoader> loader{new HeldLoader};
    SmartPtr<RecordingEvent> event{new RecordingEvent};
    testfiles::TempDir dir;
};

TEST_F(HeldLoaderTest, EventOfAnotherClassStartsNothing) {
    SmartPtr<AsyncEvent> plain(new AsyncEvent);
    loader->LoadSerializedContent(Symbol("/no/such/file"), SmartPtr<Anchor>(), plain.get());
    Start("/no/such/file", nullptr);
    // Nothing was fetched: a failure delivered now finds no pending event.
    loader->SerializedContentParser::OnComplete(1, BaseAsyncEvent::FAILED);
    EXPECT_FALSE(plain->IsDone());
}

TEST_F(HeldLoaderTest, FailureReturnsToIdle) {
    Start("/no/such/file", event.get());
    loader->Deliver();
    // A second failure has no pending event to report to.
    loader->SerializedContentParser::OnComplete(7, BaseAsyncEvent::FAILED);
    EXPECT_EQ(event->Calls(), kLoadError);
}

TEST_F(HeldLoaderTest, UnknownFetchIdCannotGetTheFile) {
    Start(dir.Write("a.xml", "<r/>").string(), event.get());
    loader->WaitForHeld(1);
    loader->SerializedContentParser::OnComplete(0, BaseAsyncEvent::SUCCEEDED);
    EXPECT_EQ(event->Calls(), kFileError);
    loader->Deliver();  // the real completion now has no event either
    EXPECT_EQ(event->Calls(), kFileError);
}

TEST_F(HeldLoaderTest, FileGoneBeforeReadingCannotBeOpened) {
    const auto file = dir.Write("a.xml", "<r/>");
    Start(file.string(), event.get());
    loader->WaitForHeld(1);
    std::filesystem::remove(file);
    loader->Deliver();
    EXPECT_EQ(event->Calls(), kFileError);
}

TEST_F(HeldLoaderTest, SecondLoadBeforeTheFirstCompletesTakesOverTheEvent) {
    SmartPtr<RecordingEvent> second(new RecordingEvent);
    Start(dir.Write("one.xml", "<r><one/></r>").string(), event.get());
    loader->WaitForHeld(1);
    Start(dir.Write("two.xml", "<r><two/></r>").string(), second.get());
    loader->WaitForHeld(2);
    loader->Deliver();
    EXPECT_TRUE(event->Calls().empty());
    ASSERT_EQ(second->Calls(), kDelivered);
    EXPECT_EQ(ChildNames(*second->GetSerializedContent()), std::vector<std::string>{"one"});
    // After a success the event stays set: the next completion reports to it again.
    loader->Deliver();
    EXPECT_EQ(second->Calls().size(), 4u);
}

TEST_F(HeldLoaderTest, CopiesShareThePendingEvent) {
    Start("/no/such/file", event.get());
    SmartPtr<SerializedContentParser> copy(new SerializedContentParser(*loader));
    copy->OnComplete(3, BaseAsyncEvent::FAILED);
    EXPECT_EQ(event->Calls(), kLoadError);
    loader->Deliver();  // the original still points at the event
    EXPECT_EQ(event->Calls().size(), 2u);
}

TEST(LongPathTest, ConvertsOnlyLongPathsWithoutThePrefix) {
    const std::wstring& prefix = FileSystem::s_longPathPrefixW;
    const std::wstring at255 = L"/" + std::wstring(254, L'a');
    const std::wstring at256 = L"/" + std::wstring(255, L'a');
    const std::wstring prefixed = prefix + L"/" + std::wstring(299 - prefix.size(), L'a');
    EXPECT_EQ(serializedContent::PathForOpening(at255), at255);
    EXPECT_EQ(serializedContent::PathForOpening(at256),
              FileSystem::GenerateLongFilePath(at256, true));
    EXPECT_NE(serializedContent::PathForOpening(at256), at256);
    EXPECT_EQ(serializedContent::PathForOpening(prefixed), prefixed);
}

TEST(LongPathTest, LoadsFilesBehindLongAndNonAsciiPaths) {
    testfiles::TempDir dir;
    std::filesystem::path deep;
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i));
    auto file = dir.Write(deep / "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5.xml", "<r><x/></r>");
    ASSERT_GT(file.string().size(), 300u);
    SmartPtr<RecordingEvent> event = Load(file.string());
    EXPECT_EQ(event->Calls(), kDelivered);
}

}  // namespace
