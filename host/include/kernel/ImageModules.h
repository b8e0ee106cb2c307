// The image modules of the loader framework: savers turn images into bytes, loaders bytes into
// images. They are components of libraries loaded by Loader::LoadModule.
#pragma once

#include <cstdint>

#include "geometry/Image.h"
#include "kernel/Export.h"
#include "utilities/RefCounted.h"
#include "utilities/SmartPtr.h"

// An image saver ("saver", "image", format).
class KERNEL_API ImageWriter : public RefCounted {
public:
    ImageWriter();
    ~ImageWriter() override;

    // Encodes image; true with byteCount and bytes set to the encoded file, false when the image
    // cannot be saved (null, empty, too large). The bytes belong to the saver and stay valid until
    // its next Write or its destruction.
    virtual bool Write(const SmartPtr<Image>& image, std::uint64_t& byteCount,
                       const char*& bytes) = 0;
};

// An image loader ("loader", "image", format).
class KERNEL_API ImageParser : public RefCounted {
public:
    ImageParser();
    ~ImageParser() override;

    // Decodes byteCount bytes at bytes; true with image set, false when they are not an image it
    // can read (corrupt, truncated, absurd dimensions). bytes may be null when byteCount is 0.
    virtual bool Parse(SmartPtr<Image>& image, std::uint64_t byteCount, const char* bytes) = 0;
};
