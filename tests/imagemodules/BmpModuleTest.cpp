// The BMP saver and loader, loaded as the platform loads them (through the loader framework), and
// checked against decoders written by others: stb_image (through ReadImageFile) and PIL.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
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
const Rgb r{255, 0, 0}, g{0, 255, 0}, b{0, 0, 255}, w{255, 255, 255}, k{0, 0, 0}, o{10, 20, 30},
    z{9, 9, 9};
using Files = std::vector<std::pair<std::string, Bytes>>;

class BmpModuleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(saver_ && parser_); }
    SmartPtr<Image> ParseBytes(const Bytes& bytes) { return Parse(*parser_, bytes); }

    SmartPtr<ImageWriter> saver_ = LoadSaver();
    SmartPtr<ImageParser> parser_ = LoadParser();
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

// Each request makes a component of the class its role names; the factory leaves a refused
// component alone.
TEST(BmpModuleLibraryTest, LoaderGivesSaverAndLoaderAndNothingElse) {
    SmartPtr<ImageWriter> saver = LoadSaver();
    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(saver && parser);
    EXPECT_EQ(dynamic_cast<ImageParser*>(saver.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ImageWriter*>(parser.get()), nullptr);
    EXPECT_NE(LoadSaver().get(), saver.get());
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

// RGB rows are padded with zeros to 4 bytes after a 40-byte header, RGBA ones follow a 108-byte
// header; alpha 0 throughout stays RGBA; the largest dimension the format allows reads back.
TEST_F(BmpModuleTest, SavedImagesArePaddedAndReadBackExactly) {
    const struct {
        std::uint32_t width, height;
        bool clear;  // every alpha byte 0
    } rows[] = {{1, 1, false}, {3, 3, false},     {37, 23, false},
                {4, 3, true},  {65535, 1, false}, {1, 65535, false}};
    for (const auto& row : rows) {
        for (PixelFormat format : {RGB, RGBA}) {
            SCOPED_TRACE(testing::Message() << row.width << " x " << row.height << " "
                                            << PixelFormatName(format) << " " << row.clear);
            SmartPtr<Image> image = MakeImage(row.width, row.height, format, row.width);
            for (std::size_t i = 3; format == RGBA && row.clear && i < image->GetPixelBytes();
                 i += 4)
                image->GetPixels()[i] = 0;
            const Bytes bytes = Save(*saver_, image);
            const std::size_t pixelBytes = row.width * BytesPerPixel(format);
            const std::size_t stride = (pixelBytes + 3) / 4 * 4;
            const std::size_t offset = format == RGB ? 54 : 122;
            ASSERT_EQ(bytes.size(), offset + stride * row.height);
            EXPECT_EQ(Get32(bytes, 2), bytes.size());
            EXPECT_EQ(Get32(bytes, 10), offset);
            for (std::size_t y = 0; y < row.height; ++y) {
                for (std::size_t i = pixelBytes; i < stride; ++i)
                    ASSERT_EQ(bytes[offset + y * stride + i], 0) << y << " " << i;
            }
            EXPECT_TRUE(SameImage(image, ParseBytes(bytes)));
        }
    }
}

TEST_F(BmpModuleTest, SaverRefusesWhatItCannotWriteAndLeavesTheOutputsAlone) {
    for (const SmartPtr<Image>& image :
         {SmartPtr<Image>(), SmartPtr<Image>(new Image(0, 4, RGB)),
          SmartPtr<Image>(new Image(4, 0, RGB)), SmartPtr<Image>(new Image(1, 65536, RGBA))}) {
        std::uint64_t byteCount = 12345;
        const char* bytes = "untouched";
        EXPECT_FALSE(saver_->Write(image, byteCount, bytes));
        EXPECT_EQ(byteCount, 12345u);
        EXPECT_STREQ(bytes, "untouched");
    }
}

// The saved bytes stay valid until the saver's next successful Write: other savers and a refused
// Write leave them alone, and the loader reads them in place.
TEST_F(BmpModuleTest, SavedBytesStayValidUntilTheNextWrite) {
    std::uint64_t count = 0, refusedCount = 0;
    const char *bytes = nullptr, *refusedBytes = nullptr;
    ASSERT_TRUE(saver_->Write(MakeImage(9, 4, RGB), count, bytes));
    const Bytes copy(bytes, bytes + count);
    ASSERT_FALSE(Save(*LoadSaver(), MakeImage(3, 8, RGBA)).empty());
    EXPECT_FALSE(saver_->Write(nullptr, refusedCount, refusedBytes));
    ASSERT_EQ(Bytes(bytes, bytes + count), copy);
    SmartPtr<Image> parsed;
    ASSERT_TRUE(parser_->Parse(parsed, count, bytes));
    EXPECT_TRUE(SameImage(MakeImage(9, 4, RGB), parsed));
}

// Palette entry 0 is not black, so that pixels the data skips (black) are told apart from it.
const std::vector<Rgb> kRlePalette{z, r, g, b, o, w, w, w, w, w, w, w, w, w, w, w};

// clang-format off
BmpBuilder Rle8File() {
    return {.width = 6, .height = 3, .bitCount = 8, .compression = 1, .colorsUsed = 16, .palette = kRlePalette,
            .pixels = {3, 1,           // bottom row: three of 1
                       0, 3, 2, 3, 2,  // then three literal pixels
                       0,              // padding to 16 bits
                       9, 4,           // a run past the row's end is cut there
                       0, 0,           // end of line
                       0, 2, 2, 1,     // skip 2 right and 1 up: the middle row stays black
                       2, 0,           // top row from x = 2: two of 0
                       0, 1}};         // end of bitmap
}

// Bottom row 1 2 1 2 1, end of line; three literal nibbles 3 1 2, a run of two 4s, end of bitmap.
BmpBuilder Rle4File() {
    return {.width = 5, .height = 2, .bitCount = 4, .compression = 2, .palette = kRlePalette,
            .pixels = {5, 0x12, 0, 0, 0, 3, 0x31, 0x20, 2, 0x44, 0, 1}};
}
// clang-format on

// Every layout the loader reads, with the image it must give, and files it must refuse (null):
// wrong magic, pixel offsets outside the file, inconsistent headers and absurd dimensions (refused
// before allocating: nothing but a few bytes of pixels stand behind those headers).
std::vector<std::pair<BmpBuilder, SmartPtr<Image>>> Corpus() {
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
    BmpBuilder rleSparseEnough = rleSparse, rleHuge = Rle8File();
    rleSparseEnough.pixels.resize(16, 0);  // 65536 pixels a byte is still taken
    rleHuge.width = rleHuge.height = 16385;
    const Bytes zeros(16, 0), four(4, 0);
    // clang-format off
    return {
        {{.width = 3, .height = 2, .pixels = PaddedRows({Bgr({w, k, o}), Bgr({r, g, b})})}, RgbImage({{r, g, b}, {w, k, o}})},
        {{.width = 3, .height = -2, .pixels = PaddedRows({Bgr({r, g, b}), Bgr({w, k, o})})}, RgbImage({{r, g, b}, {w, k, o}})},
        // 32-bit BI_RGB is RGB when every fourth byte is zero, else RGBA.
        {{.width = 2, .height = -2, .bitCount = 32, .pixels = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 30, 20, 10, 0}},
         RgbImage({{r, g}, {b, o}})},
        {{.width = 2, .height = -2, .bitCount = 32, .pixels = {0, 0, 255, 0, 0, 255, 0, 128, 255, 0, 0, 255, 30, 20, 10, 7}},
         Pixels(2, 2, RGBA, {255, 0, 0, 0, 0, 255, 0, 128, 0, 0, 255, 255, 10, 20, 30, 7})},
        {{.width = 2, .bitCount = 32, .compression = 3, .masks = {0xFF, 0xFF00, 0xFF0000}, .pixels = {10, 20, 30, 99, 1, 2, 3, 99}},
         RgbImage({{o, Rgb{1, 2, 3}}})},
        {{.width = 2, .bitCount = 32, .compression = 6, .masks = argb, .pixels = bgra}, rgba},  // BI_ALPHABITFIELDS
        {{.headerBytes = 56, .width = 2, .bitCount = 32, .compression = 3, .masks = argb, .pixels = bgra}, rgba},
        {{.headerBytes = 124, .bitCount = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0}, .pixels = {30, 20, 10, 40}},
         RgbImage({{o}})},
        // 16-bit BI_RGB: 5 bits each, top bit unused.
        {{.width = 4, .bitCount = 16, .pixels = {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x00, 0x00, 0x80}}, RgbImage({{w, r, Rgb{0, 0, 132}, k}})},
        {{.headerBytes = 56, .width = 2, .bitCount = 16, .compression = 3, .masks = {0x0F00, 0x00F0, 0x000F, 0xF000},
          .pixels = {0x0F, 0xFF, 0x00, 0x8F}}, Pixels(2, 1, RGBA, {255, 0, 255, 255, 255, 0, 0, 136})},
        // An index past the palette reads as black.
        {{.width = 5, .height = 2, .bitCount = 8, .colorsUsed = 3, .palette = {r, g, o},
          .pixels = PaddedRows({{2, 2, 2, 2, 2}, {0, 1, 2, 7, 0}})}, RgbImage({{r, g, o, k, r}, {o, o, o, o, o}})},
        {Rle8File(), RgbImage({{k, k, z, z, k, k}, {k, k, k, k, k, k}, {r, r, r, g, b, g}})},
        {Rle4File(), RgbImage({{b, r, g, o, o}, {r, g, r, g, r}})},
        {rleEnded, RgbImage({{b, b, b, b, b, b}, {g, g, g, g, g, g}, {r, r, r, r, r, r}})},
        {rleSparseEnough, Pixels(1024, 1024, RGB, Bytes(3 << 20, 0))},
        {rleTopDown, nullptr}, {rleShort, nullptr}, {rleSparse, nullptr}, {rleHuge, nullptr},
        // A valid 2 x 2 24-bit file with one field wrong: header size, planes, bits, compression.
        {{.headerBytes = 41, .width = 2, .height = 2, .pixels = zeros}, nullptr},
        {{.width = 2, .height = 2, .planes = 2, .pixels = zeros}, nullptr},
        {{.width = 2, .height = 2, .bitCount = 33, .pixels = zeros}, nullptr},
        {{.width = 2, .height = 2, .compression = 1, .pixels = zeros}, nullptr},
        {{.headerBytes = 64, .width = 2, .height = 2, .bitCount = 1, .compression = 3, .palette = {r, b}, .pixels = zeros},
         nullptr},  // os/2 huffman
        {{.headerBytes = 12, .width = 2, .height = 2, .bitCount = 32, .pixels = zeros}, nullptr},
        // Masks: zero, split, overlapping, past 16 bits; alpha bitfields in a V2 header.
        {{.width = 2, .height = 2, .bitCount = 32, .compression = 3, .masks = {0, 0xFF00, 0xFF}, .pixels = zeros}, nullptr},
        {{.width = 2, .height = 2, .bitCount = 32, .compression = 3, .masks = {0xF00F0000, 0xFF00, 0xFF}, .pixels = zeros}, nullptr},
        {{.width = 2, .height = 2, .bitCount = 32, .compression = 3, .masks = {0xFFFF00, 0xFF00, 0xFF}, .pixels = zeros}, nullptr},
        {{.width = 2, .height = 2, .bitCount = 16, .compression = 3, .masks = {0x1F0000, 0x7E0, 0x1F}, .pixels = zeros}, nullptr},
        {{.headerBytes = 52, .width = 2, .height = 2, .bitCount = 32, .compression = 6, .masks = {0xFF0000, 0xFF00, 0xFF},
          .pixels = zeros}, nullptr},
        {{.width = 2, .height = 2, .pixels = Bytes(14, 0)}, nullptr},  // the last row's padding missing
        // The palette, and masks after a 40-byte header, must come before the pixels.
        {{.bitCount = 8, .palette = {r}, .pixels = four, .pixelOffset = 54}, nullptr},
        {{.bitCount = 8, .palette = {r}, .pixels = four, .pixelOffset = 57}, nullptr},  // not one whole entry
        {{.bitCount = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .pixels = four, .pixelOffset = 54}, nullptr},
        // Core headers hold 16-bit sizes: 65535 is the most they say, still more than the data.
        {{.headerBytes = 12, .width = 65535, .height = 65535, .pixels = Bytes(64, 0)}, nullptr},
    };
    // clang-format on
}

