// The BMP saver and loader, loaded as the platform loads them (through the loader framework), and
// checked against a decoder written by others: stb_image (through ReadImageFile).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "kernel/ComponentLibrary.h"
#include "kestrel/images/ImageFiles.h"

namespace {

using namespace imagetest;
using kestrel::images::ReadImageFile;

constexpr PixelFormat RGB = PixelFormat::RGB8;
constexpr PixelFormat RGBA = PixelFormat::RGBA8;
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kBlack{0, 0, 0}, kOdd{10, 20, 30};

class BmpModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        saver_ = LoadSaver();
        parser_ = LoadParser();
        ASSERT_TRUE(saver_ && parser_);
    }

    Bytes SaveImage(const SmartPtr<Image>& image) { return Save(*saver_, image); }
    SmartPtr<Image> ParseBytes(const Bytes& bytes) { return Parse(*parser_, bytes); }

    SmartPtr<ImageWriter> saver_;
    SmartPtr<ImageParser> parser_;
};

// A width x height image of the given bytes.
SmartPtr<Image> Pixels(std::uint32_t width, std::uint32_t height, PixelFormat format,
                       const Bytes& bytes) {
    SmartPtr<Image> image(new Image(width, height, format));
    std::copy(bytes.begin(), bytes.end(), image->GetPixels());
    return image;
}

Bytes Bgr(const std::vector<Rgb>& pixels) {
    Bytes out;
    for (const Rgb& pixel : pixels)
        out.insert(out.end(), {pixel[2], pixel[1], pixel[0]});
    return out;
}

// ---- the module ----

