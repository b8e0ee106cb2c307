// Image files: PNG, BMP, JPEG and TGA read through stb_image, PNG and BMP written
// through stb_image_write.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/Image.h"
#include "kestrel/Error.h"
#include "kestrel/Export.h"
#include "utilities/SmartPtr.h"

namespace kestrel::images {

// Largest width or height read or written.
inline constexpr std::uint64_t kMaxDimension = 65535;
// Largest width x height read or written: 16384 x 16384, 1 GiB as RGBA8.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// An image read from a file, or why there is none.
struct ImageReadResult {
    SmartPtr<Image> image;  // null on failure
    Error error;

    // True when the image was read.
    explicit operator bool() const noexcept { return static_cast<bool>(image); }
};

// Reads the PNG, BMP, JPEG or TGA file at path: gray and color become RGB8, gray or color with
// alpha RGBA8. Fails as files::ReadRegularFile does when the file cannot be read, with Malformed
// when it is empty, not an image stb can read, or larger than the limits above.
KESTREL_CONTENT_API ImageReadResult ReadImageFile(const std::string& path);

// PNG bytes of an image, or why there are none.
struct PngResult {
    std::string bytes;  // empty on failure
    Error error;

    // True when the image was encoded.
    explicit operator bool() const noexcept { return !error; }
};

// The image encoded as PNG in memory; NotSavable when the image is empty or beyond the limits,
// Internal when memory runs out.
KESTREL_CONTENT_API PngResult EncodePng(const Image& image);

// Writes image as a PNG file at path, through a temporary file in the same directory renamed over
// path once complete, so a failure leaves no partial file. NotSavable when the image is empty or
// beyond the limits; WriteFailed when the file cannot be written.
KESTREL_CONTENT_API Error WritePng(const Image& image, const std::string& path);

// Writes image as PNG or BMP as the extension of path says (".png" or ".bmp", any case), the same
// way as WritePng; InvalidArgument for any other extension.
KESTREL_CONTENT_API Error WriteImageFile(const Image& image, const std::string& path);

}  // namespace kestrel::images
