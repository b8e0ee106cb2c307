// The byte layout of shape payloads: records of three little-endian 32-bit values.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
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

// Appends the values of the first records of 12 bytes in bytes to out, at most count of them and
// never more than the bytes hold; the bits are copied unchanged.
template <class T>
void TakeRecords(const std::vector<char>& bytes, std::uint32_t count, std::vector<T>& out) {
    static_assert(sizeof(T) == 4);
    const std::size_t records = std::min<std::size_t>(count, bytes.size() / 12);
    if (records == 0)
        return;
    const std::size_t start = out.size();
    out.resize(start + records * 3);
    std::memcpy(out.data() + start, bytes.data(), records * 12);
    if constexpr (std::endian::native != std::endian::little) {
        for (std::size_t i = start; i < out.size(); ++i) {
            std::uint32_t value;
            std::memcpy(&value, &out[i], 4);
            value = __builtin_bswap32(value);
            std::memcpy(&out[i], &value, 4);
        }
    }
}

}  // namespace serializedContent