// Each request makes a component of its own, of the class its role names, and nothing else.
TEST(BmpModuleLibraryTest, LoaderGivesSaverAndLoaderAndNothingElse) {
    SmartPtr<Loader> loader = Loader::GetLoader();
    ASSERT_TRUE(loader);
    SmartPtr<RefCounted> saver, parser, second;
    ASSERT_TRUE(loader->LoadModule(Symbol("saver"), Symbol("image"), Symbol("bmp"), saver))
        << loader->GetLastError();
    ASSERT_TRUE(loader->LoadModule(Symbol("loader"), Symbol("image"), Symbol("bmp"), parser));
    ASSERT_TRUE(loader->LoadModule(Symbol("saver"), Symbol("image"), Symbol("bmp"), second));
    EXPECT_NE(dynamic_cast<ImageWriter*>(saver.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ImageParser*>(saver.get()), nullptr);
    EXPECT_NE(dynamic_cast<ImageParser*>(parser.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ImageWriter*>(parser.get()), nullptr);
    EXPECT_NE(second.get(), saver.get());
    // The library lives beside the kernel library; its factory leaves a refused component alone.
    std::string error;
    SmartPtr<ComponentLibrary> library = ComponentLibrary::Open(
        std::string(KESTREL_LIBRARY_DIR) + "/" + ComponentLibrary::PlatformFileName("image_bmp"),
        &error);
    ASSERT_TRUE(library) << error;
    const SmartPtr<RefCounted> sentinel(new RefCounted());
    for (const char* type : {"saver", "writer"}) {
        SmartPtr<RefCounted> component = sentinel;
        EXPECT_FALSE(library->CreateComponent(type, type[0] == 's' ? "png" : "bmp", component));
        EXPECT_EQ(component.get(), sentinel.get()) << type;
    }
}

// ---- the saver, read back by the loader ----

// Rows are padded with zeros to 4 bytes (RGBA rows always are); alpha 0 and 255 throughout stay
// RGBA; the largest dimension the format allows reads back.
TEST_F(BmpModuleTest, SavedImagesArePaddedAndReadBackExactly) {
    const struct {
        std::uint32_t width, height;
        int alpha;  // every alpha byte, or -1 for the pattern
    } rows[] = {{1, 1, -1}, {2, 3, -1},  {3, 3, -1},     {37, 23, -1},
                {4, 3, 0},  {4, 3, 255}, {65535, 1, -1}, {1, 65535, -1}};
    for (const auto& row : rows) {
        for (PixelFormat format : {RGB, RGBA}) {
            SCOPED_TRACE(testing::Message() << row.width << " x " << row.height << " "
                                            << PixelFormatName(format) << " " << row.alpha);
            SmartPtr<Image> image = MakeImage(row.width, row.height, format, row.width);
            for (std::size_t i = 3; format == RGBA && row.alpha >= 0 && i < image->GetPixelBytes();
                 i += 4)
                image->GetPixels()[i] = static_cast<std::uint8_t>(row.alpha);
            const Bytes bytes = SaveImage(image);
            const std::size_t pixelBytes = row.width * BytesPerPixel(format);
            const std::size_t stride = (pixelBytes + 3) / 4 * 4;
            const std::size_t offset = format == RGB ? 54 : 122;
            ASSERT_EQ(bytes.size(), offset + stride * row.height);
            EXPECT_EQ(Get32(bytes, 2), bytes.size());
            EXPECT_EQ(Get32(bytes, 10), offset);
            EXPECT_EQ(Get32(bytes, 34), stride * row.height);
            for (std::size_t y = 0; y < row.height; ++y) {
                for (std::size_t i = pixelBytes; i < stride; ++i)
                    ASSERT_EQ(bytes[offset + y * stride + i], 0) << y << " " << i;
            }
            EXPECT_TRUE(SameImage(image, ParseBytes(bytes)));
        }
    }
}

// RGB as a 24-bit BITMAPINFOHEADER file, RGBA as a 32-bit BITMAPV4HEADER one with BI_BITFIELDS
// and an alpha mask; rows bottom-up, blue first.
TEST_F(BmpModuleTest, SavedHeadersAndPixelOrder) {
    const Bytes rgb = SaveImage(RgbImage({{{1, 2, 3}, {4, 5, 6}}, {{7, 8, 9}, {10, 11, 12}}}));
    const Bytes rgba = SaveImage(Pixels(1, 2, RGBA, {1, 2, 3, 4, 5, 6, 7, 8}));
    for (const Bytes* file : {&rgb, &rgba})
        EXPECT_EQ(std::string(file->begin(), file->begin() + 2), "BM");
    // Offset and 32-bit value; planes and bits per pixel are read as one.
    const std::vector<std::pair<std::size_t, std::uint32_t>> rgbFields{
        {14, 40}, {18, 2}, {22, 2}, {26, 1 | 24 << 16}, {30, 0}};
    const std::vector<std::pair<std::size_t, std::uint32_t>> rgbaFields{
        {10, 122},        {14, 108},        {26, 1 | 32 << 16}, {30, 3},
        {54, 0x00FF0000}, {58, 0x0000FF00}, {62, 0x000000FF},   {66, 0xFF000000}};
    for (const auto& [at, value] : rgbFields)
        EXPECT_EQ(Get32(rgb, at), value) << "rgb field at " << at;
    for (const auto& [at, value] : rgbaFields)
        EXPECT_EQ(Get32(rgba, at), value) << "rgba field at " << at;
    EXPECT_EQ(Bytes(rgb.begin() + 54, rgb.end()),
              (Bytes{9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0}));
    EXPECT_EQ(Bytes(rgba.begin() + 122, rgba.end()), (Bytes{7, 6, 5, 8, 3, 2, 1, 4}));
}

TEST_F(BmpModuleTest, SaverRefusesWhatItCannotWriteAndLeavesTheOutputsAlone) {
    const std::vector<std::pair<std::string, SmartPtr<Image>>> refused{
        {"null", nullptr},
        {"default 0x0", SmartPtr<Image>(new Image())},
        {"0 wide", SmartPtr<Image>(new Image(0, 4, RGB))},
        {"0 high", SmartPtr<Image>(new Image(4, 0, RGBA))},
        {"65536 wide", SmartPtr<Image>(new Image(65536, 1, RGB))},
        {"65536 high", SmartPtr<Image>(new Image(1, 65536, RGBA))},
    };
    for (const auto& [what, image] : refused) {
        std::uint64_t byteCount = 12345;
        const char* bytes = "untouched";
        EXPECT_FALSE(saver_->Write(image, byteCount, bytes)) << what;
        EXPECT_EQ(byteCount, 12345u) << what;
        EXPECT_STREQ(bytes, "untouched") << what;
    }
}

// The saved bytes outlive the image and stay valid until the saver's next successful Write:
// other savers and a refused Write leave them alone, and the loader reads them in place.
TEST_F(BmpModuleTest, SavedBytesStayValidUntilTheNextWrite) {
    std::uint64_t firstCount = 0;
    const char* firstBytes = nullptr;
    ASSERT_TRUE(saver_->Write(MakeImage(9, 4, RGB, 1), firstCount, firstBytes));
    const Bytes firstCopy(firstBytes, firstBytes + firstCount);
    SmartPtr<Image> second = MakeImage(3, 8, RGBA, 2);
    SmartPtr<ImageWriter> other = LoadSaver();
    ASSERT_TRUE(other);
    const Bytes secondCopy = Save(*other, second);
    ASSERT_FALSE(secondCopy.empty());
    other = nullptr;
    std::uint64_t refusedCount = 0;
    const char* refusedBytes = nullptr;
    EXPECT_FALSE(saver_->Write(nullptr, refusedCount, refusedBytes));
    ASSERT_EQ(Bytes(firstBytes, firstBytes + firstCount), firstCopy);
    SmartPtr<Image> parsed;
    ASSERT_TRUE(parser_->Parse(parsed, firstCount, firstBytes));
    EXPECT_TRUE(SameImage(MakeImage(9, 4, RGB, 1), parsed));

    std::uint64_t secondCount = 0;
    const char* secondBytes = nullptr;
    ASSERT_TRUE(saver_->Write(second, secondCount, secondBytes));
    EXPECT_EQ(Bytes(secondBytes, secondBytes + secondCount), secondCopy);
}

// ---- hand-built files ----

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

// clang-format off
BmpBuilder Rle8File() {
    return {.width = 6, .height = 3, .bitCount = 8, .compression = 1, .colorsUsed = 16, .palette = RlePalette(),
            .pixels = {3, 1,           // bottom row: three of 1
                       0, 3, 2, 3, 2,  // then three literal pixels
                       0,              // padding to 16 bits
                       9, 4,           // a run past the row's end is cut there
                       0, 0,           // end of line
                       0, 2, 2, 1,     // skip 2 right and 1 up: the middle row stays black
                       2, 0,           // top row from x = 2: two of 0
                       0, 1}};         // end of bitmap
}

// Bottom row 1 2 1 2 1, end of line; three literal nibbles 3 1 2 in two bytes (already 16-bit
// aligned), a run of two 4s, end of bitmap.
BmpBuilder Rle4File() {
    return {.width = 5, .height = 2, .bitCount = 4, .compression = 2, .palette = RlePalette(),
            .pixels = {5, 0x12, 0, 0, 0, 3, 0x31, 0x20, 2, 0x44, 0, 1}};
}

// One file of the corpus and what the loader makes of it.
struct ReadCase {
    std::string name;
    Bytes file;
    SmartPtr<Image> expected;  // null: refused
    ReadCase(std::string n, const BmpBuilder& b, SmartPtr<Image> e)
        : name(std::move(n)), file(b.Build()), expected(std::move(e)) {}
    ReadCase(std::string n, Bytes b, SmartPtr<Image> e = nullptr)
        : name(std::move(n)), file(std::move(b)), expected(std::move(e)) {}
};

// Every layout the loader reads, with the image it must give, and files it must refuse: wrong
// magic, pixel offsets outside the file, inconsistent headers and absurd dimensions (refused
// before allocating: nothing but a few bytes of pixels stand behind those headers).
std::vector<ReadCase> Corpus(ImageWriter& saver) {
    const Rgb k = kBlack, z{9, 9, 9}, b = kBlue, w = kWhite, r = kRed, g = kGreen;
    std::vector<Rgb> palette16(16, kBlack);
    palette16[1] = kRed;
    palette16[2] = kGreen;
    palette16[15] = kWhite;
    std::vector<Rgb> palette256(256, kBlack);
    palette256[5] = kOdd;
    const std::vector<std::uint32_t> argb = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    const Bytes bgra{30, 20, 10, 40, 3, 2, 1, 0};
    const SmartPtr<Image> rgba = Pixels(2, 1, RGBA, {10, 20, 30, 40, 1, 2, 3, 0});
    BmpBuilder rleTopDown = Rle8File(), rleShort = Rle8File(), rleSparse = Rle8File();
    rleTopDown.height = -3;
    rleShort.pixels = {6, 1, 0, 0, 6, 2, 0, 0};  // two of the three rows, no end of bitmap
    BmpBuilder rleEnded = rleShort;
    rleEnded.pixels.insert(rleEnded.pixels.end(), {6, 3, 0, 0});  // the third row ends it
    rleSparse.width = rleSparse.height = 1024;
    rleSparse.pixels = {0, 1};  // end of bitmap at once: two bytes for a million pixels
    BmpBuilder rleSparseEnough = rleSparse;
    rleSparseEnough.pixels.resize(16, 0);  // 65536 pixels a byte is still taken
    // clang-format off
    std::vector<ReadCase> corpus = {
        {"24-bit bottom-up", {.width = 3, .height = 2, .pixels = PaddedRows({Bgr({w, k, kOdd}), Bgr({r, g, b})})},
         RgbImage({{r, g, b}, {w, k, kOdd}})},
        {"24-bit top-down", {.width = 3, .height = -2, .pixels = PaddedRows({Bgr({r, g, b}), Bgr({w, k, kOdd})})},
         RgbImage({{r, g, b}, {w, k, kOdd}})},
        {"32-bit BI_RGB with zero fourth bytes is opaque RGB",
         {.width = 2, .height = -2, .bitCount = 32, .pixels = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 30, 20, 10, 0}},
         RgbImage({{r, g}, {b, kOdd}})},
        {"32-bit BI_RGB with fourth bytes is RGBA",
         {.width = 2, .height = -2, .bitCount = 32, .pixels = {0, 0, 255, 0, 0, 255, 0, 128, 255, 0, 0, 255, 30, 20, 10, 7}},
         Pixels(2, 2, RGBA, {255, 0, 0, 0, 0, 255, 0, 128, 0, 0, 255, 255, 10, 20, 30, 7})},
        {"bitfields in any channel order",
         {.width = 2, .bitCount = 32, .compression = 3, .masks = {0xFF, 0xFF00, 0xFF0000}, .pixels = {10, 20, 30, 99, 1, 2, 3, 99}},
         RgbImage({{Rgb{10, 20, 30}, Rgb{1, 2, 3}}})},
        {"BI_ALPHABITFIELDS: four masks after a 40-byte header",
         {.width = 2, .bitCount = 32, .compression = 6, .masks = argb, .pixels = bgra}, rgba},
        {"V3 header with alpha mask",
         {.headerBytes = 56, .width = 2, .bitCount = 32, .compression = 3, .masks = argb, .pixels = bgra}, rgba},
        {"V5 header with alpha mask",
         {.headerBytes = 124, .width = 2, .bitCount = 32, .compression = 3, .masks = argb, .pixels = bgra}, rgba},
        {"V5 header without alpha mask is RGB",
         {.headerBytes = 124, .bitCount = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0}, .pixels = {30, 20, 10, 40}},
         RgbImage({{Rgb{10, 20, 30}}})},
        {"16-bit BI_RGB: 5 bits each, top bit unused",
         {.width = 4, .bitCount = 16, .pixels = {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x00, 0x00, 0x80}},
         RgbImage({{w, r, Rgb{0, 0, 132}, k}})},
        {"16-bit 565: all green, and green 32 of 63",
         {.width = 2, .bitCount = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}, .pixels = {0xE0, 0x07, 0x00, 0x04}},
         RgbImage({{g, Rgb{0, 130, 0}}})},
        {"16-bit 4444 with alpha",
         {.headerBytes = 56, .width = 2, .bitCount = 16, .compression = 3, .masks = {0x0F00, 0x00F0, 0x000F, 0xF000},
          .pixels = {0x0F, 0xFF, 0x00, 0x8F}},
         Pixels(2, 1, RGBA, {255, 0, 255, 255, 255, 0, 0, 136})},
        {"8-bit palette; an index past it reads as black",
         {.width = 5, .height = 2, .bitCount = 8, .colorsUsed = 3, .palette = {r, g, kOdd},
          .pixels = PaddedRows({{2, 2, 2, 2, 2}, {0, 1, 2, 7, 0}})},
         RgbImage({{r, g, kOdd, k, r}, {kOdd, kOdd, kOdd, kOdd, kOdd}})},
        {"4-bit palette", {.width = 5, .height = -1, .bitCount = 4, .palette = palette16, .pixels = PaddedRows({{0x12, 0xF0, 0x20}})},
         RgbImage({{r, g, w, k, g}})},
        {"1-bit palette",
         {.width = 10, .height = 2, .bitCount = 1, .palette = {b, w}, .pixels = PaddedRows({{0x80, 0x40}, {0xAA, 0xC0}})},
         RgbImage({{w, b, w, b, w, b, w, b, w, w}, {w, b, b, b, b, b, b, b, b, w}})},
        {"core header, 8-bit palette",
         {.headerBytes = 12, .width = 2, .bitCount = 8, .palette = palette256, .pixels = PaddedRows({{5, 0}})},
         RgbImage({{kOdd, k}})},
        {"core header, 24-bit", {.headerBytes = 12, .height = 2, .pixels = PaddedRows({Bgr({b}), Bgr({kOdd})})},
         RgbImage({{kOdd}, {b}})},
        {"rle8", Rle8File(), RgbImage({{k, k, z, z, k, k}, {k, k, k, k, k, k}, {r, r, r, g, b, g}})},
        {"rle4", Rle4File(), RgbImage({{b, r, g, kOdd, kOdd}, {r, g, r, g, r}})},
        {"top-down rle", rleTopDown, nullptr},
        {"rle ending before the last row", rleShort, nullptr},
        {"rle ending with the last row", rleEnded, RgbImage({{b, b, b, b, b, b}, {g, g, g, g, g, g}, {r, r, r, r, r, r}})},
        {"rle too sparse for its size", rleSparse, nullptr},
        {"rle sparse within the limit", rleSparseEnough, Pixels(1024, 1024, RGB, Bytes(3 << 20, 0))},
    };
    // A valid 2 x 2 24-bit file, with one field changed.
    const Bytes zeros(16, 0), four(4, 0);
    const BmpBuilder bad[] = {
        {.headerBytes = 39, .width = 2, .height = 2, .pixels = zeros},
        {.headerBytes = 41, .width = 2, .height = 2, .pixels = zeros},
        {.headerBytes = 200, .width = 2, .height = 2, .pixels = zeros},
        {.width = 2, .height = 2, .planes = 2, .pixels = zeros}, {.width = 2, .height = 2, .bitCount = 0, .pixels = zeros},
        {.width = 2, .height = 2, .bitCount = 33, .pixels = zeros},
        {.width = 2, .height = 2, .compression = 4, .pixels = zeros},  // jpeg
        {.width = 2, .height = 2, .compression = 5, .pixels = zeros},  // png
        {.width = 2, .height = 2, .compression = 0xFFFFFFFF, .pixels = zeros},
        {.width = 2, .height = 2, .compression = 3, .pixels = zeros},  // 24-bit bitfields
        {.width = 2, .height = 2, .compression = 1, .pixels = zeros},  // 24-bit rle8
        {.width = 2, .height = 2, .bitCount = 8, .compression = 2, .palette = {r}, .pixels = zeros},
        {.headerBytes = 64, .width = 2, .height = 2, .bitCount = 1, .compression = 3,  // os/2 huffman
         .palette = {r, b}, .pixels = zeros},
        {.headerBytes = 12, .width = 2, .height = 2, .bitCount = 32, .pixels = zeros},
        // Masks: zero, split, overlapping, past 16 bits; alpha bitfields in a V2 header.
        {.width = 2, .height = 2, .bitCount = 32, .compression = 3, .masks = {0, 0xFF00, 0xFF}, .pixels = zeros},
        {.width = 2, .height = 2, .bitCount = 32, .compression = 3, .masks = {0xF00F0000, 0xFF00, 0xFF}, .pixels = zeros},
        {.width = 2, .height = 2, .bitCount = 32, .compression = 3, .masks = {0xFFFF00, 0xFF00, 0xFF}, .pixels = zeros},
        {.width = 2, .height = 2, .bitCount = 16, .compression = 3, .masks = {0x1F0000, 0x7E0, 0x1F}, .pixels = zeros},
        {.headerBytes = 52, .width = 2, .height = 2, .bitCount = 32, .compression = 6, .masks = {0xFF0000, 0xFF00, 0xFF},
         .pixels = zeros},
        // Pixels short by one row, and the last row's padding missing.
        {.width = 2, .height = 2, .pixels = Bytes(8, 0)}, {.width = 2, .height = 2, .pixels = Bytes(14, 0)},
        // The palette, and masks after a 40-byte header, must come before the pixels.
        {.bitCount = 8, .palette = {r}, .pixels = four, .pixelOffset = 54},
        {.bitCount = 8, .palette = {r}, .pixels = four, .pixelOffset = 57},  // not one whole entry
        {.bitCount = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .pixels = four, .pixelOffset = 54},
        // Core headers hold 16-bit sizes: 65535 is the most they say, still more than the data.
        {.headerBytes = 12, .width = 65535, .height = 65535, .pixels = Bytes(64, 0)},
    };
    // clang-format on
    for (const BmpBuilder& file : bad)
        corpus.emplace_back("bad header " + std::to_string(corpus.size()), file, nullptr);
    const Bytes rgb = Save(saver, MakeImage(2, 2, RGB));
    for (const char* magic : {"MB", "bm", "\0\0"}) {
        Bytes corrupt = rgb;
        corrupt[0] = static_cast<std::uint8_t>(magic[0]);
        corrupt[1] = static_cast<std::uint8_t>(magic[1]);
        corpus.emplace_back(std::string("magic ") + magic, corrupt);
    }
    const auto size = static_cast<std::uint32_t>(rgb.size());
    for (std::uint32_t offset : {0u, 13u, 14u, 53u, 55u, size, size + 100, 0x7FFFFFFFu, ~0u}) {
        Bytes corrupt = rgb;
        Put32(corrupt, 10, offset);
        corpus.emplace_back("pixel offset " + std::to_string(offset), corrupt);
    }
    const std::pair<std::int32_t, std::int32_t> sizes[] = {
        {0, 1},          {1, 0},          {-1, 1},
        {-5, -5},        {65536, 1},      {1, 65536},
        {1, -65536},     {16385, 16385},  {65535, 65535},
        {0x7FFFFFFF, 1}, {1, 0x7FFFFFFF}, {1, static_cast<std::int32_t>(0x80000000)},
        {16384, 16384},  // within the limits, but the pixels are not there
    };
    for (const auto& [width, height] : sizes) {
        for (std::uint16_t bits : {1, 24, 32}) {
            BmpBuilder file{
                .width = width, .height = height, .bitCount = bits, .pixels = Bytes(64, 0)};
            if (bits == 1)
                file.palette = {r, b};
            corpus.emplace_back(
                std::to_string(width) + " x " + std::to_string(height) + " " + std::to_string(bits),
                file, nullptr);
        }
    }
    // A run-length file needs little data for many pixels; past the limits it is refused still.
    BmpBuilder rle = Rle8File();
    rle.width = rle.height = 16385;
    corpus.emplace_back("rle past the limits", rle, nullptr);
    return corpus;
}

