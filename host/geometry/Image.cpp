#include "geometry/Image.h"

std::size_t BytesPerPixel(PixelFormat format) noexcept {
    return format == PixelFormat::RGB8 ? 3 : 4;
}

const char* PixelFormatName(PixelFormat format) noexcept {
    return format == PixelFormat::RGB8 ? "rgb8" : "rgba8";
}

Image::Image() = default;

Image::Image(std::uint32_t width, std::uint32_t height, PixelFormat format)
    : width_(width),
      height_(height),
      format_(format),
      pixels_(static_cast<std::size_t>(width) * height * BytesPerPixel(format)) {}

Image::~Image() = default;
