// Image files: PNG and BMP written through a temporary file, files read through stb.
#include "kestrel/images/ImageFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "imagemodules/ImageTestSupport.h"
#include "serializedContent/TestFiles.h"

namespace {

using namespace imagetest;
using namespace kestrel::images;
using kestrel::Error;

// Written by extension (any case), read back by stb and, for BMP, by the loader module too; a
// file replaced leaves nothing beside it.
TEST(ImageFilesTest, WrittenFilesReadBackTheSame) {
    TempDirectory directory;
    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(parser);
    WriteFile(directory.File("x.PNG"), Bytes(100000, 'x'));
    for (PixelFormat format : {PixelFormat::RGB8, PixelFormat::RGBA8}) {
        for (std::uint32_t width : {1u, 3u, 64u}) {
            SmartPtr<Image> image = MakeImage(width, 5, format, width);
            for (const char* name : {"x.PNG", "y.Bmp"}) {
                const std::string path = directory.File(name);
                const Error written = WriteImageFile(*image, path);
                ASSERT_FALSE(written) << written.description();
                const ImageReadResult back = ReadImageFile(path);
                EXPECT_TRUE(SameImage(image, back.image))
                    << name << ": " << back.error.description();
                const Bytes bytes = ReadFile(path);
                EXPECT_EQ(bytes[1], name[0] == 'x' ? 'P' : 'M');
                EXPECT_TRUE(name[0] != 'y' || SameImage(image, Parse(*parser, bytes)));
            }
        }
    }
    EXPECT_EQ(testfiles::Listing(directory.path()), (std::vector<std::string>{"x.PNG", "y.Bmp"}));
}

// Images that cannot be written, and names that say no format, write nothing.
TEST(ImageFilesTest, RefusedWritesLeaveNoFileBehind) {
    TempDirectory directory;
    std::filesystem::create_directory(directory.File("taken.png"));
    SmartPtr<Image> fine = MakeImage(3, 3, PixelFormat::RGB8);
    const struct {
        SmartPtr<Image> image;
        std::string name;
        Error::Code code;
        const char* says;
    } cases[] = {
        {SmartPtr<Image>(new Image()), "a.png", Error::NotSavable, "the image is empty"},
        {SmartPtr<Image>(new Image(65536, 1, PixelFormat::RGB8)), "a.png", Error::NotSavable,
         "too large"},
        {fine, "a.jpg", Error::InvalidArgument, "extension"},
        {fine, "a.png.txt", Error::InvalidArgument, "extension"},
        {fine, "taken.png", Error::WriteFailed, ""},
    };
    for (const auto& c : cases) {
        const std::string path = directory.File(c.name);
        const Error error = WriteImageFile(*c.image, path);
        EXPECT_EQ(error.code, c.code) << c.name << ": " << error.description();
        EXPECT_EQ(error.path, path);
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
    }
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"taken.png"});
    EXPECT_TRUE(std::filesystem::is_empty(directory.File("taken.png")));
}

// An uncompressed TGA of gray (one byte a pixel) or gray and alpha (two), rows top to bottom.
Bytes GrayTga(std::uint16_t width, std::uint16_t height, bool alpha, const Bytes& pixels) {
    // Sized whole at once: GCC 12 reports a false out-of-bounds copy for an insert at the end.
    Bytes file(18 + pixels.size(), 0);
    file[2] = 3;  // uncompressed gray
    Put16(file, 12, width);
    Put16(file, 14, height);
    file[16] = alpha ? 16 : 8;
    file[17] = static_cast<std::uint8_t>(0x20 | (alpha ? 8 : 0));  // top-left origin, alpha bits
    std::copy(pixels.begin(), pixels.end(), file.begin() + 18);
    return file;
}

TEST(ImageFilesTest, GrayBecomesRgbAndGrayAlphaRgba) {
    TempDirectory directory;
    for (const bool alpha : {false, true}) {
        WriteFile(directory.File("gray.tga"), GrayTga(2, 1, alpha, {10, 20, 30, 40}));
        const ImageReadResult gray = ReadImageFile(directory.File("gray.tga"));
        ASSERT_TRUE(gray) << gray.error.description();
        EXPECT_EQ(gray.image->GetFormat(), alpha ? PixelFormat::RGBA8 : PixelFormat::RGB8);
        EXPECT_EQ(Bytes(gray.image->GetPixels(), gray.image->GetPixels() + (alpha ? 8 : 6)),
                  (alpha ? Bytes{10, 10, 10, 20, 30, 30, 30, 40} : Bytes{10, 10, 10, 20, 20, 20}));
    }
}

// What cannot be read says why, with the file's path; no header makes stb ask for absurd memory.
TEST(ImageFilesTest, ReadErrorsSayWhatIsWrong) {
    TempDirectory directory;
    BmpBuilder huge;  // 16384 x 16385 with no pixels behind it
    huge.width = 16384;
    huge.height = 16385;
    huge.pixels = Bytes(16, 0);
    WriteFile(directory.File("huge.bmp"), huge.Build());
    WriteFile(directory.File("empty.png"), {});
    const std::string text = "<content>not an image</content>\n";
    WriteFile(directory.File("text.png"), Bytes(text.begin(), text.end()));
    const struct {
        std::string path;
        Error::Code code;
        const char* message;  // how it starts
    } cases[] = {
        {directory.File("missing.png"), Error::NotFound, "No such file or directory"},
        {directory.path(), Error::NotRegularFile, "is a directory"},
        {directory.File("empty.png"), Error::Malformed, "empty file"},
        {directory.File("text.png"), Error::Malformed, "not an image stb can read: "},
        {directory.File("huge.bmp"), Error::Malformed, "image too large"},
    };
    for (const auto& c : cases) {
        const ImageReadResult read = ReadImageFile(c.path);
        EXPECT_FALSE(read);
        EXPECT_EQ(read.error.code, c.code) << read.error.description();
        EXPECT_EQ(read.error.path, c.path);
        EXPECT_EQ(read.error.message.rfind(c.message, 0), 0u) << read.error.message;
    }
    // Every truncation of a PNG fails with an error, but one that loses no more than the closing
    // IEND chunk (12 bytes), which stb does without.
    SmartPtr<Image> image = MakeImage(6, 6, PixelFormat::RGBA8);
    ASSERT_FALSE(WritePng(*image, directory.File("full.png")));
    const Bytes png = ReadFile(directory.File("full.png"));
    for (std::size_t length = 1; length < png.size(); ++length) {
        WriteFile(directory.File("cut.png"), Bytes(png.begin(), png.begin() + length));
        const ImageReadResult cut = ReadImageFile(directory.File("cut.png"));
        if (length + 12 > png.size() && cut) {
            EXPECT_TRUE(SameImage(image, cut.image)) << length;
        } else {
            EXPECT_FALSE(cut) << length;
            EXPECT_EQ(cut.error.code, Error::Malformed) << length;
        }
    }
}

}  // namespace
