// Image files: PNG, BMP, JPEG and TGA read through stb_image, PNG and BMP written
// through stb_image_write.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/Image.h"
#include "kestrel/Export.h"
#include "utilities/SmartPtr.h"

namespace kestrel::images {

// Largest width or height read or written.
inline constexpr std::uint64_t kMaxDimension = 65535;
// Largest width x height read or written: 16384 x 16384, 1 GiB as RGBA8.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// Reads the PNG, BMP, JPEG or TGA file at path: gray and color become RGB8, gray or color with
// alpha RGBA8. Null with error set ("<path>: ...") when the file cannot be read, is not an image
// stb can read, or is larger than the limits above.
KESTREL_CONTENT_API SmartPtr<Image> ReadImageFile(const std::string& path, std::string& error);

// Writes image as a PNG file at path, through a temporary file in the same directory renamed over
// path once complete, so a failure leaves no partial file. False with error set when the image is
// empty or beyond the limits, or the file cannot be written.
KESTREL_CONTENT_API bool WritePng(const Image& image, const std::string& path, std::string& error);

// Writes image as PNG or BMP as the extension of path says (".png" or ".bmp", any case), the same
// way as WritePng; false with error set for any other extension and for WritePng's failures.
KESTREL_CONTENT_API bool WriteImageFile(const Image& image, const std::string& path,
                                        std::string& error);

}  // namespace kestrel::images