TEST_F(BmpModuleTest, ReadsOrRefusesEveryFileOfTheCorpus) {
    for (const ReadCase& c : Corpus(*saver_)) {
        SCOPED_TRACE(c.name);
        SmartPtr<Image> image = ParseBytes(c.file);
        if (c.expected)
            EXPECT_TRUE(SameImage(c.expected, image));
        else
            EXPECT_FALSE(image);
    }
}

// Files in every layout both the module and stb read; pixel values stay away from palette ends
// and from 16-bit channel values the two may scale one apart.
std::vector<std::pair<std::string, Bytes>> SharedLayouts() {
    const std::vector<Rgb> colors{{255, 0, 0},    {0, 255, 0},     {0, 0, 255}, {10, 20, 30},
                                  {200, 100, 50}, {255, 255, 255}, {0, 0, 0},   {1, 2, 3}};
    std::vector<Rgb> palette16 = colors, palette256 = colors;
    palette16.resize(16, Rgb{50, 60, 70});
    palette256.resize(256, Rgb{0, 0, 0});
    BmpBuilder bottomUp{.width = 3,
                        .height = 3,
                        .pixels = PaddedRows({Bgr({colors[0], colors[1], colors[2]}),
                                              Bgr({colors[3], colors[4], colors[5]}),
                                              Bgr({colors[6], colors[7], colors[0]})})};
    BmpBuilder topDown = bottomUp;
    topDown.height = -3;
    // clang-format off
    const std::vector<std::pair<std::string, BmpBuilder>> files{
        {"24-bit bottom-up", bottomUp},
        {"24-bit top-down", topDown},
        {"8-bit palette of 8", {.width = 5, .height = 2, .bitCount = 8, .colorsUsed = 8, .palette = colors,
                                .pixels = PaddedRows({{0, 1, 2, 3, 4}, {7, 6, 5, 4, 3}})}},
        {"4-bit palette", {.width = 7, .height = -2, .bitCount = 4, .palette = palette16,
                           .pixels = PaddedRows({{0x01, 0x23, 0x45, 0x60}, {0xFE, 0xDC, 0xBA, 0x90}})}},
        {"1-bit palette", {.width = 11, .height = 2, .bitCount = 1, .palette = {colors[3], colors[4]},
                           .pixels = PaddedRows({{0xA5, 0x60}, {0x0F, 0xE0}})}},
        {"16-bit 565 with full and zero channels", {.width = 4, .bitCount = 16, .compression = 3,
            .masks = {0xF800, 0x07E0, 0x001F}, .pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF}}},
        {"32-bit V5 bitfields, red low, alpha", {.headerBytes = 124, .width = 2, .height = 2, .bitCount = 32,
            .compression = 3, .masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
            .pixels = {1, 2, 3, 255, 4, 5, 6, 128, 7, 8, 9, 255, 10, 11, 12, 1}}},
        {"32-bit BI_RGB", {.width = 2, .bitCount = 32, .pixels = {30, 20, 10, 0, 60, 50, 40, 0}}},
        {"core header, 8-bit", {.headerBytes = 12, .width = 3, .bitCount = 8, .palette = palette256,
                                .pixels = PaddedRows({{7, 0, 4}})}},
    };
    // clang-format on
    std::vector<std::pair<std::string, Bytes>> built;
    for (const auto& [name, file] : files)
        built.emplace_back(name, file.Build());
    return built;
}

