#include "kestrel/images/ImageFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "kestrel/files/AtomicFile.h"
#include "kestrel/files/FilePath.h"

// The only stb implementation of the library. Static, so that nothing else linked into a program
// can clash with it; stb leaves functions unused and aggregates partly initialized.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_JPEG
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace kestrel::images {

namespace {

bool WithinLimits(std::uint64_t width, std::uint64_t height) {
    return width != 0 && height != 0 && width <= kMaxDimension && height <= kMaxDimension &&
           width * height <= kMaxPixels;
}

std::string LimitText() {
    return "at most " + std::to_string(kMaxDimension) + " pixels a side and " +
           std::to_string(kMaxPixels) + " in all";
}

std::string Reason() {
    const char* reason = stbi_failure_reason();
    return reason ? reason : "unknown reason";
}

// stb takes an int length, which bounds the files it can be given.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& error) {
    std::error_code code;
    const std::filesystem::path file = files::PathOf(path);
    const std::filesystem::file_status status = std::filesystem::status(file, code);
    if (status.type() == std::filesystem::file_type::not_found) {
        error = path + ": no such file";
        return false;
    }
    if (code) {
        error = path + ": " + code.message();
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = path + ": not a regular file";
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(file, code);
    if (code) {
        error = path + ": " + code.message();
        return false;
    }
    if (size == 0) {
        error = path + ": empty file";
        return false;
    }
    if (size > static_cast<std::uintmax_t>(std::numeric_limits<int>::max())) {
        error = path + ": file too large to be read as an image";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) {
        error = path + ": cannot read the whole file";
        return false;
    }
    return true;
}

// Collects what stb writes; stb cannot be told of a failure, so it is remembered instead.
struct Collector {
    std::vector<unsigned char> bytes;
    bool failed = false;
};

void Collect(void* context, void* data, int size) {
    auto* collector = static_cast<Collector*>(context);
    if (collector->failed || size <= 0)
        return;
    try {
        const auto* begin = static_cast<const unsigned char*>(data);
        collector->bytes.insert(collector->bytes.end(), begin, begin + size);
    } catch (const std::exception&) {
        collector->failed = true;
    }
}

bool CheckWritable(const Image& image, const std::string& path, std::string& error) {
    if (image.GetWidth() == 0 || image.GetHeight() == 0) {
        error = path + ": the image is empty";
        return false;
    }
    if (!WithinLimits(image.GetWidth(), image.GetHeight())) {
        error = path + ": the image is too large (" + LimitText() + ")";
        return false;
    }
    if (image.GetPixelBytes() != image.GetRowBytes() * image.GetHeight()) {
        error = path + ": the image has fewer pixels than its size says";
        return false;
    }
    return true;
}

enum class FileKind { Png, Bmp };

bool Encode(const Image& image, FileKind kind, const std::string& path, std::string& error) {
    if (!CheckWritable(image, path, error))
        return false;
    try {
        Collector collector;
        const int width = static_cast<int>(image.GetWidth());
        const int height = static_cast<int>(image.GetHeight());
        const int channels = static_cast<int>(BytesPerPixel(image.GetFormat()));
        const int written =
            kind == FileKind::Png
                ? stbi_write_png_to_func(Collect, &collector, width, height, channels,
                                         image.GetPixels(), static_cast<int>(image.GetRowBytes()))
                : stbi_write_bmp_to_func(Collect, &collector, width, height, channels,
                                         image.GetPixels());
        if (!written || collector.failed) {
            error = path + ": out of memory while encoding the image";
            return false;
        }
        return files::WriteFileAtomically(path, collector.bytes.data(), collector.bytes.size(),
                                          error);
    } catch (const std::exception& exception) {
        error = path + ": " + exception.what();
        return false;
    }
}

}  // namespace

SmartPtr<Image> ReadImageFile(const std::string& path, std::string& error) {
    try {
        std::vector<unsigned char> bytes;
        if (!ReadWholeFile(path, bytes, error))
            return nullptr;
        const int length = static_cast<int>(bytes.size());
        int width = 0;
        int height = 0;
        int channels = 0;
        // The header alone first, so that no pixel memory is asked for an absurd size.
        if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channels)) {
            error = path + ": not an image stb can read: " + Reason();
            return nullptr;
        }
        // stb tells the height of a top-down BMP as negative.
        const std::int64_t rows = std::abs(std::int64_t{height});
        if (width <= 0 || rows == 0 || !WithinLimits(width, rows)) {
            error = path + ": image too large: " + std::to_string(width) + " x " +
                    std::to_string(rows) + " (" + LimitText() + ")";
            return nullptr;
        }
        const bool alpha = channels == 2 || channels == 4;
        const int wanted = alpha ? 4 : 3;
        std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
            stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, wanted),
            stbi_image_free);
        if (!pixels) {
            error = path + ": not an image stb can read: " + Reason();
            return nullptr;
        }
        if (width <= 0 || height <= 0 || !WithinLimits(width, height)) {
            error = path + ": image too large";
            return nullptr;
        }
        SmartPtr<Image> image(new Image(static_cast<std::uint32_t>(width),
                                        static_cast<std::uint32_t>(height),
                                        alpha ? PixelFormat::RGBA8 : PixelFormat::RGB8));
        std::memcpy(image->GetPixels(), pixels.get(), image->GetPixelBytes());
        return image;
    } catch (const std::bad_alloc&) {
        error = path + ": out of memory";
        return nullptr;
    } catch (const std::exception& exception) {
        error = path + ": " + exception.what();
        return nullptr;
    }
}

bool WritePng(const Image& image, const std::string& path, std::string& error) {
    return Encode(image, FileKind::Png, path, error);
}

bool WriteImageFile(const Image& image, const std::string& path, std::string& error) {
    std::string extension;
    try {
        extension = std::filesystem::path(path).extension().string();
    } catch (const std::exception& exception) {
        error = path + ": " + exception.what();
        return false;
    }
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png")
        return Encode(image, FileKind::Png, path, error);
    if (extension == ".bmp")
        return Encode(image, FileKind::Bmp, path, error);
    error = path + ": cannot tell the image format from the extension (use .png or .bmp)";
    return false;
}

}  // namespace kestrel::images
