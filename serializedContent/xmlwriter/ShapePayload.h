// The byte layout of shape payloads: records of three little-endian 32-bit values.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "utilities/Base64.h"

namespace serializedContent {

// The Base64 text of count 32-bit values (floats or indices) stored little-endian.
template <class T>
std::string EncodeRecords(const T* values, std::size_t count) {
    static_assert(sizeof(T) == 4);
    if constexpr (std::endian::native == std::endian::little) {
        return Base64::Encode(values, count * 4);
    } else {
        std::vector<std::uint32_t> swapped(count);
        std::memcpy(swapped.data(), values, count * 4);
        for (std::uint32_t& value : swapped)
            value = __builtin_bswap32(value);
        return Base64::Encode(swapped.data(), count * 4);
    }
}

// The records of 12 bytes at the start of a decoded payload: at most the count its element gives
// and never more than the bytes hold. Values are read from the bytes where they stand, so that a
// payload of millions of records is not copied once more on its way into the shape.
struct PayloadRecords {
    std::vector<char> bytes;
    std::size_t count = 0;

    PayloadRecords() = default;
    PayloadRecords(std::vector<char> decoded, std::uint32_t wanted)
        : bytes(std::move(decoded)), count(std::min<std::size_t>(wanted, bytes.size() / 12)) {}

    // The three values of record index, their bits unchanged.
    template <class T>
    void Get(std::size_t index, T (&values)[3]) const noexcept {
        static_assert(sizeof(T) == 4);
        std::memcpy(values, bytes.data() + index * 12, 12);
        if constexpr (std::endian::native != std::endian::little) {
            for (T& value : values) {
                std::uint32_t bits;
                std::memcpy(&bits, &value, 4);
                bits = __builtin_bswap32(bits);
                std::memcpy(&value, &bits, 4);
            }
        }
    }
};

}  // namespace serializedContent
