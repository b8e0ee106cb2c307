// BMP encoding and decoding behind the image_bmp module's saver and loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/Image.h"
#include "utilities/SmartPtr.h"

namespace bmp {

// Largest width or height either direction accepts. The format allows more, but a larger value in
// a file is far more likely corruption than a real picture.
inline constexpr std::uint64_t kMaxDimension = 65535;
// Largest width x height either direction accepts: 16384 x 16384, 1 GiB as RGBA8.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
// Files the encoder produces stay below this size, so that readers taking the 32-bit sizes and
// offsets of the headers as signed read them right.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

// True when width and height are nonzero and within kMaxDimension and kMaxPixels.
bool WithinLimits(std::uint64_t width, std::uint64_t height) noexcept;

// Encodes image as a BMP file into out: RGB8 as 24-bit BI_RGB rows padded to 4 bytes, RGBA8 as
// 32-bit BI_BITFIELDS with an alpha mask (BITMAPV4HEADER), both bottom-up. False, out untouched,
// for an empty or inconsistent image, one beyond the limits, or when memory runs out.
bool Encode(const Image& image, std::vector<std::uint8_t>& out) noexcept;

// Decodes the BMP file of size bytes at data: headers of 12, 40, 52, 56, 64, 108 and 124 bytes,
// 1/4/8-bit palettes (also RLE8 and RLE4), 16, 24 and 32-bit, BI_RGB and BI_BITFIELDS (also
// BI_ALPHABITFIELDS), bottom-up and top-down. Gives RGBA8 when the file has an alpha channel (an
// alpha mask, or a 32-bit BI_RGB file with some alpha byte nonzero), RGB8 otherwise; pixels that
// run-length data skips are black. Null when the bytes are not such a file: truncated,
// inconsistent, beyond the limits, run-length data standing for more than 65536 pixels a byte,
// or when memory runs out. Never reads outside the size bytes.
SmartPtr<Image> Decode(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace bmp