// ---- rejections ----

TEST_F(BmpModuleTest, FailedParsesLeaveTheImageAlone) {
    SmartPtr<Image> previous = MakeImage(2, 2, RGB);
    SmartPtr<Image> image = previous;
    EXPECT_FALSE(parser_->Parse(image, 0, nullptr));
    EXPECT_FALSE(parser_->Parse(image, 0, "BM"));
    EXPECT_FALSE(parser_->Parse(image, 10, nullptr));
    EXPECT_FALSE(parser_->Parse(image, 3, "BMx"));
    EXPECT_EQ(image.get(), previous.get());
}

// Valid files of every layout the loader reads, for cutting and corrupting.
std::vector<std::pair<std::string, Bytes>> ValidFiles(ImageWriter& saver) {
    std::vector<std::pair<std::string, Bytes>> files = SharedLayouts();
    files.emplace_back("saved rgb", Save(saver, MakeImage(5, 3, RGB)));
    files.emplace_back("saved rgba", Save(saver, MakeImage(3, 2, RGBA)));
    files.emplace_back("rle8", Rle8File().Build());
    files.emplace_back("rle4", Rle4File().Build());
    return files;
}

TEST_F(BmpModuleTest, RejectsEveryTruncationOfAValidFile) {
    for (const auto& [what, bytes] : ValidFiles(*saver_)) {
        ASSERT_TRUE(ParseBytes(bytes)) << what;
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            EXPECT_FALSE(ParseBytes(Bytes(bytes.begin(), bytes.begin() + length)))
                << what << " cut to " << length;
        }
    }
}

