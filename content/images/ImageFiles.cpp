#include "kestrel/images/ImageFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "MakeError.h"
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
Error ReadImageBytes(const std::string& path, std::string& bytes) {
    if (Error unreadable = files::ReadRegularFile(path, bytes))
        return unreadable;
    if (bytes.empty())
        return MakeError(Error::Malformed, "empty file", path);
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return MakeError(Error::Malformed, "file too large to be read as an image", path);
    return {};
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

// Why image cannot be written, or an empty reason.
std::string Unwritable(const Image& image) {
    if (image.GetWidth() == 0 || image.GetHeight() == 0)
        return "the image is empty";
    if (!WithinLimits(image.GetWidth(), image.GetHeight()))
        return "the image is too large (" + LimitText() + ")";
    if (image.GetPixelBytes() != image.GetRowBytes() * image.GetHeight())
        return "the image has fewer pixels than its size says";
    return {};
}

enum class FileKind { Png, Bmp };

Error EncodeBytes(const Image& image, FileKind kind, const std::string& path,
                  Collector& collector) {
    if (std::string reason = Unwritable(image); !reason.empty())
        return MakeError(Error::NotSavable, std::move(reason), path);
    try {
        const int width = static_cast<int>(image.GetWidth());
        const int height = static_cast<int>(image.GetHeight());
        const int channels = static_cast<int>(BytesPerPixel(image.GetFormat()));
        const int written =
            kind == FileKind::Png
                ? stbi_write_png_to_func(Collect, &collector, width, height, channels,
                                         image.GetPixels(), static_cast<int>(image.GetRowBytes()))
                : stbi_write_bmp_to_func(Collect, &collector, width, height, channels,
                                         image.GetPixels());
        if (!written || collector.failed)
            return MakeError(Error::Internal, "out of memory while encoding the image", path);
        return {};
    } catch (...) {
        return FromException(path);
    }
}

Error Encode(const Image& image, FileKind kind, const std::string& path) {
    Collector collector;
    if (Error error = EncodeBytes(image, kind, path, collector))
        return error;
    try {
        return files::WriteFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(collector.bytes.data()),
                                   collector.bytes.size()));
    } catch (...) {
        return FromException(path);
    }
}

}  // namespace

ImageReadResult ReadImageFile(const std::string& path) {
    ImageReadResult result;
    try {
        std::string file;
        if ((result.error = ReadImageBytes(path, file)))
            return result;
        const auto* bytes = reinterpret_cast<const stbi_uc*>(file.data());
        const int length = static_cast<int>(file.size());
        int width = 0;
        int height = 0;
        int channels = 0;
        // The header alone first, so that no pixel memory is asked for an absurd size.
        if (!stbi_info_from_memory(bytes, length, &width, &height, &channels)) {
            result.error =
                MakeError(Error::Malformed, "not an image stb can read: " + Reason(), path);
            return result;
        }
        // stb tells the height of a top-down BMP as negative.
        const std::int64_t rows = std::abs(std::int64_t{height});
        if (width <= 0 || rows == 0 || !WithinLimits(width, rows)) {
            result.error = MakeError(Error::Malformed,
                                     "image too large: " + std::to_string(width) + " x " +
                                         std::to_string(rows) + " (" + LimitText() + ")",
                                     path);
            return result;
        }
        const bool alpha = channels == 2 || channels == 4;
        const int wanted = alpha ? 4 : 3;
        std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
            stbi_load_from_memory(bytes, length, &width, &height, &channels, wanted),
            stbi_image_free);
        if (!pixels) {
            result.error =
                MakeError(Error::Malformed, "not an image stb can read: " + Reason(), path);
            return result;
        }
        if (width <= 0 || height <= 0 || !WithinLimits(width, height)) {
            result.error = MakeError(Error::Malformed, "image too large", path);
            return result;
        }
        result.image =
            new Image(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                      alpha ? PixelFormat::RGBA8 : PixelFormat::RGB8);
        std::memcpy(result.image->GetPixels(), pixels.get(), result.image->GetPixelBytes());
    } catch (...) {
        result.image = nullptr;
        result.error = FromException(path);
    }
    return result;
}

PngResult EncodePng(const Image& image) {
    PngResult result;
    Collector collector;
    result.error = EncodeBytes(image, FileKind::Png, {}, collector);
    if (!result.error) {
        try {
            result.bytes.assign(collector.bytes.begin(), collector.bytes.end());
        } catch (...) {
            result.error = FromException({});
        }
    }
    return result;
}

Error WritePng(const Image& image, const std::string& path) {
    return Encode(image, FileKind::Png, path);
}

Error WriteImageFile(const Image& image, const std::string& path) {
    std::string extension;
    try {
        extension = std::filesystem::path(path).extension().string();
    } catch (...) {
        return FromException(path);
    }
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png")
        return Encode(image, FileKind::Png, path);
    if (extension == ".bmp")
        return Encode(image, FileKind::Bmp, path);
    return MakeError(Error::InvalidArgument,
                     "cannot tell the image format from the extension (use .png or .bmp)", path);
}

}  // namespace kestrel::images
