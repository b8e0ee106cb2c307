// The BMP saver and loader, loaded as the platform loads them: through the loader framework.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "kernel/ComponentLibrary.h"

namespace {

using namespace imagetest;

const std::string kModulePath =
    std::string(KESTREL_LIBRARY_DIR) + "/" + ComponentLibrary::PlatformFileName("image_bmp");

class BmpModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        saver_ = LoadSaver();
        parser_ = LoadParser();
        ASSERT_TRUE(saver_);
        ASSERT_TRUE(parser_);
    }

    Bytes SaveImage(const SmartPtr<Image>& image) { return Save(*saver_, image); }
    SmartPtr<Image> ParseBytes(const Bytes& bytes) { return Parse(*parser_, bytes); }

    SmartPtr<ImageWriter> saver_;
    SmartPtr<ImageParser> parser_;
};

// ---- the module ----

TEST(BmpModuleLibraryTest, LivesBesideTheKernelLibrary) {
    EXPECT_TRUE(std::filesystem::is_regular_file(kModulePath)) << kModulePath;
}

TEST(BmpModuleLibraryTest, LoaderGivesSaverAndLoader) {
    SmartPtr<Loader> loader = Loader::GetLoader();
    ASSERT_TRUE(loader);
    SmartPtr<RefCounted> saver;
    ASSERT_TRUE(loader->LoadModule(Symbol("saver"), Symbol("image"), Symbol("bmp"), saver))
        << loader->GetLastError();
    EXPECT_NE(dynamic_cast<ImageWriter*>(saver.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ImageParser*>(saver.get()), nullptr);
    SmartPtr<RefCounted> parser;
    ASSERT_TRUE(loader->LoadModule(Symbol("loader"), Symbol("image"), Symbol("bmp"), parser))
        << loader->GetLastError();
    EXPECT_NE(dynamic_cast<ImageParser*>(parser.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ImageWriter*>(parser.get()), nullptr);
    // Each request makes a component of its own.
    SmartPtr<RefCounted> second;
    ASSERT_TRUE(loader->LoadModule(Symbol("saver"), Symbol("image"), Symbol("bmp"), second));
    EXPECT_NE(second.get(), saver.get());
}

TEST(BmpModuleLibraryTest, FactoryRefusesOtherComponents) {
    std::string error;
    SmartPtr<ComponentLibrary> library = ComponentLibrary::Open(kModulePath, &error);
    ASSERT_TRUE(library) << error;
    EXPECT_NE(library->FindSymbol("OrbDllInit"), nullptr);
    EXPECT_NE(library->FindSymbol("OrbDllTerminate"), nullptr);
    const SmartPtr<RefCounted> sentinel(new RefCounted());
    for (const auto& [type, name] :
         std::vector<std::pair<std::string, std::string>>{{"saver", "png"},
                                                          {"loader", "png"},
                                                          {"writer", "bmp"},
                                                          {"Saver", "bmp"},
                                                          {"loader", "BMP"},
                                                          {"", ""},
                                                          {"saver", ""}}) {
        SmartPtr<RefCounted> component = sentinel;
        EXPECT_FALSE(library->CreateComponent(type, name, component)) << type << "/" << name;
        EXPECT_EQ(component.get(), sentinel.get()) << type << "/" << name;
    }
    SmartPtr<RefCounted> component;
    EXPECT_TRUE(library->CreateComponent("saver", "bmp", component));
    EXPECT_TRUE(component);
}

// ---- the saver, read back by the loader ----

TEST_F(BmpModuleTest, RgbaRoundTripIsLossless) {
    SmartPtr<Image> image = MakeImage(37, 23, PixelFormat::RGBA8);
    SmartPtr<Image> back = ParseBytes(SaveImage(image));
    EXPECT_TRUE(SameImage(image, back));
}

TEST_F(BmpModuleTest, RgbRoundTripIsLossless) {
    SmartPtr<Image> image = MakeImage(37, 23, PixelFormat::RGB8);
    SmartPtr<Image> back = ParseBytes(SaveImage(image));
    EXPECT_TRUE(SameImage(image, back));
}

TEST_F(BmpModuleTest, TransparentAndOpaqueRgbaStayRgba) {
    for (std::uint8_t alpha : {0, 255}) {
        SmartPtr<Image> image = MakeImage(4, 3, PixelFormat::RGBA8);
        for (std::size_t i = 3; i < image->GetPixelBytes(); i += 4)
            image->GetPixels()[i] = alpha;
        EXPECT_TRUE(SameImage(image, ParseBytes(SaveImage(image)))) << int(alpha);
    }
}

TEST_F(BmpModuleTest, OneByOne) {
    for (PixelFormat format : {PixelFormat::RGB8, PixelFormat::RGBA8}) {
        SmartPtr<Image> image = MakeImage(1, 1, format, 7);
        Bytes bytes = SaveImage(image);
        EXPECT_EQ(bytes.size(), format == PixelFormat::RGB8 ? 54u + 4 : 122u + 4);
        EXPECT_TRUE(SameImage(image, ParseBytes(bytes)));
    }
}

class BmpOddWidthTest : public BmpModuleTest,
                        public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(BmpOddWidthTest, RowsArePaddedAndReadBack) {
    const std::uint32_t width = GetParam();
    for (PixelFormat format : {PixelFormat::RGB8, PixelFormat::RGBA8}) {
        SmartPtr<Image> image = MakeImage(width, 3, format, width);
        Bytes bytes = SaveImage(image);
        const std::size_t stride =
            format == PixelFormat::RGB8 ? (width * 3 + 3) / 4 * 4 : width * 4;
        const std::size_t offset = format == PixelFormat::RGB8 ? 54 : 122;
        ASSERT_EQ(bytes.size(), offset + stride * 3);
        EXPECT_EQ(Get32(bytes, 2), bytes.size());
        EXPECT_EQ(Get32(bytes, 10), offset);
        EXPECT_EQ(Get32(bytes, 34), stride * 3);
        // Padding bytes are zero.
        for (std::size_t row = 0; row < 3; ++row) {
            for (std::size_t i = width * BytesPerPixel(format); i < stride; ++i)
                EXPECT_EQ(bytes[offset + row * stride + i], 0) << row << " " << i;
        }
        EXPECT_TRUE(SameImage(image, ParseBytes(bytes))) << PixelFormatName(format);
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, BmpOddWidthTest, ::testing::Values(1u, 2u, 3u, 5u, 7u));

TEST_F(BmpModuleTest, LargeImage) {
    for (PixelFormat format : {PixelFormat::RGB8, PixelFormat::RGBA8}) {
        SmartPtr<Image> image = MakeImage(2048, 1536, format, 3);
        EXPECT_TRUE(SameImage(image, ParseBytes(SaveImage(image)))) << PixelFormatName(format);
    }
}

TEST_F(BmpModuleTest, LargestDimensionReadsBack) {
    SmartPtr<Image> wide = MakeImage(65535, 1, PixelFormat::RGB8);
    EXPECT_TRUE(SameImage(wide, ParseBytes(SaveImage(wide))));
    SmartPtr<Image> tall = MakeImage(1, 65535, PixelFormat::RGBA8);
    EXPECT_TRUE(SameImage(tall, ParseBytes(SaveImage(tall))));
}

TEST_F(BmpModuleTest, RgbIsA24BitInfoHeaderFileStoredBottomUp) {
    SmartPtr<Image> image = RgbImage({{{1, 2, 3}, {4, 5, 6}}, {{7, 8, 9}, {10, 11, 12}}});
    Bytes bytes = SaveImage(image);
    ASSERT_EQ(bytes.size(), 54u + 2 * 8);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(Get32(bytes, 14), 40u);                  // BITMAPINFOHEADER
    EXPECT_EQ(Get32(bytes, 18), 2u);                   // width
    EXPECT_EQ(Get32(bytes, 22), 2u);                   // height: positive, bottom-up
    EXPECT_EQ(bytes[26] | bytes[27] << 8, 1);          // planes
    EXPECT_EQ(bytes[28] | bytes[29] << 8, 24);         // bits per pixel
    EXPECT_EQ(Get32(bytes, 30), 0u);                   // BI_RGB
    const Bytes bottomRow{9, 8, 7, 12, 11, 10, 0, 0};  // blue, green, red
    const Bytes topRow{3, 2, 1, 6, 5, 4, 0, 0};
    EXPECT_EQ(Bytes(bytes.begin() + 54, bytes.begin() + 62), bottomRow);
    EXPECT_EQ(Bytes(bytes.begin() + 62, bytes.end()), topRow);
}

TEST_F(BmpModuleTest, RgbaIsA32BitV4BitfieldsFileWithAlphaMask) {
    SmartPtr<Image> image(new Image(1, 2, PixelFormat::RGBA8));
    const std::uint8_t pixels[] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::copy(std::begin(pixels), std::end(pixels), image->GetPixels());
    Bytes bytes = SaveImage(image);
    ASSERT_EQ(bytes.size(), 122u + 8);
    EXPECT_EQ(Get32(bytes, 10), 122u);
    EXPECT_EQ(Get32(bytes, 14), 108u);  // BITMAPV4HEADER
    EXPECT_EQ(bytes[28] | bytes[29] << 8, 32);
    EXPECT_EQ(Get32(bytes, 30), 3u);  // BI_BITFIELDS
    EXPECT_EQ(Get32(bytes, 54), 0x00FF0000u);
    EXPECT_EQ(Get32(bytes, 58), 0x0000FF00u);
    EXPECT_EQ(Get32(bytes, 62), 0x000000FFu);
    EXPECT_EQ(Get32(bytes, 66), 0xFF000000u);
    EXPECT_EQ(Bytes(bytes.begin() + 122, bytes.end()), (Bytes{7, 6, 5, 8, 3, 2, 1, 4}));
}

// ---- saver refusals and its buffer ----

TEST_F(BmpModuleTest, SaverRefusesWhatItCannotWrite) {
    std::vector<std::pair<std::string, SmartPtr<Image>>> refused{
        {"null", nullptr},
        {"default 0x0", SmartPtr<Image>(new Image())},
        {"0 wide", SmartPtr<Image>(new Image(0, 4, PixelFormat::RGB8))},
        {"0 high", SmartPtr<Image>(new Image(4, 0, PixelFormat::RGBA8))},
        {"65536 wide", SmartPtr<Image>(new Image(65536, 1, PixelFormat::RGB8))},
        {"65536 high", SmartPtr<Image>(new Image(1, 65536, PixelFormat::RGBA8))},
    };
    for (const auto& [what, image] : refused) {
        std::uint64_t byteCount = 12345;
        const char* bytes = "untouched";
        EXPECT_FALSE(saver_->Write(image, byteCount, bytes)) << what;
        EXPECT_EQ(byteCount, 12345u) << what;
        EXPECT_STREQ(bytes, "untouched") << what;
    }
}

TEST_F(BmpModuleTest, SavedBytesStayValidUntilTheNextWrite) {
    SmartPtr<Image> first = MakeImage(9, 4, PixelFormat::RGB8, 1);
    SmartPtr<Image> second = MakeImage(3, 8, PixelFormat::RGBA8, 2);
    std::uint64_t firstCount = 0;
    const char* firstBytes = nullptr;
    ASSERT_TRUE(saver_->Write(first, firstCount, firstBytes));
    const Bytes firstCopy(firstBytes, firstBytes + firstCount);

    // Other savers, other images and a refused Write leave them alone.
    SmartPtr<ImageWriter> other = LoadSaver();
    ASSERT_TRUE(other);
    const Bytes secondCopy = Save(*other, second);
    ASSERT_FALSE(secondCopy.empty());
    other = nullptr;
    std::uint64_t refusedCount = 0;
    const char* refusedBytes = nullptr;
    EXPECT_FALSE(saver_->Write(nullptr, refusedCount, refusedBytes));
    ASSERT_EQ(Bytes(firstBytes, firstBytes + firstCount), firstCopy);

    // They are read in place, without a copy.
    SmartPtr<Image> parsed;
    ASSERT_TRUE(parser_->Parse(parsed, firstCount, firstBytes));
    EXPECT_TRUE(SameImage(first, parsed));

    std::uint64_t secondCount = 0;
    const char* secondBytes = nullptr;
    ASSERT_TRUE(saver_->Write(second, secondCount, secondBytes));
    EXPECT_EQ(Bytes(secondBytes, secondBytes + secondCount), secondCopy);
}

TEST_F(BmpModuleTest, SaverOutlivesTheImage) {
    std::uint64_t count = 0;
    const char* bytes = nullptr;
    {
        SmartPtr<Image> image = MakeImage(5, 5, PixelFormat::RGBA8);
        ASSERT_TRUE(saver_->Write(image, count, bytes));
    }
    SmartPtr<Image> parsed;
    ASSERT_TRUE(parser_->Parse(parsed, count, bytes));
    EXPECT_TRUE(SameImage(MakeImage(5, 5, PixelFormat::RGBA8), parsed));
}

// ---- hand-built files ----

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};
const Rgb kOdd{10, 20, 30};

Bytes Bgr(const std::vector<Rgb>& pixels) {
    Bytes out;
    for (const Rgb& pixel : pixels) {
        out.push_back(pixel[2]);
        out.push_back(pixel[1]);
        out.push_back(pixel[0]);
    }
    return out;
}

TEST_F(BmpModuleTest, Reads24BitBottomUp) {
    BmpBuilder file;
    file.width = 3;
    file.height = 2;
    file.pixels = PaddedRows({Bgr({kWhite, kBlack, kOdd}), Bgr({kRed, kGreen, kBlue})});
    EXPECT_TRUE(SameImage(RgbImage({{kRed, kGreen, kBlue}, {kWhite, kBlack, kOdd}}),
                          ParseBytes(file.Build())));
}

TEST_F(BmpModuleTest, Reads24BitTopDown) {
    BmpBuilder file;
    file.width = 3;
    file.height = -2;
    file.pixels = PaddedRows({Bgr({kRed, kGreen, kBlue}), Bgr({kWhite, kBlack, kOdd})});
    EXPECT_TRUE(SameImage(RgbImage({{kRed, kGreen, kBlue}, {kWhite, kBlack, kOdd}}),
                          ParseBytes(file.Build())));
}

// A 2 x 2 32-bit BI_RGB file, top-down, with the given fourth bytes.
BmpBuilder Rgb32File(const std::array<std::uint8_t, 4>& fourth) {
    BmpBuilder file;
    file.width = 2;
    file.height = -2;
    file.bitCount = 32;
    const std::array<Rgb, 4> colors{kRed, kGreen, kBlue, kOdd};
    // Indexed rather than appended: GCC 12 reports false overflows for inserts into an empty
    // vector.
    file.pixels.assign(16, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        file.pixels[4 * i] = colors[i][2];
        file.pixels[4 * i + 1] = colors[i][1];
        file.pixels[4 * i + 2] = colors[i][0];
        file.pixels[4 * i + 3] = fourth[i];
    }
    return file;
}

TEST_F(BmpModuleTest, Reads32BitRgbWithZeroAlphaAsOpaqueRgb) {
    SmartPtr<Image> image = ParseBytes(Rgb32File({0, 0, 0, 0}).Build());
    EXPECT_TRUE(SameImage(RgbImage({{kRed, kGreen}, {kBlue, kOdd}}), image));
}

TEST_F(BmpModuleTest, Reads32BitRgbWithAlphaBytesAsRgba) {
    SmartPtr<Image> image = ParseBytes(Rgb32File({0, 128, 255, 7}).Build());
    ASSERT_TRUE(image);
    ASSERT_EQ(image->GetFormat(), PixelFormat::RGBA8);
    const Bytes expected{255, 0, 0, 0, 0, 255, 0, 128, 0, 0, 255, 255, 10, 20, 30, 7};
    EXPECT_EQ(Bytes(image->GetPixels(), image->GetPixels() + image->GetPixelBytes()), expected);
}

TEST_F(BmpModuleTest, ReadsBitfieldsInAnyChannelOrder) {
    BmpBuilder file;
    file.width = 2;
    file.height = 1;
    file.bitCount = 32;
    file.compression = 3;
    file.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};  // red in the low byte
    file.pixels = {10, 20, 30, 99, 1, 2, 3, 99};
    EXPECT_TRUE(SameImage(RgbImage({{Rgb{10, 20, 30}, Rgb{1, 2, 3}}}), ParseBytes(file.Build())));
}

TEST_F(BmpModuleTest, ReadsAlphaFromAlphaMasks) {
    const Bytes pixels{30, 20, 10, 40, 3, 2, 1, 0};  // blue, green, red, alpha
    const Bytes expected{10, 20, 30, 40, 1, 2, 3, 0};
    BmpBuilder alphaBitfields;  // BI_ALPHABITFIELDS, four masks after a 40-byte header
    alphaBitfields.compression = 6;
    BmpBuilder v3;
    v3.headerBytes = 56;
    v3.compression = 3;
    BmpBuilder v5;
    v5.headerBytes = 124;
    v5.compression = 3;
    for (BmpBuilder* file : {&alphaBitfields, &v3, &v5}) {
        file->width = 2;
        file->height = 1;
        file->bitCount = 32;
        file->masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        file->pixels = pixels;
        SmartPtr<Image> image = ParseBytes(file->Build());
        ASSERT_TRUE(image) << file->headerBytes;
        ASSERT_EQ(image->GetFormat(), PixelFormat::RGBA8) << file->headerBytes;
        EXPECT_EQ(Bytes(image->GetPixels(), image->GetPixels() + 8), expected);
    }
}

TEST_F(BmpModuleTest, V5WithoutAlphaMaskIsRgb) {
    BmpBuilder file;
    file.headerBytes = 124;
    file.compression = 3;
    file.width = 1;
    file.bitCount = 32;
    file.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    file.pixels = {30, 20, 10, 40};
    EXPECT_TRUE(SameImage(RgbImage({{Rgb{10, 20, 30}}}), ParseBytes(file.Build())));
}

TEST_F(BmpModuleTest, Reads16Bit) {
    BmpBuilder rgb555;  // BI_RGB: 5 bits each, top bit unused
    rgb555.width = 4;
    rgb555.bitCount = 16;
    rgb555.pixels = {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x00, 0x00, 0x80};
    EXPECT_TRUE(
        SameImage(RgbImage({{kWhite, kRed, Rgb{0, 0, 132}, kBlack}}), ParseBytes(rgb555.Build())));

    BmpBuilder rgb565;
    rgb565.width = 2;
    rgb565.bitCount = 16;
    rgb565.compression = 3;
    rgb565.masks = {0xF800, 0x07E0, 0x001F};
    rgb565.pixels = {0xE0, 0x07, 0x00, 0x04};  // all green; green 32 of 63
    EXPECT_TRUE(SameImage(RgbImage({{kGreen, Rgb{0, 130, 0}}}), ParseBytes(rgb565.Build())));

    BmpBuilder argb4444;
    argb4444.headerBytes = 56;
    argb4444.width = 2;
    argb4444.bitCount = 16;
    argb4444.compression = 3;
    argb4444.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    argb4444.pixels = {0x0F, 0xFF, 0x00, 0x8F};
    SmartPtr<Image> image = ParseBytes(argb4444.Build());
    ASSERT_TRUE(image);
    ASSERT_EQ(image->GetFormat(), PixelFormat::RGBA8);
    EXPECT_EQ(Bytes(image->GetPixels(), image->GetPixels() + 8),
              (Bytes{255, 0, 255, 255, 255, 0, 0, 136}));
}

TEST_F(BmpModuleTest, Reads8BitPalette) {
    BmpBuilder file;
    file.width = 5;
    file.height = 2;
    file.bitCount = 8;
    file.colorsUsed = 3;
    file.palette = {kRed, kGreen, kOdd};
    // An index past the palette reads as black.
    file.pixels = PaddedRows({{2, 2, 2, 2, 2}, {0, 1, 2, 7, 0}});
    EXPECT_TRUE(
        SameImage(RgbImage({{kRed, kGreen, kOdd, kBlack, kRed}, {kOdd, kOdd, kOdd, kOdd, kOdd}}),
                  ParseBytes(file.Build())));
}

TEST_F(BmpModuleTest, Reads4BitPalette) {
    BmpBuilder file;
    file.width = 5;
    file.height = -1;
    file.bitCount = 4;
    file.palette = std::vector<Rgb>(16, kBlack);
    file.palette[1] = kRed;
    file.palette[2] = kGreen;
    file.palette[15] = kWhite;
    file.pixels = PaddedRows({{0x12, 0xF0, 0x20}});
    EXPECT_TRUE(
        SameImage(RgbImage({{kRed, kGreen, kWhite, kBlack, kGreen}}), ParseBytes(file.Build())));
}

TEST_F(BmpModuleTest, Reads1BitPalette) {
    BmpBuilder file;
    file.width = 10;
    file.height = 2;
    file.bitCount = 1;
    file.palette = {kBlue, kWhite};
    file.pixels = PaddedRows({{0b10000000, 0b01000000}, {0b10101010, 0b11000000}});
    const Rgb b = kBlue;
    const Rgb w = kWhite;
    EXPECT_TRUE(
        SameImage(RgbImage({{w, b, w, b, w, b, w, b, w, w}, {w, b, b, b, b, b, b, b, b, w}}),
                  ParseBytes(file.Build())));
}

TEST_F(BmpModuleTest, ReadsCoreHeaderFiles) {
    BmpBuilder palette;
    palette.headerBytes = 12;
    palette.width = 2;
    palette.height = 1;
    palette.bitCount = 8;
    palette.palette = std::vector<Rgb>(256, kBlack);
    palette.palette[5] = kOdd;
    palette.pixels = PaddedRows({{5, 0}});
    EXPECT_TRUE(SameImage(RgbImage({{kOdd, kBlack}}), ParseBytes(palette.Build())));

    BmpBuilder direct;
    direct.headerBytes = 12;
    direct.width = 1;
    direct.height = 2;
    direct.pixels = PaddedRows({Bgr({kBlue}), Bgr({kOdd})});
    EXPECT_TRUE(SameImage(RgbImage({{kOdd}, {kBlue}}), ParseBytes(direct.Build())));
}

// Palette entry 0 is not black, so that pixels the data skips (black) are told apart from it.
std::vector<Rgb> RlePalette() {
    std::vector<Rgb> palette(16, kWhite);
    palette[0] = Rgb{9, 9, 9};
    palette[1] = kRed;
    palette[2] = kGreen;
    palette[3] = kBlue;
    palette[4] = kOdd;
    return palette;
}

BmpBuilder Rle8File() {
    BmpBuilder file;
    file.width = 6;
    file.height = 3;
    file.bitCount = 8;
    file.compression = 1;
    file.palette = RlePalette();
    file.colorsUsed = 16;
    file.pixels = {
        3, 1,           // bottom row: three of 1
        0, 3, 2, 3, 2,  // then three literal pixels
        0,              // padding to 16 bits
        9, 4,           // a run past the row's end is cut there
        0, 0,           // end of line
        0, 2, 2, 1,     // skip 2 right and 1 up: the middle row stays black
        2, 0,           // top row from x = 2: two of 0
        0, 1,           // end of bitmap
    };
    return file;
}

TEST_F(BmpModuleTest, ReadsRle8) {
    const Rgb k = kBlack;
    const Rgb zero{9, 9, 9};
    EXPECT_TRUE(SameImage(RgbImage({{k, k, zero, zero, k, k},
                                    {k, k, k, k, k, k},
                                    {kRed, kRed, kRed, kGreen, kBlue, kGreen}}),
                          ParseBytes(Rle8File().Build())));
}

BmpBuilder Rle4File() {
    BmpBuilder file;
    file.width = 5;
    file.height = 2;
    file.bitCount = 4;
    file.compression = 2;
    file.palette = RlePalette();
    // Bottom row 1 2 1 2 1, end of line; three literal nibbles 3 1 2 in two bytes (already
    // 16-bit aligned), a run of two 4s, end of bitmap.
    file.pixels = {5, 0x12, 0, 0, 0, 3, 0x31, 0x20, 2, 0x44, 0, 1};
    return file;
}

TEST_F(BmpModuleTest, ReadsRle4) {
    EXPECT_TRUE(
        SameImage(RgbImage({{kBlue, kRed, kGreen, kOdd, kOdd}, {kRed, kGreen, kRed, kGreen, kRed}}),
                  ParseBytes(Rle4File().Build())));
}

TEST_F(BmpModuleTest, RejectsTopDownRle) {
    BmpBuilder file = Rle8File();
    file.height = -file.height;
    EXPECT_FALSE(ParseBytes(file.Build()));
}

TEST_F(BmpModuleTest, RejectsRleThatEndsBeforeTheLastRow) {
    BmpBuilder file = Rle8File();
    file.pixels = {6, 1, 0, 0, 6, 2, 0, 0};  // two rows of three, no end of bitmap
    EXPECT_FALSE(ParseBytes(file.Build()));
    file.pixels.insert(file.pixels.end(), {6, 3, 0, 0});  // the third row ends it
    EXPECT_TRUE(ParseBytes(file.Build()));
}

TEST_F(BmpModuleTest, RejectsRleTooSparseForItsSize) {
    BmpBuilder file = Rle8File();
    file.width = 1024;
    file.height = 1024;
    file.pixels = {0, 1};  // end of bitmap at once: two bytes for a million pixels
    EXPECT_FALSE(ParseBytes(file.Build()));
    file.pixels.resize(16, 0);  // 65536 pixels a byte is still taken
    SmartPtr<Image> image = ParseBytes(file.Build());
    ASSERT_TRUE(image);
    EXPECT_EQ(RgbAt(*image, 1023, 1023), kBlack);
}

// ---- rejections ----

TEST_F(BmpModuleTest, RejectsEmptyInput) {
    SmartPtr<Image> image;
    EXPECT_FALSE(parser_->Parse(image, 0, nullptr));
    EXPECT_FALSE(parser_->Parse(image, 0, "BM"));
    EXPECT_FALSE(parser_->Parse(image, 10, nullptr));
    EXPECT_FALSE(image);
}

TEST_F(BmpModuleTest, FailedParseLeavesTheImageAlone) {
    SmartPtr<Image> previous = MakeImage(2, 2, PixelFormat::RGB8);
    SmartPtr<Image> image = previous;
    EXPECT_FALSE(parser_->Parse(image, 3, "BMx"));
    EXPECT_EQ(image.get(), previous.get());
}

// Valid files of every layout the loader reads, for cutting and corrupting.
std::vector<std::pair<std::string, Bytes>> ValidFiles(ImageWriter& saver) {
    std::vector<std::pair<std::string, Bytes>> files;
    files.emplace_back("saved rgb", Save(saver, MakeImage(5, 3, PixelFormat::RGB8)));
    files.emplace_back("saved rgba", Save(saver, MakeImage(3, 2, PixelFormat::RGBA8)));
    BmpBuilder palette8;
    palette8.width = 3;
    palette8.height = 2;
    palette8.bitCount = 8;
    palette8.colorsUsed = 4;
    palette8.palette = {kRed, kGreen, kBlue, kOdd};
    palette8.pixels = PaddedRows({{0, 1, 2}, {3, 2, 1}});
    files.emplace_back("8-bit palette", palette8.Build());
    BmpBuilder palette1;
    palette1.width = 9;
    palette1.height = -2;
    palette1.bitCount = 1;
    palette1.palette = {kBlack, kWhite};
    palette1.pixels = PaddedRows({{0xA5, 0x80}, {0x5A, 0x00}});
    files.emplace_back("1-bit palette", palette1.Build());
    BmpBuilder bits16;
    bits16.width = 3;
    bits16.height = 2;
    bits16.bitCount = 16;
    bits16.compression = 3;
    bits16.masks = {0xF800, 0x07E0, 0x001F};
    bits16.pixels = PaddedRows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
    files.emplace_back("16-bit bitfields", bits16.Build());
    BmpBuilder v5;
    v5.headerBytes = 124;
    v5.width = 2;
    v5.height = 2;
    v5.bitCount = 32;
    v5.compression = 3;
    v5.masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000};
    v5.pixels = Bytes(16, 0x42);
    files.emplace_back("v5 bitfields", v5.Build());
    files.emplace_back("rle8", Rle8File().Build());
    files.emplace_back("rle4", Rle4File().Build());
    return files;
}

