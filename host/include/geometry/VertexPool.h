// VertexType and VertexPool: the vertex records that triangle meshes index into.
#pragma once

#include <cstdint>

#include "geometry/Export.h"

class PolyForm;

// The layout of one vertex record, in floats. The position x y z is always the last three
// floats of a record, so a reader that only wants positions needs nothing but the length.
//   0 Position             x y z                        3 floats
//   1 NormalPosition       nx ny nz x y z               6 floats
//   2 TexNormalPosition    u v nx ny nz x y z           8 floats
//   3 ColorNormalPosition  r g b a nx ny nz x y z      10 floats
// Any other value is an unknown type: record length 0, no slot at all.
class VertexType {
public:
    // The known layouts.
    enum Kind : unsigned {
        Position = 0,
        NormalPosition = 1,
        TexNormalPosition = 2,
        ColorNormalPosition = 3,
    };
    // Number of known layouts; values from here on are unknown.
    static constexpr unsigned kKnownCount = 4;

    // The type of that value; implicit so that a plain number (as in "VertexType type = 1") works.
    constexpr VertexType(unsigned value = Position) noexcept : value_(value) {}

    // The type's number.
    constexpr unsigned Value() const noexcept { return value_; }
    // Whether the value names a known layout.
    constexpr bool IsKnown() const noexcept { return value_ < kKnownCount; }
    // Floats per record (0 to 15); 0 for an unknown type.
    constexpr unsigned RecordLength() const noexcept {
        constexpr unsigned lengths[kKnownCount] = {3, 6, 8, 10};
        return IsKnown() ? lengths[value_] : 0;
    }
    // Offset of x within a record (RecordLength() - 3); 0 for an unknown type.
    constexpr unsigned PositionOffset() const noexcept {
        return IsKnown() ? RecordLength() - 3 : 0;
    }
    // Whether records carry a normal nx ny nz.
    constexpr bool HasNormals() const noexcept { return IsKnown() && value_ != Position; }
    // Offset of nx within a record; meaningful only when HasNormals().
    constexpr unsigned NormalOffset() const noexcept {
        return HasNormals() ? PositionOffset() - 3 : 0;
    }
    // Whether records carry texture coordinates u v (at offset 0).
    constexpr bool HasTexCoords() const noexcept { return value_ == TexNormalPosition; }
    // Whether records carry an RGBA colour r g b a (at offset 0).
    constexpr bool HasColor() const noexcept { return value_ == ColorNormalPosition; }

    // Types are equal when their values are.
    friend constexpr bool operator==(VertexType, VertexType) noexcept = default;

private:
    unsigned value_;
};

// Floats per record of a vertex type (0 to 15); 0 for an unknown type.
constexpr unsigned VertexRecordLength(VertexType type) noexcept {
    return type.RecordLength();
}

// A fixed number of vertex records of one type, stored one after the other, L floats each
// (L = GetRecordLength()). Made only by Construct and deletable on its own with delete; one
// given to a PolyForm belongs to it, and deleting it anyway takes it from the PolyForm first.
class GEOMETRY_API VertexPool final {
public:
    // A new pool of count records, every float 0; null for an unknown type or when the memory
    // cannot be had. A pool of 0 vertices is valid.
    static VertexPool* Construct(VertexType type, std::uint32_t count) noexcept;

    // Frees the records, and leaves the PolyForm that holds the pool, if any.
    ~VertexPool();
    VertexPool(const VertexPool&) = delete;
    VertexPool& operator=(const VertexPool&) = delete;

    // The first float of record 0; never null, though for an empty pool nothing may be read there.
    float* Vertices() noexcept { return data_; }
    // The first float of record 0, read-only; never null, as above.
    const float* Vertices() const noexcept { return data_; }
    // Number of records.
    std::uint32_t GetVertexCount() const noexcept { return count_; }
    // Floats per record (3 to 10 for the known types).
    unsigned GetRecordLength() const noexcept { return type_.RecordLength(); }
    // The record layout.
    VertexType GetVertexType() const noexcept { return type_; }

    // Record index; null when index is not below GetVertexCount().
    float* GetRecord(std::uint32_t index) noexcept;
    // Record index, read-only; null when index is not below GetVertexCount().
    const float* GetRecord(std::uint32_t index) const noexcept;
    // x of vertex index (y, z follow); null when index is out of range.
    const float* GetPosition(std::uint32_t index) const noexcept;
    // nx of vertex index (ny, nz follow); null when out of range or the type has no normals.
    const float* GetNormal(std::uint32_t index) const noexcept;

private:
    friend class PolyForm;
    VertexPool(VertexType type, std::uint32_t count, float* data) noexcept;

    VertexType type_;
    std::uint32_t count_;
    float* data_;  // from calloc, so that large pools start as untouched zero pages
    PolyForm* owner_ = nullptr;
};
