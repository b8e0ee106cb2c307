#include "BmpCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <exception>
#include <new>

namespace bmp {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;  // BITMAPCOREHEADER (OS/2 1.x)
constexpr std::uint32_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER
constexpr std::uint32_t kV2HeaderBytes = 52;    // BITMAPV2INFOHEADER: adds the RGB masks
constexpr std::uint32_t kV3HeaderBytes = 56;    // BITMAPV3INFOHEADER: adds the alpha mask
constexpr std::uint32_t kOs2V2HeaderBytes = 64;
constexpr std::uint32_t kV4HeaderBytes = 108;
constexpr std::uint32_t kV5HeaderBytes = 124;

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

// At most this many pixels for each byte of run-length data.
constexpr std::uint64_t kMaxRlePixelsPerByte = 65536;

constexpr std::uint32_t kLcsSrgb = 0x73524742;  // 'sRGB'
constexpr std::uint32_t kPixelsPerMeterAt72Dpi = 2835;

std::uint16_t Read16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Read32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void Write16(std::uint8_t* p, std::uint64_t value) noexcept {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void Write32(std::uint8_t* p, std::uint64_t value) noexcept {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// One channel of a bit-field pixel, scaled to 8 bits.
class Channel {
public:
    explicit Channel(std::uint32_t mask) noexcept : mask_(mask) {
        if (mask != 0) {
            shift_ = std::countr_zero(mask);
            bits_ = std::popcount(mask);
            max_ = mask >> shift_;
        }
    }

    std::uint8_t Extract(std::uint32_t pixel) const noexcept {
        if (mask_ == 0)
            return 0;
        std::uint32_t value = (pixel & mask_) >> shift_;
        if (bits_ >= 8)
            return static_cast<std::uint8_t>(value >> (bits_ - 8));
        return static_cast<std::uint8_t>((value * 255 + max_ / 2) / max_);
    }

private:
    std::uint32_t mask_;
    int shift_ = 0;
    int bits_ = 0;
    std::uint32_t max_ = 0;
};

bool Contiguous(std::uint32_t mask) noexcept {
    if (mask == 0)
        return true;
    std::uint64_t value = mask >> std::countr_zero(mask);
    return (value & (value + 1)) == 0;
}

// Everything the headers say about the pixels, checked against the file size.
struct Layout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool topDown = false;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
    // 32-bit BI_RGB: the fourth byte is reserved, and taken as alpha only when some pixel sets it.
    bool alphaFromData = false;
    std::size_t paletteOffset = 0;
    std::size_t paletteEntryBytes = 4;
    std::size_t paletteCount = 0;
    std::size_t pixelOffset = 0;
    std::size_t stride = 0;  // uncompressed only
};

bool CompressionFits(std::uint32_t bitCount, std::uint32_t compression) noexcept {
    switch (bitCount) {
        case 1:
        case 24:
            return compression == kBiRgb;
        case 4:
            return compression == kBiRgb || compression == kBiRle4;
        case 8:
            return compression == kBiRgb || compression == kBiRle8;
        case 16:
        case 32:
            return compression == kBiRgb || compression == kBiBitfields ||
                   compression == kBiAlphaBitfields;
        default:
            return false;
    }
}

bool ReadLayout(const std::uint8_t* data, std::size_t size, Layout& layout) noexcept {
    if (size < kFileHeaderBytes + 4 || data[0] != 'B' || data[1] != 'M')
        return false;
    const std::uint32_t pixelOffset = Read32(data + 10);
    const std::uint32_t headerBytes = Read32(data + kFileHeaderBytes);
    switch (headerBytes) {
        case kCoreHeaderBytes:
        case kInfoHeaderBytes:
        case kV2HeaderBytes:
        case kV3HeaderBytes:
        case kOs2V2HeaderBytes:
        case kV4HeaderBytes:
        case kV5HeaderBytes:
            break;
        default:
            return false;
    }
    if (size - kFileHeaderBytes < headerBytes)
        return false;
    const std::uint8_t* info = data + kFileHeaderBytes;

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t colorsUsed = 0;
    if (headerBytes == kCoreHeaderBytes) {
        width = Read16(info + 4);
        height = Read16(info + 6);
        planes = Read16(info + 8);
        layout.bitCount = Read16(info + 10);
        layout.paletteEntryBytes = 3;
        if (layout.bitCount == 16 || layout.bitCount == 32)
            return false;
    } else {
        width = static_cast<std::int32_t>(Read32(info + 4));
        height = static_cast<std::int32_t>(Read32(info + 8));
        planes = Read16(info + 12);
        layout.bitCount = Read16(info + 14);
        layout.compression = Read32(info + 16);
        colorsUsed = Read32(info + 32);
        // OS/2 2.x gives 3 and 4 to Huffman and RLE24, which are not read here.
        if (headerBytes == kOs2V2HeaderBytes && layout.compression > kBiRle4)
            return false;
    }
    if (height < 0) {
        layout.topDown = true;
        height = -height;
    }
    if (planes != 1 || width <= 0 || height <= 0 || !WithinLimits(width, height))
        return false;
    layout.width = static_cast<std::uint32_t>(width);
    layout.height = static_cast<std::uint32_t>(height);
    if (!CompressionFits(layout.bitCount, layout.compression))
        return false;
    const bool rle = layout.compression == kBiRle8 || layout.compression == kBiRle4;
    if (rle && layout.topDown)
        return false;

    std::size_t afterHeaders = kFileHeaderBytes + headerBytes;
    if (layout.compression == kBiBitfields || layout.compression == kBiAlphaBitfields) {
        const std::size_t count = layout.compression == kBiAlphaBitfields ? 4 : 3;
        if (headerBytes == kInfoHeaderBytes) {
            if (size - afterHeaders < count * 4)
                return false;
            for (std::size_t i = 0; i < count; ++i)
                layout.masks[i] = Read32(data + afterHeaders + 4 * i);
            afterHeaders += count * 4;
        } else {
            // Later headers hold the masks themselves: red, green and blue, then alpha from V3 on.
            const std::size_t inHeader = headerBytes >= kV3HeaderBytes ? 4 : 3;
            if (count > inHeader)
                return false;
            for (std::size_t i = 0; i < inHeader; ++i)
                layout.masks[i] = Read32(info + kInfoHeaderBytes + 4 * i);
        }
    } else if (layout.bitCount == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (layout.bitCount == 32) {
        layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        layout.alphaFromData = true;
    }
    if (layout.bitCount == 16 || layout.bitCount == 32) {
        const std::uint64_t limit = layout.bitCount == 16 ? 0xFFFF : 0xFFFFFFFF;
        std::uint32_t seen = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint32_t mask = layout.masks[i];
            if ((i < 3 && mask == 0) || mask > limit || !Contiguous(mask) || (mask & seen) != 0)
                return false;
            seen |= mask;
        }
    }

    if (layout.bitCount <= 8) {
        const std::size_t full = std::size_t{1} << layout.bitCount;
        std::size_t count = colorsUsed == 0 ? full : std::min<std::size_t>(colorsUsed, full);
        if (pixelOffset < afterHeaders)
            return false;
        // Some writers leave unused entries out without saying so: take only those before the
        // pixels.
        count = std::min(count, (pixelOffset - afterHeaders) / layout.paletteEntryBytes);
        if (count == 0)
            return false;
        layout.paletteOffset = afterHeaders;
        layout.paletteCount = count;
        afterHeaders += count * layout.paletteEntryBytes;
    }
    if (pixelOffset < afterHeaders || pixelOffset >= size)
        return false;
    layout.pixelOffset = pixelOffset;

    if (rle) {
        // Runs and skips let a few bytes stand for any number of pixels; real files are never
        // that sparse, and this keeps a tiny file from making the loader allocate a gigabyte.
        if (std::uint64_t{layout.width} * layout.height >
            (size - pixelOffset) * kMaxRlePixelsPerByte)
            return false;
    } else {
        const std::uint64_t rowBits = std::uint64_t{layout.width} * layout.bitCount;
        const std::uint64_t stride = (rowBits + 31) / 32 * 4;
        if (stride * layout.height > size - pixelOffset)
            return false;
        layout.stride = static_cast<std::size_t>(stride);
    }
    return true;
}

using Palette = std::array<std::array<std::uint8_t, 3>, 256>;

// The palette as RGB; indices past its end read as black.
Palette ReadPalette(const std::uint8_t* data, const Layout& layout) noexcept {
    Palette palette{};
    for (std::size_t i = 0; i < layout.paletteCount; ++i) {
        const std::uint8_t* entry = data + layout.paletteOffset + i * layout.paletteEntryBytes;
        palette[i] = {entry[2], entry[1], entry[0]};
    }
    return palette;
}

bool AnyAlpha(const std::uint8_t* data, const Layout& layout) noexcept {
    for (std::size_t row = 0; row < layout.height; ++row) {
        const std::uint8_t* pixel = data + layout.pixelOffset + row * layout.stride;
        for (std::size_t x = 0; x < layout.width; ++x, pixel += 4) {
            if (pixel[3] != 0)
                return true;
        }
    }
    return false;
}

void DecodeRows(const std::uint8_t* data, const Layout& layout, const Palette& palette,
                Image& image) noexcept {
    const std::size_t outPixelBytes = BytesPerPixel(image.GetFormat());
    const bool alpha = outPixelBytes == 4;
    const Channel red(layout.masks[0]);
    const Channel green(layout.masks[1]);
    const Channel blue(layout.masks[2]);
    const Channel alphaChannel(layout.masks[3]);
    const unsigned bits = layout.bitCount;
    const unsigned indexMask = (1u << std::min(bits, 8u)) - 1;
    for (std::size_t y = 0; y < layout.height; ++y) {
        const std::size_t stored = layout.topDown ? y : layout.height - 1 - y;
        const std::uint8_t* src = data + layout.pixelOffset + stored * layout.stride;
        std::uint8_t* dst = image.GetPixels() + y * image.GetRowBytes();
        for (std::size_t x = 0; x < layout.width; ++x, dst += outPixelBytes) {
            switch (bits) {
                case 1:
                case 4:
                case 8: {
                    const std::size_t bit = x * bits;
                    const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
                    const auto& color = palette[(src[bit / 8] >> shift) & indexMask];
                    dst[0] = color[0];
                    dst[1] = color[1];
                    dst[2] = color[2];
                    break;
                }
                case 24:
                    dst[0] = src[3 * x + 2];
                    dst[1] = src[3 * x + 1];
                    dst[2] = src[3 * x];
                    break;
                default: {
                    const std::uint32_t pixel =
                        bits == 16 ? Read16(src + 2 * x) : Read32(src + 4 * x);
                    dst[0] = red.Extract(pixel);
                    dst[1] = green.Extract(pixel);
                    dst[2] = blue.Extract(pixel);
                    if (alpha)
                        dst[3] = alphaChannel.Extract(pixel);
                    break;
                }
            }
        }
    }
}

// Runs of RLE8 or RLE4 into an RGB8 image whose pixels start black. Pixels the data places past a
// row's end are dropped; false when the data ends in the middle of an instruction or before the
// last row.
bool DecodeRle(const std::uint8_t* data, std::size_t size, const Layout& layout,
               const Palette& palette, Image& image) noexcept {
    const bool nibbles = layout.compression == kBiRle4;
    const std::uint64_t width = layout.width;
    const std::uint64_t height = layout.height;
    std::uint64_t x = 0;
    std::uint64_t y = 0;  // counted from the bottom row
    auto put = [&](unsigned index) {
        if (x < width && y < height) {
            std::uint8_t* dst = image.GetPixels() + (height - 1 - y) * image.GetRowBytes() + x * 3;
            const auto& color = palette[index];
            dst[0] = color[0];
            dst[1] = color[1];
            dst[2] = color[2];
        }
        ++x;
    };
    std::size_t at = layout.pixelOffset;
    while (y < height) {
        if (size - at < 2)
            return false;
        const unsigned count = data[at];
        const unsigned value = data[at + 1];
        at += 2;
        if (count != 0) {
            for (unsigned i = 0; i < count; ++i)
                put(nibbles ? (i % 2 == 0 ? value >> 4 : value & 0xF) : value);
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return true;
            case 2:  // move right and up
                if (size - at < 2)
                    return false;
                x += data[at];
                y += data[at + 1];
                at += 2;
                break;
            default: {  // value literal pixels, padded to a 16-bit boundary
                const std::size_t bytes = nibbles ? (value + 1) / 2 : value;
                const std::size_t padded = bytes + (bytes & 1);
                if (size - at < padded)
                    return false;
                for (unsigned i = 0; i < value; ++i) {
                    if (nibbles) {
                        const unsigned byte = data[at + i / 2];
                        put(i % 2 == 0 ? byte >> 4 : byte & 0xF);
                    } else {
                        put(data[at + i]);
                    }
                }
                at += padded;
                break;
            }
        }
    }
    return true;
}

}  // namespace

bool WithinLimits(std::uint64_t width, std::uint64_t height) noexcept {
    return width != 0 && height != 0 && width <= kMaxDimension && height <= kMaxDimension &&
           width * height <= kMaxPixels;
}

bool Encode(const Image& image, std::vector<std::uint8_t>& out) noexcept {
    const std::uint64_t width = image.GetWidth();
    const std::uint64_t height = image.GetHeight();
    const PixelFormat format = image.GetFormat();
    if (!WithinLimits(width, height) ||
        (format != PixelFormat::RGBA8 && format != PixelFormat::RGB8)) {
        return false;
    }
    const std::size_t rowBytes = image.GetRowBytes();
    if (image.GetPixelBytes() != rowBytes * height)
        return false;
    const bool alpha = format == PixelFormat::RGBA8;
    const std::uint32_t headerBytes = alpha ? kV4HeaderBytes : kInfoHeaderBytes;
    const std::uint64_t offset = kFileHeaderBytes + headerBytes;
    const std::uint64_t stride = alpha ? width * 4 : (width * 3 + 3) / 4 * 4;
    const std::uint64_t fileBytes = offset + stride * height;
    if (fileBytes >= kMaxFileBytes)
        return false;
    try {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fileBytes));
        std::uint8_t* file = bytes.data();
        file[0] = 'B';
        file[1] = 'M';
        Write32(file + 2, fileBytes);
        Write32(file + 10, offset);
        std::uint8_t* info = file + kFileHeaderBytes;
        Write32(info, headerBytes);
        Write32(info + 4, width);
        Write32(info + 8, height);  // positive: bottom-up, which every reader takes
        Write16(info + 12, 1);
        Write16(info + 14, alpha ? 32 : 24);
        Write32(info + 16, alpha ? kBiBitfields : kBiRgb);
        Write32(info + 20, stride * height);
        Write32(info + 24, kPixelsPerMeterAt72Dpi);
        Write32(info + 28, kPixelsPerMeterAt72Dpi);
        if (alpha) {
            Write32(info + 40, 0x00FF0000);
            Write32(info + 44, 0x0000FF00);
            Write32(info + 48, 0x000000FF);
            Write32(info + 52, 0xFF000000);
            Write32(info + 56, kLcsSrgb);
        }
        const std::uint8_t* pixels = image.GetPixels();
        for (std::uint64_t y = 0; y < height; ++y) {
            const std::uint8_t* src = pixels + (height - 1 - y) * rowBytes;
            std::uint8_t* dst = file + offset + y * stride;
            if (alpha) {
                for (std::uint64_t x = 0; x < width; ++x, src += 4, dst += 4) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                    dst[3] = src[3];
                }
            } else {
                for (std::uint64_t x = 0; x < width; ++x, src += 3, dst += 3) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                }
            }
        }
        out.swap(bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

SmartPtr<Image> Decode(const std::uint8_t* data, std::size_t size) noexcept {
    Layout layout;
    if (!data || !ReadLayout(data, size, layout))
        return nullptr;
    PixelFormat format = PixelFormat::RGB8;
    if (layout.masks[3] != 0) {
        if (!layout.alphaFromData || AnyAlpha(data, layout)) {
            format = PixelFormat::RGBA8;
        } else {
            layout.masks[3] = 0;
        }
    }
    try {
        SmartPtr<Image> image(new Image(layout.width, layout.height, format));
        const Palette palette = ReadPalette(data, layout);
        if (layout.compression == kBiRle8 || layout.compression == kBiRle4) {
            if (!DecodeRle(data, size, layout, palette, *image))
                return nullptr;
        } else {
            DecodeRows(data, layout, palette, *image);
        }
        return image;
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace bmp
