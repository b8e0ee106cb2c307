// The tool's image files: PNG and BMP written through a temporary file, files read through stb.
#include "kestrel/images/ImageFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "imagemodules/ImageTestSupport.h"

namespace {

using namespace imagetest;
using namespace kestrel::images;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(ImageFilesTest, PngRoundTrip) {
    TempDirectory directory;
    for (PixelFormat format : {PixelFormat::RGB8, PixelFormat::RGBA8}) {
        for (std::uint32_t width : {1u, 3u, 64u}) {
            SmartPtr<Image> image = MakeImage(width, 5, format, width);
            const std::string path = directory.File("round.png");
            std::string error;
            ASSERT_TRUE(WritePng(*image, path, error)) << error;
            SmartPtr<Image> back = ReadImageFile(path, error);
            EXPECT_TRUE(SameImage(image, back)) << error;
        }
    }
}

TEST(ImageFilesTest, PngIsAPngFileAndNothingElseIsLeft) {
    TempDirectory directory;
    std::string error;
    ASSERT_TRUE(WritePng(*MakeImage(4, 4, PixelFormat::RGB8), directory.File("a.png"), error))
        << error;
    const Bytes bytes = ReadFile(directory.File("a.png"));
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 8),
              (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"a.png"});
}

TEST(ImageFilesTest, PngReplacesAnExistingFile) {
    TempDirectory directory;
    const std::string path = directory.File("b.png");
    WriteFile(path, Bytes(100000, 'x'));
    std::string error;
    SmartPtr<Image> image = MakeImage(2, 2, PixelFormat::RGBA8);
    ASSERT_TRUE(WritePng(*image, path, error)) << error;
    EXPECT_TRUE(SameImage(image, ReadImageFile(path, error))) << error;
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"b.png"});
}

TEST(ImageFilesTest, PngRefusesEmptyImages) {
    TempDirectory directory;
    for (const SmartPtr<Image>& image :
         {SmartPtr<Image>(new Image()), SmartPtr<Image>(new Image(0, 3, PixelFormat::RGB8)),
          SmartPtr<Image>(new Image(3, 0, PixelFormat::RGBA8))}) {
        std::string error;
        EXPECT_FALSE(WritePng(*image, directory.File("empty.png"), error));
        EXPECT_TRUE(Contains(error, "empty")) << error;
    }
    EXPECT_TRUE(directory.Entries().empty());
}

TEST(ImageFilesTest, PngRefusesImagesBeyondTheLimits) {
    TempDirectory directory;
    std::string error;
    EXPECT_FALSE(WritePng(Image(65536, 1, PixelFormat::RGB8), directory.File("wide.png"), error));
    EXPECT_TRUE(Contains(error, "too large")) << error;
    EXPECT_TRUE(directory.Entries().empty());
}

TEST(ImageFilesTest, FailedWritesLeaveNoFileBehind) {
    TempDirectory directory;
    SmartPtr<Image> image = MakeImage(3, 3, PixelFormat::RGB8);
    std::string error;
    // A directory that does not exist.
    const std::string missing = directory.File("nowhere/c.png");
    EXPECT_FALSE(WritePng(*image, missing, error));
    EXPECT_TRUE(Contains(error, missing)) << error;
    // A target that is a directory: the temporary file is written, then cannot be renamed.
    std::filesystem::create_directory(directory.File("taken.png"));
    error.clear();
    EXPECT_FALSE(WritePng(*image, directory.File("taken.png"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"taken.png"});
    EXPECT_TRUE(std::filesystem::is_empty(directory.File("taken.png")));
}

TEST(ImageFilesTest, WriteImageFileChoosesTheFormatByExtension) {
    TempDirectory directory;
    SmartPtr<Image> rgba = MakeImage(5, 3, PixelFormat::RGBA8);
    SmartPtr<Image> rgb = MakeImage(5, 3, PixelFormat::RGB8);
    std::string error;
    ASSERT_TRUE(WriteImageFile(*rgba, directory.File("x.PNG"), error)) << error;
    EXPECT_EQ(ReadFile(directory.File("x.PNG"))[1], 'P');
    EXPECT_TRUE(SameImage(rgba, ReadImageFile(directory.File("x.PNG"), error))) << error;

    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(parser);
    for (const SmartPtr<Image>& image : {rgba, rgb}) {
        const std::string path = directory.File("y.Bmp");
        ASSERT_TRUE(WriteImageFile(*image, path, error)) << error;
        const Bytes bytes = ReadFile(path);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[1], 'M');
        // Read back both by stb and by the loader module.
        EXPECT_TRUE(SameImage(image, ReadImageFile(path, error))) << error;
        EXPECT_TRUE(SameImage(image, Parse(*parser, bytes)));
    }

    for (const char* name : {"z.jpg", "z", "z.png.txt", "png"}) {
        error.clear();
        EXPECT_FALSE(WriteImageFile(*rgb, directory.File(name), error)) << name;
        EXPECT_TRUE(Contains(error, "extension")) << error;
    }
    EXPECT_EQ(directory.Entries().size(), 2u);
}

