#include "kernel/AsyncEvent.h"

#include <utility>

// Completes SmartPtr<SerializedContentElement> for the members destroyed here.
#include "kernel/SerializedContentElement.h"

BaseAsyncEvent::~BaseAsyncEvent() = default;

AsyncEvent::AsyncEvent() = default;

AsyncEvent::~AsyncEvent() = default;

void AsyncEvent::SetError(const Symbol& message, EventStatus status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_)
        return;
    done_ = true;
    status_ = status;
    message_ = message;
    // Notified under the lock: a waiter may destroy the event as soon as it sees done_.
    ended_.notify_all();
}

void AsyncEvent::SetCompleted() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_)
        return;
    done_ = true;
    ended_.notify_all();
}

void AsyncEvent::Wait() const {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return done_; });
}

bool AsyncEvent::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return done_; });
}

bool AsyncEvent::IsDone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

BaseAsyncEvent::EventStatus AsyncEvent::GetStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

Symbol AsyncEvent::GetErrorMessage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return message_;
}

SerializedContentLoaderEvent::SerializedContentLoaderEvent() = default;

SerializedContentLoaderEvent::~SerializedContentLoaderEvent() = default;

void SerializedContentLoaderEvent::SetSerializedContent(
    SmartPtr<SerializedContentElement> content) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(content_, content);
    }
    // The previous tree, if any, is released here, outside the lock.
}

SmartPtr<SerializedContentElement> SerializedContentLoaderEvent::GetSerializedContent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return content_;
}
