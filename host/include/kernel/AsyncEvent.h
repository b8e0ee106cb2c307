// Asynchronous events: how a host learns that an operation it started has ended.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "kernel/Export.h"
#include "utilities/RefCounted.h"
#include "utilities/SmartPtr.h"
#include "utilities/Symbol.h"

class SerializedContentElement;

// The outcome codes shared by events and fetches.
class KERNEL_API BaseAsyncEvent {
public:
    enum EventStatus {
        SUCCEEDED = 0,
        FAILED = 1,
        CANCELLED = 2,
    };
    virtual ~BaseAsyncEvent();
};

// An event that ends once, with success or with an error message; others may wait for it.
class KERNEL_API AsyncEvent : public BaseAsyncEvent, public RefCounted {
public:
    AsyncEvent();
    ~AsyncEvent() override;

    // Ends the event with an error message and status; later endings are ignored.
    virtual void SetError(const Symbol& message, EventStatus status);
    // Ends the event with success; later endings are ignored.
    virtual void SetCompleted();

    // Waits until the event has ended.
    void Wait() const;
    // Waits at most timeout; true when the event has ended.
    bool WaitFor(std::chrono::milliseconds timeout) const;
    // True once the event has ended.
    bool IsDone() const;
    // SUCCEEDED while pending or after success; the error status after SetError.
    EventStatus GetStatus() const;
    // The error message; empty unless SetError ended the event.
    Symbol GetErrorMessage() const;

protected:
    mutable std::mutex mutex_;

private:
    mutable std::condition_variable ended_;
    bool done_ = false;
    EventStatus status_ = SUCCEEDED;
    Symbol message_;
};

// The event of a content load; receives the loaded tree before it completes.
class KERNEL_API SerializedContentLoaderEvent : public AsyncEvent {
public:
    SerializedContentLoaderEvent();
    ~SerializedContentLoaderEvent() override;

    // Takes a reference on the loaded tree.
    virtual void SetSerializedContent(SmartPtr<SerializedContentElement> content);
    // The tree given by SetSerializedContent, or null.
    SmartPtr<SerializedContentElement> GetSerializedContent() const;

private:
    SmartPtr<SerializedContentElement> content_;
};