TEST_F(BmpModuleTest, ReadsOrRefusesEveryFileOfTheCorpus) {
    int row = 0;
    for (const auto& [file, expected] : Corpus()) {
        SmartPtr<Image> image = ParseBytes(file.Build());
        EXPECT_TRUE(expected ? SameImage(expected, image) : !image) << "row " << row++;
    }
    const Bytes rgb = Save(*saver_, MakeImage(2, 2, RGB));
    Bytes corrupt = rgb;
    corrupt[0] = 'b';
    EXPECT_FALSE(ParseBytes(corrupt));
    const auto size = static_cast<std::uint32_t>(rgb.size());
    for (std::uint32_t offset : {0u, 53u, 55u, size, ~0u}) {
        corrupt = rgb;
        Put32(corrupt, 10, offset);
        EXPECT_FALSE(ParseBytes(corrupt)) << "pixel offset " << offset;
    }
    const std::int32_t kMin = static_cast<std::int32_t>(0x80000000);
    const std::pair<std::int32_t, std::int32_t> sizes[] = {
        {0, 1},         {1, 0},          {-5, -5},  {65536, 1},     {1, -65536}, {16385, 16385},
        {65535, 65535}, {0x7FFFFFFF, 1}, {1, kMin}, {16384, 16384},  // within the limits, but the
                                                                     // pixels are not there
    };
    for (const auto& [width, height] : sizes) {
        for (std::uint16_t bits : {1, 24, 32}) {
            BmpBuilder file{
                .width = width, .height = height, .bitCount = bits, .pixels = Bytes(64, 0)};
            if (bits == 1)
                file.palette = {r, b};
            EXPECT_FALSE(ParseBytes(file.Build())) << width << " x " << height << " " << bits;
        }
    }
}

