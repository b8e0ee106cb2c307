// The image_bmp module: the BMP saver and loader of the image family, made by the loader framework
// through OrbDllCreateComponent.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "BmpCodec.h"
#include "kernel/ComponentLibrary.h"
#include "kernel/ImageModules.h"
#include "utilities/Export.h"

namespace {

// Encodes into a buffer of its own that the caller reads in place.
class BmpSaver final : public ImageWriter {
public:
    // A refused image leaves the previous buffer, and the bytes given for it, untouched.
    bool Write(const SmartPtr<Image>& image, std::uint64_t& byteCount,
               const char*& bytes) override {
        if (!image || !bmp::Encode(*image, buffer_))
            return false;
        byteCount = buffer_.size();
        bytes = reinterpret_cast<const char*>(buffer_.data());
        return true;
    }

private:
    std::vector<std::uint8_t> buffer_;
};

// Decodes into a new image; it keeps nothing of the bytes.
class BmpLoader final : public ImageParser {
public:
    // False, image untouched, for bytes that are not a BMP file the codec reads.
    bool Parse(SmartPtr<Image>& image, std::uint64_t byteCount, const char* bytes) override {
        if (byteCount == 0 || !bytes)
            return false;
        if constexpr (sizeof(std::size_t) < sizeof(std::uint64_t)) {
            if (byteCount > SIZE_MAX)
                return false;
        }
        SmartPtr<Image> decoded = bmp::Decode(reinterpret_cast<const std::uint8_t*>(bytes),
                                              static_cast<std::size_t>(byteCount));
        if (!decoded)
            return false;
        image = std::move(decoded);
        return true;
    }
};

}  // namespace

extern "C" {

// Makes the "saver" or the "loader" named "bmp"; false, component untouched, for anything else or
// when memory runs out.
KESTREL_DLL_EXPORT bool OrbDllCreateComponent(const std::string& type, const std::string& name,
                                              void* /*context*/, SmartPtr<RefCounted>& component) {
    if (name != "bmp")
        return false;
    RefCounted* made = nullptr;
    if (type == "saver") {
        made = new (std::nothrow) BmpSaver();
    } else if (type == "loader") {
        made = new (std::nothrow) BmpLoader();
    }
    if (!made)
        return false;
    component = SmartPtr<RefCounted>(made);
    return true;
}

// Nothing to set up: the codec keeps no state between calls.
KESTREL_DLL_EXPORT void OrbDllInit() {}

// Nothing to release: savers and loaders free their own buffers.
KESTREL_DLL_EXPORT void OrbDllTerminate() {}

}  // extern "C"
