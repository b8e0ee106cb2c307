// Helpers of the image module tests: the modules through the loader framework, test images, BMP
// files built field by field and temporary directories.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "geometry/Image.h"
#include "kernel/ImageModules.h"
#include "kernel/Loader.h"
#include "serializedContent/TestFiles.h"
#include "utilities/SmartPtr.h"

namespace imagetest {

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<std::uint8_t, 3>;

// The component (role, "image", "bmp") as the platform gets it; null when it cannot be loaded.
template <class Component>
SmartPtr<Component> LoadBmpModule(const char* role) {
    SmartPtr<Loader> loader = Loader::GetLoader();
    SmartPtr<RefCounted> module;
    if (!loader || !loader->LoadModule(Symbol(role), Symbol("image"), Symbol("bmp"), module))
        return nullptr;
    return DynamicPointerCast<Component>(module);
}
inline SmartPtr<ImageWriter> LoadSaver() {
    return LoadBmpModule<ImageWriter>("saver");
}
inline SmartPtr<ImageParser> LoadParser() {
    return LoadBmpModule<ImageParser>("loader");
}

// A width x height image whose every byte depends on its position and seed.
inline SmartPtr<Image> MakeImage(std::uint32_t width, std::uint32_t height, PixelFormat format,
                                 std::uint32_t seed = 1) {
    SmartPtr<Image> image(new Image(width, height, format));
    for (std::size_t i = 0; i < image->GetPixelBytes(); ++i)
        image->GetPixels()[i] = static_cast<std::uint8_t>((i * 2654435761u + seed * 40503u) >> 7);
    return image;
}

// An image of the given RGB rows, top to bottom.
inline SmartPtr<Image> RgbImage(const std::vector<std::vector<Rgb>>& rows) {
    SmartPtr<Image> image(new Image(static_cast<std::uint32_t>(rows.front().size()),
                                    static_cast<std::uint32_t>(rows.size()), PixelFormat::RGB8));
    std::uint8_t* out = image->GetPixels();
    for (const auto& row : rows) {
        for (const Rgb& pixel : row)
            out = std::copy(pixel.begin(), pixel.end(), out);
    }
    return image;
}

// Same size, format and pixels.
inline ::testing::AssertionResult SameImage(const SmartPtr<Image>& expected,
                                            const SmartPtr<Image>& actual) {
    if (!expected || !actual)
        return ::testing::AssertionFailure() << "null image";
    if (expected->GetWidth() != actual->GetWidth() ||
        expected->GetHeight() != actual->GetHeight() ||
        expected->GetFormat() != actual->GetFormat()) {
        return ::testing::AssertionFailure()
               << "expected " << expected->GetWidth() << "x" << expected->GetHeight() << " "
               << PixelFormatName(expected->GetFormat()) << ", got " << actual->GetWidth() << "x"
               << actual->GetHeight() << " " << PixelFormatName(actual->GetFormat());
    }
    const std::uint8_t* a = expected->GetPixels();
    const std::uint8_t* b = actual->GetPixels();
    const std::size_t at = std::mismatch(a, a + expected->GetPixelBytes(), b).first - a;
    if (at == expected->GetPixelBytes())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "byte " << at << " of the pixels: expected " << int(a[at]) << ", got " << int(b[at]);
}

// Encodes image with saver; empty when the saver refuses it.
inline Bytes Save(ImageWriter& saver, const SmartPtr<Image>& image) {
    std::uint64_t byteCount = 0;
    const char* bytes = nullptr;
    if (!saver.Write(image, byteCount, bytes))
        return {};
    return Bytes(bytes, bytes + byteCount);
}

// Decodes bytes with parser through a buffer of exactly their size, so ASan sees any over-read.
inline SmartPtr<Image> Parse(ImageParser& parser, const Bytes& bytes) {
    std::unique_ptr<char[]> exact(new char[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    SmartPtr<Image> image;
    return parser.Parse(image, bytes.size(), exact.get()) ? image : nullptr;
}

inline std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

inline void PutLE(Bytes& bytes, std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void Put16(Bytes& bytes, std::size_t at, std::uint32_t value) {
    PutLE(bytes, at, value, 2);
}
inline void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    PutLE(bytes, at, value, 4);
}

// Stored rows: each padded to a multiple of 4 bytes, in the order given.
inline Bytes PaddedRows(const std::vector<Bytes>& rows) {
    Bytes out;
    for (const Bytes& row : rows) {
        out.insert(out.end(), row.begin(), row.end());
        out.resize((out.size() + 3) / 4 * 4, 0);
    }
    return out;
}

// A BMP file put together field by field, valid or not as the test wants. Every member has an
// initializer, so that designated initializers may leave any out.
struct BmpBuilder {
    std::uint32_t headerBytes = 40;
    std::int32_t width = 1, height = 1;
    std::uint16_t planes = 1, bitCount = 24;
    std::uint32_t compression = 0, colorsUsed = 0;
    std::vector<std::uint32_t> masks{};  // in the header from 52 bytes on, else after it
    std::vector<Rgb> palette{};          // stored blue, green, red (and 0 but in core headers)
    Bytes pixels{};                      // exactly as stored
    std::optional<std::uint32_t> pixelOffset{};  // right after the palette when not set

    Bytes Build() const {
        // Room for the header size field even when the header is said to be shorter.
        Bytes file(14 + std::max<std::uint32_t>(headerBytes, 4), 0);
        file[0] = 'B';
        file[1] = 'M';
        Put32(file, 14, headerBytes);
        const int field = headerBytes == 12 ? 2 : 4;  // core headers hold 16-bit sizes
        if (headerBytes == 12 || headerBytes >= 40) {
            PutLE(file, 18, static_cast<std::uint32_t>(width), field);
            PutLE(file, 18 + field, static_cast<std::uint32_t>(height), field);
            Put16(file, 18 + 2 * field, planes);
            Put16(file, 20 + 2 * field, bitCount);
        }
        if (headerBytes >= 40) {
            Put32(file, 30, compression);
            Put32(file, 34, static_cast<std::uint32_t>(pixels.size()));
            Put32(file, 46, colorsUsed);
        }
        for (std::size_t i = 0; i < masks.size(); ++i) {
            if (headerBytes == 40)
                file.resize(file.size() + 4);
            const std::size_t at = headerBytes == 40 ? file.size() - 4 : 54 + 4 * i;
            if (at + 4 <= file.size())
                Put32(file, at, masks[i]);
        }
        for (const Rgb& color : palette) {
            file.insert(file.end(), {color[2], color[1], color[0]});
            if (headerBytes != 12)
                file.push_back(0);
        }
        Put32(file, 10, pixelOffset.value_or(static_cast<std::uint32_t>(file.size())));
        file.insert(file.end(), pixels.begin(), pixels.end());
        Put32(file, 2, static_cast<std::uint32_t>(file.size()));
        return file;
    }
};

// A directory removed with its contents at the end of the test.
class TempDirectory {
public:
    std::string path() const { return dir_.path().string(); }
    std::string File(const std::string& name) const { return (dir_.path() / name).string(); }
    std::vector<std::string> Entries() const { return testfiles::Listing(dir_.path()); }

private:
    testfiles::TempDir dir_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace imagetest
