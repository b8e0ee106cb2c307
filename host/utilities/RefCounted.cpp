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
