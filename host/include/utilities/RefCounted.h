// RefCounted: the host's intrusive reference count and its release protocol.
#pragma once

#include <atomic>

#include "utilities/Export.h"

// Base of every reference-counted host object. Counts are atomic: references may be taken and
// dropped on any thread.
class UTILITIES_API RefCounted {
public:
    RefCounted() noexcept = default;
    // A copy starts with no references of its own.
    RefCounted(const RefCounted&) noexcept {}
    // The reference count is not assigned.
    RefCounted& operator=(const RefCounted&) noexcept { return *this; }
    virtual ~RefCounted();

    // Adds one reference held at the address holder; returns the new count.
    int AddReference(const void* holder) const noexcept;
    // Removes one reference held at holder; returns the references left (0 when none is left).
    int RemoveReference(const void* holder) const noexcept;
    // The current number of references.
    int GetReferenceCount() const noexcept { return count_.load(std::memory_order_acquire); }

    // Asked once the last reference is gone, with one reference put back for the call; true lets
    // the object be deleted, false keeps it alive (whoever holds it then frees it).
    virtual bool ZeroReferenceCountHook();

private:
    mutable std::atomic<int> count_{0};
};
