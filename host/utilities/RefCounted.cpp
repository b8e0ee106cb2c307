#include "utilities/RefCounted.h"

RefCounted::~RefCounted() = default;

int RefCounted::AddReference(const void* /*holder*/) const noexcept {
    return count_.fetch_add(1, std::memory_order_relaxed) + 1;
}

int RefCounted::RemoveReference(const void* /*holder*/) const noexcept {
    return count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
}

bool RefCounted::ZeroReferenceCountHook() {
    return true;
}

void ReleaseReference(const RefCounted* object, const void* holder) noexcept {
    if (!object || object->RemoveReference(holder) != 0)
        return;
    // The hook runs with a reference put back, so anything it does with the object is safe.
    object->AddReference(holder);
    if (const_cast<RefCounted*>(object)->ZeroReferenceCountHook() &&
        object->RemoveReference(holder) == 0) {
        delete object;
    }
}
