// The BMP module checked against decoders written by others: stb_image (through ReadImageFile)
// and, when Python has it, the Python Imaging Library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "kestrel/images/ImageFiles.h"

namespace {

using namespace imagetest;
using kestrel::images::ReadImageFile;
using kestrel::images::WritePng;

// Files in every layout both the module and stb read; pixel values stay away from palette ends
// and from 16-bit channel values the two may scale one apart.
std::vector<std::pair<std::string, Bytes>> HandBuiltFiles() {
    std::vector<std::pair<std::string, Bytes>> files;
    const std::vector<Rgb> colors{{255, 0, 0},    {0, 255, 0},     {0, 0, 255}, {10, 20, 30},
                                  {200, 100, 50}, {255, 255, 255}, {0, 0, 0},   {1, 2, 3}};
    {
        BmpBuilder file;  // 24-bit, padded rows, bottom-up
        file.width = 3;
        file.height = 3;
        for (int row = 0; row < 3; ++row) {
            Bytes bytes(9);  // indexed: GCC 12 reports false overflows for inserts here
            for (int x = 0; x < 3; ++x) {
                const Rgb& c = colors[(row * 3 + x) % colors.size()];
                bytes[3 * x] = c[2];
                bytes[3 * x + 1] = c[1];
                bytes[3 * x + 2] = c[0];
            }
            file.pixels.insert(file.pixels.end(), bytes.begin(), bytes.end());
            file.pixels.resize((file.pixels.size() + 3) / 4 * 4, 0);
        }
        files.emplace_back("24-bit bottom-up", file.Build());
        file.height = -3;
        files.emplace_back("24-bit top-down", file.Build());
    }
    {
        BmpBuilder file;  // 8-bit palette of 8, bottom-up
        file.width = 5;
        file.height = 2;
        file.bitCount = 8;
        file.colorsUsed = 8;
        file.palette = colors;
        file.pixels = PaddedRows({{0, 1, 2, 3, 4}, {7, 6, 5, 4, 3}});
        files.emplace_back("8-bit palette", file.Build());
    }
    {
        BmpBuilder file;  // 4-bit, full palette
        file.width = 7;
        file.height = -2;
        file.bitCount = 4;
        file.palette = colors;
        file.palette.resize(16, Rgb{50, 60, 70});
        file.pixels = PaddedRows({{0x01, 0x23, 0x45, 0x60}, {0xFE, 0xDC, 0xBA, 0x90}});
        files.emplace_back("4-bit palette", file.Build());
    }
    {
        BmpBuilder file;  // 1-bit
        file.width = 11;
        file.height = 2;
        file.bitCount = 1;
        file.palette = {colors[3], colors[4]};
        file.pixels = PaddedRows({{0xA5, 0x60}, {0x0F, 0xE0}});
        files.emplace_back("1-bit palette", file.Build());
    }
    {
        BmpBuilder file;  // 16-bit 565 with full and zero channels only
        file.width = 4;
        file.height = 1;
        file.bitCount = 16;
        file.compression = 3;
        file.masks = {0xF800, 0x07E0, 0x001F};
        file.pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF};
        files.emplace_back("16-bit 565", file.Build());
    }
    {
        BmpBuilder file;  // 32-bit bitfields, red in the low byte, alpha, V5 header
        file.headerBytes = 124;
        file.width = 2;
        file.height = 2;
        file.bitCount = 32;
        file.compression = 3;
        file.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
        file.pixels = {1, 2, 3, 255, 4, 5, 6, 128, 7, 8, 9, 255, 10, 11, 12, 1};
        files.emplace_back("32-bit v5 bitfields", file.Build());
    }
    {
        BmpBuilder file;  // 32-bit BI_RGB with the fourth bytes zero
        file.width = 2;
        file.height = 1;
        file.bitCount = 32;
        file.pixels = {30, 20, 10, 0, 60, 50, 40, 0};
        files.emplace_back("32-bit rgb", file.Build());
    }
    {
        BmpBuilder file;  // OS/2 1.x core header, 8-bit
        file.headerBytes = 12;
        file.width = 3;
        file.height = 1;
        file.bitCount = 8;
        file.palette = colors;
        file.palette.resize(256, Rgb{0, 0, 0});
        file.pixels = PaddedRows({{7, 0, 4}});
        files.emplace_back("core header", file.Build());
    }
    return files;
}

TEST(IndependentDecoderTest, StbReadsWhatTheSaverWrites) {
    SmartPtr<ImageWriter> saver = LoadSaver();
    ASSERT_TRUE(saver);
    TempDirectory directory;
    for (PixelFormat format : {PixelFormat::RGB8, PixelFormat::RGBA8}) {
        for (std::uint32_t width : {1u, 2u, 3u, 5u, 7u, 64u}) {
            SmartPtr<Image> image = MakeImage(width, 5, format, width);
            const std::string path = directory.File("saved.bmp");
            WriteFile(path, Save(*saver, image));
            std::string error;
            EXPECT_TRUE(SameImage(image, ReadImageFile(path, error)))
                << PixelFormatName(format) << " " << width << ": " << error;
        }
    }
}

