// Fuzz target: the "bmp" image loader's decoder on arbitrary bytes. An image it gives must be
// consistent, and must encode and decode back to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BmpCodec.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SmartPtr<Image> image = bmp::Decode(data, size);
    if (!image)
        return 0;
    Require(bmp::WithinLimits(image->GetWidth(), image->GetHeight()));
    Require(image->GetPixelBytes() == image->GetRowBytes() * image->GetHeight());
    // Run-length data can stand for images of hundreds of MiB; two more copies of such an image
    // would only measure the memory limit.
    if (image->GetPixelBytes() > (std::size_t{64} << 20))
        return 0;
    std::vector<std::uint8_t> encoded;
    Require(bmp::Encode(*image, encoded));
    SmartPtr<Image> again = bmp::Decode(encoded.data(), encoded.size());
    Require(again && again->GetWidth() == image->GetWidth() &&
            again->GetHeight() == image->GetHeight() && again->GetFormat() == image->GetFormat());
    Require(std::memcmp(again->GetPixels(), image->GetPixels(), image->GetPixelBytes()) == 0);
    return 0;
}
