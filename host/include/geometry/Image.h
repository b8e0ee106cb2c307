// Image: a raster image held by reference count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/Export.h"
#include "utilities/RefCounted.h"

// How an image's pixels are laid out in memory.
enum class PixelFormat : std::uint8_t {
    RGBA8 = 0,  // 4 bytes per pixel: red, green, blue, alpha
    RGB8 = 1,   // 3 bytes per pixel: red, green, blue
};

// Bytes per pixel of a format.
GEOMETRY_API std::size_t BytesPerPixel(PixelFormat format) noexcept;
// "rgba8" or "rgb8".
GEOMETRY_API const char* PixelFormatName(PixelFormat format) noexcept;

// A raster image: rows top to bottom, pixels left to right, no padding between rows.
class GEOMETRY_API Image : public RefCounted {
public:
    // An empty 0 x 0 RGBA image.
    Image();
    // A width x height image of format with every byte 0; an image too large for memory throws
    // std::bad_alloc.
    Image(std::uint32_t width, std::uint32_t height, PixelFormat format);
    ~Image() override;

    std::uint32_t GetWidth() const noexcept { return width_; }
    std::uint32_t GetHeight() const noexcept { return height_; }
    PixelFormat GetFormat() const noexcept { return format_; }
    // Bytes per row: width x bytes per pixel.
    std::size_t GetRowBytes() const noexcept { return width_ * BytesPerPixel(format_); }
    // The pixels, GetRowBytes() x height bytes.
    std::uint8_t* GetPixels() noexcept { return pixels_.data(); }
    const std::uint8_t* GetPixels() const noexcept { return pixels_.data(); }
    std::size_t GetPixelBytes() const noexcept { return pixels_.size(); }

private:
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    PixelFormat format_ = PixelFormat::RGBA8;
    std::vector<std::uint8_t> pixels_;
};
