#include "kernel/AsyncEvent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct EndingCase {
    const char* name;
    std::function<void(AsyncEvent&)> end;
    BaseAsyncEvent::EventStatus status;
    const char* message;
};

TEST(AsyncEventTest, TheFirstEndingWins) {
    const EndingCase cases[] = {
        {"completed, then failed",
         [](AsyncEvent& e) {
             e.SetCompleted();
             e.SetError("late", BaseAsyncEvent::FAILED);
         },
         BaseAsyncEvent::SUCCEEDED, ""},
        {"failed, then completed",
         [](AsyncEvent& e) {
             e.SetError("first", BaseAsyncEvent::FAILED);
             e.SetCompleted();
         },
         BaseAsyncEvent::FAILED, "first"},
        {"failed twice",
         [](AsyncEvent& e) {
             e.SetError("first", BaseAsyncEvent::FAILED);
             e.SetError("second", BaseAsyncEvent::CANCELLED);
         },
         BaseAsyncEvent::FAILED, "first"},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        AsyncEvent event;
        c.end(event);
        EXPECT_TRUE(event.IsDone());
        EXPECT_TRUE(event.WaitFor(0ms));
        EXPECT_EQ(event.GetStatus(), c.status);
        EXPECT_EQ(std::string(event.GetErrorMessage()), c.message);
    }
}

// A pending event reports nothing yet and keeps its waiters until it ends.
TEST(AsyncEventTest, WaitersOnOtherThreadsWakeWhenTheEventEnds) {
    AsyncEvent event;
    EXPECT_FALSE(event.IsDone());
    EXPECT_EQ(event.GetStatus(), BaseAsyncEvent::SUCCEEDED);
    EXPECT_TRUE(event.GetErrorMessage().empty());
    EXPECT_FALSE(event.WaitFor(1ms));
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            event.Wait();
            ++woken;
        });
    }
    waiters.emplace_back([&] {
        if (event.WaitFor(10s))
            ++woken;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(woken.load(), 0);
    event.SetError("done badly", BaseAsyncEvent::FAILED);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken.load(), 4);
}

// The ending thread must not touch the event after a waiter can see it ended.
TEST(AsyncEventTest, WaiterMayDestroyTheEventAsSoonAsItEnds) {
    for (int i = 0; i < 200; ++i) {
        SmartPtr<AsyncEvent> event(new AsyncEvent());
        AsyncEvent* raw = event.get();
        std::thread waiter([held = std::move(event)]() mutable {
            held->Wait();
            held = nullptr;
        });
        if (i % 2 == 0) {
            raw->SetCompleted();
        } else {
            raw->SetError("gone", BaseAsyncEvent::FAILED);
        }
        waiter.join();
    }
}

}  // namespace