// Files in every layout both the module and stb read; pixel values stay away from palette ends
// and from 16-bit channel values the two may scale one apart.
Files SharedLayouts() {
    const std::vector<Rgb> c{r, g, b, o, {200, 100, 50}, w, k, {1, 2, 3}};
    std::vector<Rgb> palette16 = c, palette256 = c;
    palette16.resize(16, Rgb{50, 60, 70});
    palette256.resize(256, k);
    const Bytes rows =
        PaddedRows({Bgr({c[0], c[1], c[2]}), Bgr({c[3], c[4], c[5]}), Bgr({c[6], c[7], c[0]})});
    // clang-format off
    const std::vector<std::pair<std::string, BmpBuilder>> files{
        {"24-bit bottom-up", {.width = 3, .height = 3, .pixels = rows}},
        {"24-bit top-down", {.width = 3, .height = -3, .pixels = rows}},
        {"8-bit palette of 8", {.width = 5, .height = 2, .bitCount = 8, .colorsUsed = 8, .palette = c,
                                .pixels = PaddedRows({{0, 1, 2, 3, 4}, {7, 6, 5, 4, 3}})}},
        {"4-bit palette", {.width = 7, .height = -2, .bitCount = 4, .palette = palette16,
                           .pixels = PaddedRows({{0x01, 0x23, 0x45, 0x60}, {0xFE, 0xDC, 0xBA, 0x90}})}},
        {"1-bit palette", {.width = 11, .height = 2, .bitCount = 1, .palette = {c[3], c[4]},
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
    Files built;
    for (const auto& [name, file] : files)
        built.emplace_back(name, file.Build());
    return built;
}

TEST_F(BmpModuleTest, FailedParsesLeaveTheImageAlone) {
    SmartPtr<Image> previous = MakeImage(2, 2, RGB), image = previous;
    EXPECT_FALSE(parser_->Parse(image, 0, "BM"));
    EXPECT_FALSE(parser_->Parse(image, 10, nullptr));
    EXPECT_FALSE(parser_->Parse(image, 3, "BMx"));
    EXPECT_EQ(image.get(), previous.get());
}

// Valid files of every layout the loader reads, for cutting and corrupting.
Files ValidFiles(ImageWriter& saver) {
    Files files = SharedLayouts();
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
                ASSERT_GT(image->GetWidth() * image->GetHeight(), 0u) << what;
                ASSERT_EQ(image->GetPixelBytes(), image->GetRowBytes() * image->GetHeight())
                    << what;
            }
        }
    }
    EXPECT_GT(accepted, 0);  // most flips hit pixels, which still make an image
    // Random bytes after the magic, with plausible header sizes so that later checks are reached.
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(18 + random() % 200);
        for (std::uint8_t& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        bytes[0] = 'B';
        bytes[1] = 'M';
        const std::uint32_t sizes[] = {12, 40, 52, 56, 64, 108, 124};
        Put32(bytes, 14, sizes[round % 7]);
        ParseBytes(bytes);
    }
}