TEST_F(BmpModuleTest, SurvivesRandomCorruption) {
    std::mt19937 random(20240611);
    int accepted = 0;
    for (const auto& [what, bytes] : ValidFiles(*saver_)) {
        std::uniform_int_distribution<std::size_t> position(0, bytes.size() - 1);
        for (int round = 0; round < 2500; ++round) {
            Bytes corrupt = bytes;
            for (int i = 0; i <= round % 4; ++i) {
                const std::size_t at = position(random);
                if (round % 3 == 0)
                    corrupt[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                else
                    corrupt[at] = static_cast<std::uint8_t>(random());
            }
            if (SmartPtr<Image> image = ParseBytes(corrupt)) {
                ++accepted;
                ASSERT_GT(image->GetWidth(), 0u) << what;
                ASSERT_GT(image->GetHeight(), 0u) << what;
                ASSERT_EQ(image->GetPixelBytes(), image->GetRowBytes() * image->GetHeight())
                    << what;
            }
        }
    }
    EXPECT_GT(accepted, 0);  // most flips hit pixels, which still make an image
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

// ---- other decoders ----

TEST(IndependentDecoderTest, StbReadsWhatTheSaverWritesAndAgreesWithTheLoader) {
    SmartPtr<ImageWriter> saver = LoadSaver();
    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(saver && parser);
    TempDirectory directory;
    const std::string path = directory.File("file.bmp");
    for (PixelFormat format : {RGB, RGBA}) {
        for (std::uint32_t width : {1u, 2u, 3u, 5u, 7u, 64u}) {
            SmartPtr<Image> image = MakeImage(width, 5, format, width);
            WriteFile(path, Save(*saver, image));
            const auto read = ReadImageFile(path);
            EXPECT_TRUE(SameImage(image, read.image))
                << PixelFormatName(format) << " " << width << ": " << read.error.description();
        }
    }
    for (const auto& [what, bytes] : SharedLayouts()) {
        SmartPtr<Image> ours = Parse(*parser, bytes);
        ASSERT_TRUE(ours) << what;
        WriteFile(path, bytes);
        const auto stb = ReadImageFile(path);
        ASSERT_TRUE(stb) << what << ": " << stb.error.description();
        EXPECT_TRUE(SameColors(stb.image, ours)) << what;
    }
}

class PilTest : public ::testing::Test {
protected:
    void SetUp() override {
        python_ = PythonWithPil();
        if (python_.empty())
            GTEST_SKIP() << "no python3 with PIL (Debian: python3-pil)";
    }

    // Checks that PIL reads the file at path as image: the same red, green and blue, and, when
    // mode is given, that mode and the same alpha (255 for RGB images).
    void ExpectPilSees(const SmartPtr<Image>& image, const std::string& path,
                       const std::string& mode = "") {
        std::optional<PilView> view = ReadWithPil(python_, path, directory_.path());
        ASSERT_TRUE(view);
        if (!mode.empty()) {
            EXPECT_EQ(view->mode, mode) << path;
        }
        ASSERT_EQ(view->width, image->GetWidth());
        ASSERT_EQ(view->height, image->GetHeight());
        ASSERT_EQ(view->pixels.size(), std::size_t{image->GetWidth()} * image->GetHeight());
        const std::size_t bytes = BytesPerPixel(image->GetFormat());
        for (std::size_t i = 0; i < view->pixels.size(); ++i) {
            const std::uint8_t* pixel = image->GetPixels() + i * bytes;
            std::array<int, 4> expected{pixel[0], pixel[1], pixel[2], bytes == 4 ? pixel[3] : 255};
            if (mode.empty())
                expected[3] = view->pixels[i][3];
            ASSERT_EQ(view->pixels[i], expected) << path << " pixel " << i;
        }
    }

    std::string python_;
    TempDirectory directory_;
};

TEST_F(PilTest, PilReadsWhatTheSaverAndWritePngWrite) {
    SmartPtr<ImageWriter> saver = LoadSaver();
    ASSERT_TRUE(saver);
    for (PixelFormat format : {RGB, RGBA}) {
        const char* mode = format == RGB ? "RGB" : "RGBA";
        SmartPtr<Image> image = MakeImage(7, 5, format, 11);
        WriteFile(directory_.File("saved.bmp"), Save(*saver, image));
        ExpectPilSees(image, directory_.File("saved.bmp"), mode);
        const kestrel::Error error =
            kestrel::images::WritePng(*image, directory_.File("written.png"));
        ASSERT_FALSE(error) << error.description();
        ExpectPilSees(image, directory_.File("written.png"), mode);
    }
}

TEST_F(PilTest, ModuleAndPilAgreeOnHandBuiltFiles) {
    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(parser);
    std::vector<std::pair<std::string, Bytes>> files = SharedLayouts();
    // Run-length files without skipped pixels, whose colors no reader may choose.
    BmpBuilder rle8{.width = 5,
                    .height = 2,
                    .bitCount = 8,
                    .compression = 1,
                    .colorsUsed = 4,
                    .palette = {{9, 9, 9}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
                    .pixels = {2, 1, 0, 3, 2, 3, 2, 0, 0, 0, 5, 3, 0, 1}};
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
        WriteFile(directory_.File("hand.bmp"), bytes);
        ExpectPilSees(ours, directory_.File("hand.bmp"));
    }
}

}  // namespace