TEST(IndependentDecoderTest, ModuleAndStbAgreeOnHandBuiltFiles) {
    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(parser);
    TempDirectory directory;
    for (const auto& [what, bytes] : HandBuiltFiles()) {
        SmartPtr<Image> ours = Parse(*parser, bytes);
        ASSERT_TRUE(ours) << what;
        const std::string path = directory.File("hand.bmp");
        WriteFile(path, bytes);
        std::string error;
        SmartPtr<Image> stb = ReadImageFile(path, error);
        ASSERT_TRUE(stb) << what << ": " << error;
        EXPECT_TRUE(SameColors(stb, ours)) << what;
    }
}

class PilTest : public ::testing::Test {
protected:
    void SetUp() override {
        python_ = PythonWithPil();
        if (python_.empty())
            GTEST_SKIP() << "no python3 with PIL (Debian: python3-pil)";
    }

    // Checks that PIL sees image, in mode, in the file at path.
    void ExpectPilSees(const SmartPtr<Image>& image, const std::string& path,
                       const std::string& mode) {
        std::optional<PilView> view = ReadWithPil(python_, path, directory_.path());
        ASSERT_TRUE(view);
        EXPECT_EQ(view->mode, mode) << path;
        ASSERT_EQ(view->width, image->GetWidth());
        ASSERT_EQ(view->height, image->GetHeight());
        ASSERT_EQ(view->pixels.size(), std::size_t{image->GetWidth()} * image->GetHeight());
        const std::size_t bytes = BytesPerPixel(image->GetFormat());
        for (std::size_t i = 0; i < view->pixels.size(); ++i) {
            const std::uint8_t* pixel = image->GetPixels() + i * bytes;
            const std::array<int, 4> expected{pixel[0], pixel[1], pixel[2],
                                              bytes == 4 ? pixel[3] : 255};
            ASSERT_EQ(view->pixels[i], expected) << path << " pixel " << i;
        }
    }

    std::string python_;
    TempDirectory directory_;
};

TEST_F(PilTest, PilReadsWhatTheSaverWrites) {
    SmartPtr<ImageWriter> saver = LoadSaver();
    ASSERT_TRUE(saver);
    SmartPtr<Image> rgba = MakeImage(7, 5, PixelFormat::RGBA8, 11);
    SmartPtr<Image> rgb = MakeImage(5, 3, PixelFormat::RGB8, 12);
    WriteFile(directory_.File("rgba.bmp"), Save(*saver, rgba));
    WriteFile(directory_.File("rgb.bmp"), Save(*saver, rgb));
    ExpectPilSees(rgba, directory_.File("rgba.bmp"), "RGBA");
    ExpectPilSees(rgb, directory_.File("rgb.bmp"), "RGB");
}

TEST_F(PilTest, PilReadsWhatWritePngWrites) {
    SmartPtr<Image> rgba = MakeImage(6, 4, PixelFormat::RGBA8, 21);
    SmartPtr<Image> rgb = MakeImage(3, 9, PixelFormat::RGB8, 22);
    std::string error;
    ASSERT_TRUE(WritePng(*rgba, directory_.File("rgba.png"), error)) << error;
    ASSERT_TRUE(WritePng(*rgb, directory_.File("rgb.png"), error)) << error;
    ExpectPilSees(rgba, directory_.File("rgba.png"), "RGBA");
    ExpectPilSees(rgb, directory_.File("rgb.png"), "RGB");
}

TEST_F(PilTest, ModuleAndPilAgreeOnHandBuiltFiles) {
    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(parser);
    std::vector<std::pair<std::string, Bytes>> files = HandBuiltFiles();
    // Run-length files without skipped pixels, whose colors no reader may choose.
    BmpBuilder rle8;
    rle8.width = 5;
    rle8.height = 2;
    rle8.bitCount = 8;
    rle8.compression = 1;
    rle8.colorsUsed = 4;
    rle8.palette = {{9, 9, 9}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    rle8.pixels = {2, 1, 0, 3, 2, 3, 2, 0, 0, 0, 5, 3, 0, 1};
    files.emplace_back("rle8", rle8.Build());
    BmpBuilder rle4 = rle8;
    rle4.bitCount = 4;
    rle4.compression = 2;
    // PIL 9 reads a literal of an odd number of nibbles one short, so this one is even.
    rle4.pixels = {5, 0x12, 0, 0, 0, 4, 0x31, 0x23, 1, 0x10, 0, 1};
    files.emplace_back("rle4", rle4.Build());
    for (const auto& [what, bytes] : files) {
        SCOPED_TRACE(what);
        SmartPtr<Image> ours = Parse(*parser, bytes);
        ASSERT_TRUE(ours);
        const std::string path = directory_.File("hand.bmp");
        WriteFile(path, bytes);
        std::optional<PilView> view = ReadWithPil(python_, path, directory_.path());
        ASSERT_TRUE(view);
        ASSERT_EQ(view->width, ours->GetWidth());
        ASSERT_EQ(view->height, ours->GetHeight());
        ASSERT_EQ(view->pixels.size(), std::size_t{ours->GetWidth()} * ours->GetHeight());
        for (std::uint32_t y = 0; y < ours->GetHeight(); ++y) {
            for (std::uint32_t x = 0; x < ours->GetWidth(); ++x) {
                const Rgb color = RgbAt(*ours, x, y);
                const auto& pil = view->pixels[std::size_t{y} * ours->GetWidth() + x];
                EXPECT_EQ((std::array<int, 3>{pil[0], pil[1], pil[2]}),
                          (std::array<int, 3>{color[0], color[1], color[2]}))
                    << "(" << x << ", " << y << ")";
            }
        }
    }
}

}  // namespace
