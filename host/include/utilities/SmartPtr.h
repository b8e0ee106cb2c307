// SmartPtr<T>: holds one reference on a RefCounted object.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "utilities/RefCounted.h"

// Holds one reference on a RefCounted object, naming its own address as the holder. T may be
// incomplete where a SmartPtr<T> is only declared, not where it is created, copied or destroyed.
template <class T>
class SmartPtr {
public:
    using element_type = T;

    constexpr SmartPtr() noexcept = default;
    constexpr SmartPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on object (may be null).
    explicit SmartPtr(T* object) noexcept : object_(object) { Acquire(); }
    SmartPtr(const SmartPtr& other) noexcept : object_(other.object_) { Acquire(); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    SmartPtr(const SmartPtr<U>& other) noexcept : object_(other.get()) {
        Acquire();
    }
    // Moves the reference: other ends empty and no count changes hands.
    SmartPtr(SmartPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ~SmartPtr() { Drop(); }

    // Assignment contract: the same pointer changes nothing; otherwise a new reference is taken on
    // the new object first, then the old one's reference is released.
    SmartPtr& operator=(T* object) noexcept {
        if (object == object_)
            return *this;
        if (object)
            AsRefCounted(object)->AddReference(this);
        T* old = std::exchange(object_, object);
        if (old)
            Release(AsRefCounted(old));
        return *this;
    }
    SmartPtr& operator=(const SmartPtr& other) noexcept { return *this = other.object_; }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    SmartPtr& operator=(const SmartPtr<U>& other) noexcept {
        return *this = static_cast<T*>(other.get());
    }
    SmartPtr& operator=(SmartPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(object_, std::exchange(other.object_, nullptr));
            if (old)
                Release(AsRefCounted(old));
        }
        return *this;
    }
    SmartPtr& operator=(std::nullptr_t) noexcept { return *this = static_cast<T*>(nullptr); }

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    T& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    friend bool operator==(const SmartPtr& a, const SmartPtr& b) noexcept {
        return a.object_ == b.object_;
    }
    friend bool operator==(const SmartPtr& a, std::nullptr_t) noexcept {
        return a.object_ == nullptr;
    }

private:
    static const RefCounted* AsRefCounted(T* object) noexcept { return object; }
    void Acquire() noexcept {
        if (object_)
            AsRefCounted(object_)->AddReference(this);
    }
    void Drop() noexcept {
        if (object_)
            Release(AsRefCounted(std::exchange(object_, nullptr)));
    }
    // The release protocol, inline so that every module built against this header carries it
    // and calls nothing of the host but the reference count and the hook: when no reference is
    // left, one is put back for ZeroReferenceCountHook(), and if the hook agrees and a second
    // removal leaves none, the object is deleted through its virtual destructor.
    void Release(const RefCounted* object) noexcept {
        if (object->RemoveReference(this) != 0)
            return;
        object->AddReference(this);
        if (const_cast<RefCounted*>(object)->ZeroReferenceCountHook() &&
            object->RemoveReference(this) == 0) {
            delete object;
        }
    }

    T* object_ = nullptr;
};

// A SmartPtr<T> on the same object when it is a T (dynamic_cast), null otherwise.
template <class T, class U>
SmartPtr<T> DynamicPointerCast(const SmartPtr<U>& from) noexcept {
    return SmartPtr<T>(dynamic_cast<T*>(from.get()));
}