TEST(ImageFilesTest, ReadErrorsSayWhatIsWrong) {
    TempDirectory directory;
    std::string error;
    EXPECT_FALSE(ReadImageFile(directory.File("missing.png"), error));
    EXPECT_TRUE(Contains(error, "missing.png")) << error;
    EXPECT_TRUE(Contains(error, ": no such file")) << error;

    WriteFile(directory.File("empty.png"), {});
    EXPECT_FALSE(ReadImageFile(directory.File("empty.png"), error));
    EXPECT_TRUE(Contains(error, "empty file")) << error;

    EXPECT_FALSE(ReadImageFile(directory.path(), error));
    EXPECT_TRUE(Contains(error, "not a regular file")) << error;

    const std::string text = "<content>not an image</content>\n";
    WriteFile(directory.File("text.png"), Bytes(text.begin(), text.end()));
    EXPECT_FALSE(ReadImageFile(directory.File("text.png"), error));
    EXPECT_TRUE(Contains(error, "not an image stb can read: ")) << error;

    // Every truncation of a PNG fails with an error, but one that loses no more than the closing
    // IEND chunk (12 bytes), which stb does without.
    SmartPtr<Image> image = MakeImage(6, 6, PixelFormat::RGBA8);
    ASSERT_TRUE(WritePng(*image, directory.File("full.png"), error)) << error;
    const Bytes png = ReadFile(directory.File("full.png"));
    for (std::size_t length = 1; length < png.size(); ++length) {
        WriteFile(directory.File("cut.png"), Bytes(png.begin(), png.begin() + length));
        error.clear();
        SmartPtr<Image> cut = ReadImageFile(directory.File("cut.png"), error);
        if (length + 12 > png.size() && cut) {
            EXPECT_TRUE(SameImage(image, cut)) << length;
        } else {
            EXPECT_FALSE(cut) << length;
            EXPECT_FALSE(error.empty()) << length;
        }
    }
}

TEST(ImageFilesTest, ReadRefusesHeadersBeyondTheLimits) {
    TempDirectory directory;
    std::string error;
    // A BMP header for 16384 x 16385 with no pixels behind it.
    BmpBuilder bmp;
    bmp.width = 16384;
    bmp.height = 16385;
    bmp.pixels = Bytes(16, 0);
    WriteFile(directory.File("huge.bmp"), bmp.Build());
    EXPECT_FALSE(ReadImageFile(directory.File("huge.bmp"), error));
    EXPECT_TRUE(Contains(error, "too large")) << error;

    // A PNG signature and header chunk for 70000 x 1.
    Bytes png{0x89, 'P',  'N',  'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
              1,    0x11, 0x70, 0,   0,    0,    1,    8,    2, 0, 0, 0,  0,   0,   0,   0};
    WriteFile(directory.File("wide.png"), png);
    EXPECT_FALSE(ReadImageFile(directory.File("wide.png"), error));
    EXPECT_TRUE(Contains(error, "too large")) << error;
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
    std::string error;
    WriteFile(directory.File("gray.tga"), GrayTga(2, 1, false, {0, 200}));
    SmartPtr<Image> gray = ReadImageFile(directory.File("gray.tga"), error);
    ASSERT_TRUE(gray) << error;
    EXPECT_EQ(gray->GetFormat(), PixelFormat::RGB8);
    EXPECT_EQ(Bytes(gray->GetPixels(), gray->GetPixels() + 6), (Bytes{0, 0, 0, 200, 200, 200}));

    WriteFile(directory.File("grayalpha.tga"), GrayTga(2, 1, true, {10, 20, 30, 40}));
    SmartPtr<Image> grayAlpha = ReadImageFile(directory.File("grayalpha.tga"), error);
    ASSERT_TRUE(grayAlpha) << error;
    EXPECT_EQ(grayAlpha->GetFormat(), PixelFormat::RGBA8);
    EXPECT_EQ(Bytes(grayAlpha->GetPixels(), grayAlpha->GetPixels() + 8),
              (Bytes{10, 10, 10, 20, 30, 30, 30, 40}));
}

}  // namespace
