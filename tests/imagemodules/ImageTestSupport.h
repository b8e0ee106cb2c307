// Helpers of the image module tests: the modules through the loader framework, test images, BMP
// files built field by field, temporary directories and the optional Python Imaging Library.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/Image.h"
#include "kernel/ImageModules.h"
#include "kernel/Loader.h"
#include "serializedContent/TestFiles.h"
#include "utilities/SmartPtr.h"

namespace imagetest {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<std::uint8_t, 3>;

// The component (role, "image", "bmp") as the platform gets it; null when it cannot be loaded.
template <class Component>
SmartPtr<Component> LoadBmpModule(const char* role) {
    SmartPtr<Loader> loader = Loader::GetLoader();
    if (!loader)
        return nullptr;
    SmartPtr<RefCounted> module;
    if (!loader->LoadModule(Symbol(role), Symbol("image"), Symbol("bmp"), module)) {
        ADD_FAILURE() << "LoadModule(" << role << ", image, bmp): " << loader->GetLastError();
        return nullptr;
    }
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
    std::uint8_t* pixels = image->GetPixels();
    for (std::size_t i = 0; i < image->GetPixelBytes(); ++i)
        pixels[i] = static_cast<std::uint8_t>((i * 2654435761u + seed * 40503u) >> 7);
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

// The red, green and blue of pixel (x, y) of an RGB8 or RGBA8 image.
inline Rgb RgbAt(const Image& image, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* pixel =
        image.GetPixels() + y * image.GetRowBytes() + x * BytesPerPixel(image.GetFormat());
    return {pixel[0], pixel[1], pixel[2]};
}

// Same size and the same red, green and blue give or take tolerance, whatever the formats.
inline ::testing::AssertionResult SameColors(const SmartPtr<Image>& expected,
                                             const SmartPtr<Image>& actual, int tolerance = 0) {
    if (!expected || !actual)
        return ::testing::AssertionFailure() << "null image";
    if (expected->GetWidth() != actual->GetWidth() ||
        expected->GetHeight() != actual->GetHeight()) {
        return ::testing::AssertionFailure() << "sizes differ";
    }
    for (std::uint32_t y = 0; y < expected->GetHeight(); ++y) {
        for (std::uint32_t x = 0; x < expected->GetWidth(); ++x) {
            const Rgb a = RgbAt(*expected, x, y);
            const Rgb b = RgbAt(*actual, x, y);
            for (int c = 0; c < 3; ++c) {
                if (std::abs(a[c] - b[c]) > tolerance) {
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << ", " << y << ") channel " << c << ": expected "
                           << int(a[c]) << ", got " << int(b[c]);
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
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
    if (!parser.Parse(image, bytes.size(), exact.get()))
        return nullptr;
    return image;
}

inline std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

inline void Put16(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
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
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    // In the header from 52 bytes on, after it for a 40-byte header.
    std::vector<std::uint32_t> masks{};
    // Written as blue, green, red (and a zero byte but in 12-byte headers).
    std::vector<Rgb> palette{};
    // The pixel data exactly as stored.
    Bytes pixels{};
    // Where the pixel data starts; right after the palette when not set.
    std::optional<std::uint32_t> pixelOffset{};

    Bytes Build() const {
        // Room for the header size field even when the header is said to be shorter.
        Bytes file(14 + std::max<std::uint32_t>(headerBytes, 4), 0);
        file[0] = 'B';
        file[1] = 'M';
        Put32(file, 14, headerBytes);
        if (headerBytes == 12) {
            Put16(file, 18, static_cast<std::uint32_t>(width));
            Put16(file, 20, static_cast<std::uint32_t>(height));
            Put16(file, 22, planes);
            Put16(file, 24, bitCount);
        } else if (headerBytes >= 40) {
            Put32(file, 18, static_cast<std::uint32_t>(width));
            Put32(file, 22, static_cast<std::uint32_t>(height));
            Put16(file, 26, planes);
            Put16(file, 28, bitCount);
            Put32(file, 30, compression);
            Put32(file, 34, static_cast<std::uint32_t>(pixels.size()));
            Put32(file, 46, colorsUsed);
        }
        for (std::size_t i = 0; i < masks.size(); ++i) {
            if (headerBytes == 40) {
                file.resize(file.size() + 4);
                Put32(file, file.size() - 4, masks[i]);
            } else if (54 + 4 * i + 4 <= file.size()) {
                Put32(file, 54 + 4 * i, masks[i]);
            }
        }
        for (const Rgb& color : palette) {
            file.push_back(color[2]);
            file.push_back(color[1]);
            file.push_back(color[0]);
            if (headerBytes != 12)
                file.push_back(0);
        }
        const std::uint32_t offset = pixelOffset.value_or(static_cast<std::uint32_t>(file.size()));
        Put32(file, 10, offset);
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
    // The names of the entries in the directory.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    testfiles::TempDir dir_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A Python interpreter that has the Python Imaging Library; empty when there is none.
inline std::string PythonWithPil() {
    static const std::string found = [] {
        for (const char* candidate : {"python3", "/usr/bin/python3"}) {
            std::string command =
                std::string(candidate) + " -c \"import PIL.Image\" >/dev/null 2>&1";
            if (std::system(command.c_str()) == 0)
                return std::string(candidate);
        }
        return std::string();
    }();
    return found;
}

// What PIL makes of an image file: its mode, size and every pixel as RGBA.
struct PilView {
    std::string mode;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::array<int, 4>> pixels;  // rows top to bottom
};

// Opens path with PIL through python; nullopt (with a test failure) when python fails.
inline std::optional<PilView> ReadWithPil(const std::string& python, const std::string& path,
                                          const std::string& scratch) {
    const std::string script = scratch + "/pil_dump.py";
    {
        std::ofstream out(script);
        out << "import sys\n"
               "from PIL import Image\n"
               "image = Image.open(sys.argv[1])\n"
               "image.load()\n"
               "print(image.mode, image.size[0], image.size[1])\n"
               "rgba = image.convert('RGBA')\n"
               "for y in range(rgba.size[1]):\n"
               "    for x in range(rgba.size[0]):\n"
               "        print(*rgba.getpixel((x, y)))\n";
    }
    const std::string command = python + " '" + script + "' '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return std::nullopt;
    }
    std::string output;
    char buffer[4096];
    while (std::size_t got = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    if (pclose(pipe) != 0) {
        ADD_FAILURE() << command << " failed:\n" << output;
        return std::nullopt;
    }
    std::istringstream lines(output);
    PilView view;
    lines >> view.mode >> view.width >> view.height;
    std::array<int, 4> pixel{};
    while (lines >> pixel[0] >> pixel[1] >> pixel[2] >> pixel[3])
        view.pixels.push_back(pixel);
    return view;
}

}  // namespace imagetest
