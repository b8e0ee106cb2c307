#include "geometry/VertexPool.h"

#include "geometry/PolyForm.h"

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>

#include "utilities/LargeBuffer.h"

VertexPool* VertexPool::Construct(VertexType type, std::uint32_t count) noexcept {
    const std::size_t length = type.RecordLength();
    if (length == 0)
        return nullptr;
    // An empty pool still gets one record of storage so that Vertices() is never null.
    const std::size_t records = count == 0 ? 1 : count;
    if (records > std::numeric_limits<std::size_t>::max() / sizeof(float) / length)
        return nullptr;
    auto* data = static_cast<float*>(std::calloc(records * length, sizeof(float)));
    if (!data)
        return nullptr;
    AdviseLargeBuffer(data, records * length * sizeof(float));
    auto* pool = new (std::nothrow) VertexPool(type, count, data);
    if (!pool)
        std::free(data);
    return pool;
}

VertexPool::VertexPool(VertexType type, std::uint32_t count, float* data) noexcept
    : type_(type), count_(count), data_(data) {}

VertexPool::~VertexPool() {
    if (owner_)
        owner_->pool_ = nullptr;
    std::free(data_);
}

float* VertexPool::GetRecord(std::uint32_t index) noexcept {
    return index < count_ ? data_ + std::size_t{index} * GetRecordLength() : nullptr;
}

const float* VertexPool::GetRecord(std::uint32_t index) const noexcept {
    return index < count_ ? data_ + std::size_t{index} * GetRecordLength() : nullptr;
}

const float* VertexPool::GetPosition(std::uint32_t index) const noexcept {
    const float* record = GetRecord(index);
    return record ? record + type_.PositionOffset() : nullptr;
}

const float* VertexPool::GetNormal(std::uint32_t index) const noexcept {
    const float* record = GetRecord(index);
    return record && type_.HasNormals() ? record + type_.NormalOffset() : nullptr;
}