TEST_F(BmpModuleTest, ValidFilesAreValid) {
    for (const auto& [what, bytes] : ValidFiles(*saver_))
        EXPECT_TRUE(ParseBytes(bytes)) << what;
}

TEST_F(BmpModuleTest, RejectsEveryTruncation) {
    for (const auto& [what, bytes] : ValidFiles(*saver_)) {
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            Bytes cut(bytes.begin(), bytes.begin() + length);
            EXPECT_FALSE(ParseBytes(cut)) << what << " cut to " << length;
        }
    }
}

TEST_F(BmpModuleTest, RejectsWrongMagic) {
    Bytes bytes = SaveImage(MakeImage(2, 2, PixelFormat::RGB8));
    for (const char* magic : {"MB", "bm", "BA", "CI", "\0\0"}) {
        Bytes corrupt = bytes;
        corrupt[0] = static_cast<std::uint8_t>(magic[0]);
        corrupt[1] = static_cast<std::uint8_t>(magic[1]);
        EXPECT_FALSE(ParseBytes(corrupt)) << magic;
    }
}

TEST_F(BmpModuleTest, RejectsBadPixelOffsets) {
    const Bytes rgb = SaveImage(MakeImage(2, 2, PixelFormat::RGB8));
    for (std::uint32_t offset :
         {0u, 13u, 14u, 53u, 55u, static_cast<std::uint32_t>(rgb.size()),
          static_cast<std::uint32_t>(rgb.size()) + 100, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes corrupt = rgb;
        Put32(corrupt, 10, offset);
        EXPECT_FALSE(ParseBytes(corrupt)) << offset;
    }
    // The palette must come before the pixels.
    BmpBuilder palette;
    palette.bitCount = 8;
    palette.palette = {kRed};
    palette.pixels = {0, 0, 0, 0};
    palette.pixelOffset = 54;
    EXPECT_FALSE(ParseBytes(palette.Build()));
    palette.pixelOffset = 57;  // not even one whole entry
    EXPECT_FALSE(ParseBytes(palette.Build()));
    palette.pixelOffset.reset();
    EXPECT_TRUE(ParseBytes(palette.Build()));
    // Masks after a 40-byte header must come before the pixels too.
    BmpBuilder masks;
    masks.bitCount = 32;
    masks.compression = 3;
    masks.masks = {0xFF0000, 0xFF00, 0xFF};
    masks.pixels = {0, 0, 0, 0};
    masks.pixelOffset = 54;
    EXPECT_FALSE(ParseBytes(masks.Build()));
}

TEST_F(BmpModuleTest, RejectsInconsistentHeaders) {
    auto with = [](auto change) {
        BmpBuilder file;
        file.width = 2;
        file.height = 2;
        file.pixels = Bytes(16, 0);
        change(file);
        return file.Build();
    };
    const std::vector<std::pair<std::string, Bytes>> corrupt{
        {"header size 0", with([](BmpBuilder& f) { f.headerBytes = 0; })},
        {"header size 39", with([](BmpBuilder& f) { f.headerBytes = 39; })},
        {"header size 41", with([](BmpBuilder& f) { f.headerBytes = 41; })},
        {"header size 200", with([](BmpBuilder& f) { f.headerBytes = 200; })},
        {"0 planes", with([](BmpBuilder& f) { f.planes = 0; })},
        {"2 planes", with([](BmpBuilder& f) { f.planes = 2; })},
        {"0 bits", with([](BmpBuilder& f) { f.bitCount = 0; })},
        {"2 bits", with([](BmpBuilder& f) { f.bitCount = 2; })},
        {"7 bits", with([](BmpBuilder& f) { f.bitCount = 7; })},
        {"33 bits", with([](BmpBuilder& f) { f.bitCount = 33; })},
        {"64 bits", with([](BmpBuilder& f) { f.bitCount = 64; })},
        {"jpeg", with([](BmpBuilder& f) { f.compression = 4; })},
        {"png", with([](BmpBuilder& f) { f.compression = 5; })},
        {"compression 7", with([](BmpBuilder& f) { f.compression = 7; })},
        {"compression ~0", with([](BmpBuilder& f) { f.compression = 0xFFFFFFFF; })},
        {"24-bit bitfields", with([](BmpBuilder& f) { f.compression = 3; })},
        {"24-bit rle8", with([](BmpBuilder& f) { f.compression = 1; })},
        {"8-bit rle4", with([](BmpBuilder& f) {
             f.bitCount = 8;
             f.compression = 2;
             f.palette = {kRed};
         })},
        {"os/2 huffman", with([](BmpBuilder& f) {
             f.headerBytes = 64;
             f.bitCount = 1;
             f.compression = 3;
             f.palette = {kRed, kBlue};
         })},
        {"core 32-bit", with([](BmpBuilder& f) {
             f.headerBytes = 12;
             f.bitCount = 32;
         })},
        {"zero red mask", with([](BmpBuilder& f) {
             f.bitCount = 32;
             f.compression = 3;
             f.masks = {0, 0xFF00, 0xFF};
         })},
        {"split mask", with([](BmpBuilder& f) {
             f.bitCount = 32;
             f.compression = 3;
             f.masks = {0xF00F0000, 0xFF00, 0xFF};
         })},
        {"overlapping masks", with([](BmpBuilder& f) {
             f.bitCount = 32;
             f.compression = 3;
             f.masks = {0xFFFF00, 0xFF00, 0xFF};
         })},
        {"16-bit mask past 16 bits", with([](BmpBuilder& f) {
             f.bitCount = 16;
             f.compression = 3;
             f.masks = {0x1F0000, 0x7E0, 0x1F};
         })},
        {"alpha bitfields in a V2 header", with([](BmpBuilder& f) {
             f.headerBytes = 52;
             f.bitCount = 32;
             f.compression = 6;
             f.masks = {0xFF0000, 0xFF00, 0xFF};
         })},
        {"pixels short by one row", with([](BmpBuilder& f) { f.pixels.resize(8); })},
        {"last row padding missing", with([](BmpBuilder& f) { f.pixels.resize(14); })},
    };
    for (const auto& [what, bytes] : corrupt)
        EXPECT_FALSE(ParseBytes(bytes)) << what;
}

TEST_F(BmpModuleTest, RejectsAbsurdDimensionsBeforeAllocating) {
    // Headers only: nothing behind them but a few bytes of pixels.
    const std::vector<std::pair<std::int32_t, std::int32_t>> sizes{
        {0, 1},          {1, 0},          {-1, 1},
        {-5, -5},        {65536, 1},      {1, 65536},
        {1, -65536},     {16385, 16385},  {65535, 65535},
        {0x7FFFFFFF, 1}, {1, 0x7FFFFFFF}, {1, static_cast<std::int32_t>(0x80000000)},
        {16384, 16384},  // within the limits, but the pixels are not there
    };
    for (const auto& [width, height] : sizes) {
        for (std::uint16_t bits : {1, 24, 32}) {
            BmpBuilder file;
            file.width = width;
            file.height = height;
            file.bitCount = bits;
            if (bits == 1)
                file.palette = {kRed, kBlue};
            file.pixels = Bytes(64, 0);
            EXPECT_FALSE(ParseBytes(file.Build())) << width << " x " << height << " " << bits;
        }
    }
    // Core headers hold 16-bit sizes: 65535 is the most they say, still more than the data.
    BmpBuilder core;
    core.headerBytes = 12;
    core.width = 65535;
    core.height = 65535;
    core.pixels = Bytes(64, 0);
    EXPECT_FALSE(ParseBytes(core.Build()));
    // A run-length file needs little data for many pixels; past the limits it is refused still.
    BmpBuilder rle = Rle8File();
    rle.width = 16385;
    rle.height = 16385;
    EXPECT_FALSE(ParseBytes(rle.Build()));
}

TEST_F(BmpModuleTest, SurvivesRandomCorruption) {
    std::mt19937 random(20240611);
    int accepted = 0;
    for (const auto& [what, bytes] : ValidFiles(*saver_)) {
        std::uniform_int_distribution<std::size_t> position(0, bytes.size() - 1);
        for (int round = 0; round < 2500; ++round) {
            Bytes corrupt = bytes;
            const int flips = 1 + round % 4;
            for (int i = 0; i < flips; ++i) {
                const std::size_t at = position(random);
                if (round % 3 == 0) {
                    corrupt[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                } else {
                    corrupt[at] = static_cast<std::uint8_t>(random());
                }
            }
            SmartPtr<Image> image = ParseBytes(corrupt);
            if (image) {
                ++accepted;
                ASSERT_GT(image->GetWidth(), 0u) << what;
                ASSERT_GT(image->GetHeight(), 0u) << what;
                ASSERT_EQ(image->GetPixelBytes(), image->GetRowBytes() * image->GetHeight())
                    << what;
            }
        }
    }
    // Most flips hit pixels, which still make an image.
    EXPECT_GT(accepted, 0);
}

TEST_F(BmpModuleTest, SurvivesRandomBytesAfterTheMagic) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(14 + random() % 200);
        for (std::uint8_t& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        bytes[0] = 'B';
        bytes[1] = 'M';
        // Plausible header sizes, so that the checks behind that one are reached too.
        if (bytes.size() >= 18) {
            const std::uint32_t sizes[] = {12, 40, 52, 56, 64, 108, 124};
            Put32(bytes, 14, sizes[round % 7]);
        }
        ParseBytes(bytes);
    }
}

}  // namespace