// Same size and the same red, green and blue, whatever the formats.
::testing::AssertionResult SameColors(const Image& a, const Image& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return ::testing::AssertionFailure() << "sizes differ";
    const std::size_t na = BytesPerPixel(a.GetFormat()), nb = BytesPerPixel(b.GetFormat());
    for (std::size_t y = 0; y < a.GetHeight(); ++y) {
        for (std::size_t x = 0; x < a.GetWidth(); ++x) {
            for (std::size_t c = 0; c < 3; ++c) {
                const int pa = a.GetPixels()[y * a.GetRowBytes() + x * na + c];
                const int pb = b.GetPixels()[y * b.GetRowBytes() + x * nb + c];
                if (pa != pb)
                    return ::testing::AssertionFailure()
                           << x << ", " << y << ", " << c << ": " << pa << " and " << pb;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_F(BmpModuleTest, StbReadsWhatTheSaverWritesAndAgreesWithTheLoader) {
    TempDirectory directory;
    const std::string path = directory.File("file.bmp");
    for (PixelFormat format : {RGB, RGBA}) {
        for (std::uint32_t width : {1u, 2u, 3u, 4u}) {
            SmartPtr<Image> image = MakeImage(width, 5, format, width);
            WriteFile(path, Save(*saver_, image));
            const auto read = ReadImageFile(path);
            EXPECT_TRUE(SameImage(image, read.image))
                << PixelFormatName(format) << " " << width << ": " << read.error.description();
        }
    }
    for (const auto& [what, bytes] : SharedLayouts()) {
        SmartPtr<Image> ours = ParseBytes(bytes);
        ASSERT_TRUE(ours) << what;
        WriteFile(path, bytes);
        const auto stb = ReadImageFile(path);
        ASSERT_TRUE(stb) << what << ": " << stb.error.description();
        EXPECT_TRUE(SameColors(*stb.image, *ours)) << what;
    }
}

// A Python interpreter that has the Python Imaging Library; empty when there is none.
std::string PythonWithPil() {
    static const std::string found = [] {
        for (const char* candidate : {"python3", "/usr/bin/python3"}) {
            if (std::system((std::string(candidate) + " -c \"import PIL.Image\" >/dev/null 2>&1")
                                .c_str()) == 0)
                return std::string(candidate);
        }
        return std::string();
    }();
    return found;
}

class PilTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PythonWithPil().empty())
            GTEST_SKIP() << "no python3 with PIL (Debian: python3-pil)";
    }

    // Checks that PIL reads the file at path as image: the same channels of every pixel (red,
    // green and blue only unless checkMode), and with checkMode the mode of the image's format.
    void ExpectPilSees(const Image& image, const std::string& path, bool checkMode) {
        const std::string script = dir_.File("dump.py"), out = dir_.File("dump.txt");
        const char* mode = checkMode && image.GetFormat() == RGBA ? "RGBA" : "RGB";
        std::ofstream(script)
            << "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
               "print(im.mode if sys.argv[3] == '1' else '-', *im.size, *[c for p "
               "in im.convert(sys.argv[2]).getdata() for c in p])\n";
        const std::string command = PythonWithPil() + " \"" + script + "\" \"" + path + "\" " +
                                    mode + " " + (checkMode ? "1" : "0") + " > \"" + out +
                                    "\" 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command << "\n"
                                                   << Bytes2String(ReadFile(out));
        std::ostringstream expected;
        expected << (checkMode ? mode : "-") << " " << image.GetWidth() << " " << image.GetHeight();
        const std::size_t channels = checkMode ? BytesPerPixel(image.GetFormat()) : 3;
        for (std::size_t i = 0; i < image.GetPixelBytes(); ++i) {
            if (i % BytesPerPixel(image.GetFormat()) < channels)
                expected << " " << int(image.GetPixels()[i]);
        }
        EXPECT_EQ(Bytes2String(ReadFile(out)), expected.str() + "\n") << path;
    }
    static std::string Bytes2String(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

    TempDirectory dir_;
};

TEST_F(PilTest, PilReadsWhatTheSaverAndWritePngWrite) {
    SmartPtr<ImageWriter> saver = LoadSaver();
    ASSERT_TRUE(saver);
    for (PixelFormat format : {RGB, RGBA}) {
        SmartPtr<Image> image = MakeImage(7, 5, format, 11);
        WriteFile(dir_.File("saved.bmp"), Save(*saver, image));
        ExpectPilSees(*image, dir_.File("saved.bmp"), true);
        const kestrel::Error error = kestrel::images::WritePng(*image, dir_.File("written.png"));
        ASSERT_FALSE(error) << error.description();
        ExpectPilSees(*image, dir_.File("written.png"), true);
    }
}

TEST_F(PilTest, ModuleAndPilAgreeOnHandBuiltFiles) {
    SmartPtr<ImageParser> parser = LoadParser();
    ASSERT_TRUE(parser);
    Files files = SharedLayouts();
    // Run-length files without skipped pixels, whose colors no reader may choose.
    BmpBuilder rle8{.width = 5,
                    .height = 2,
                    .bitCount = 8,
                    .compression = 1,
                    .colorsUsed = 4,
                    .palette = {z, r, g, b},
                    .pixels = {2, 1, 0, 3, 2, 3, 2, 0, 0, 0, 5, 3, 0, 1}};
    files.emplace_back("rle8", rle8.Build());
    rle8.bitCount = 4;
    rle8.compression = 2;
    // PIL 9 reads a literal of an odd number of nibbles one short, so this one is even.
    rle8.pixels = {5, 0x12, 0, 0, 0, 4, 0x31, 0x23, 1, 0x10, 0, 1};
    files.emplace_back("rle4", rle8.Build());
    for (const auto& [what, bytes] : files) {
        SmartPtr<Image> ours = Parse(*parser, bytes);
        ASSERT_TRUE(ours) << what;
        WriteFile(dir_.File("hand.bmp"), bytes);
        ExpectPilSees(*ours, dir_.File("hand.bmp"), false);
    }
}

}  // namespace
