// Images through the writer, XML text and the reader with the host's real BMP modules.
#include <gtest/gtest.h>

#include <string>

#include "ContentCompare.h"
#include "geometry/XmlElem.h"
#include "kernel/SerializedContentElement.h"
#include "kernel/SerializedContentVisitor.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "serializedContent/xmlwriter/XmlWriter.h"

namespace {

using Tree = SmartPtr<SerializedContentElement>;

Tree ReadText(const std::string& text) {
    XmlElem* root = ParseXml(text, false, nullptr);
    EXPECT_NE(root, nullptr);
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    serializedContent::XmlParser().Parse(root, top.get());
    FreeXml(root);
    return top;
}

SmartPtr<Image> Pattern(std::uint32_t width, std::uint32_t height, PixelFormat format) {
    SmartPtr<Image> image(new Image(width, height, format));
    for (std::size_t i = 0; i < image->GetPixelBytes(); ++i) {
        image->GetPixels()[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
    }
    return image;
}

struct ImageCase {
    const char* name;
    std::uint32_t width, height;
    PixelFormat format;
};

class ImageRoundTripTest : public testing::TestWithParam<ImageCase> {};

TEST_P(ImageRoundTripTest, PixelsComeBackUnchanged) {
    const ImageCase& c = GetParam();
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* element = top->StartContent("e");
    element->AddProperty("image", Pattern(c.width, c.height, c.format));
    element->AddProperty("after", std::int32_t{1});
    element->EndContent();
    XmlElem* root = NewXmlElem(Symbol("kestrel_sc:figure"), false);
    serializedContent::XmlWriter writer(root);
    WalkContent(*top, writer, WalkTop::ContentsOnly);
    const std::string text = WriteXml(*root);
    FreeXml(root);
    EXPECT_NE(text.find("type=\"image\" name=\"image\" format=\"bmp\">Qk"), std::string::npos);
    Tree back = ReadText(text);
    EXPECT_EQ(contentcompare::FirstDifference(*top, *back), "");
}

INSTANTIATE_TEST_SUITE_P(Images, ImageRoundTripTest,
                         testing::Values(ImageCase{"Rgba", 64, 48, PixelFormat::RGBA8},
                                         ImageCase{"Rgb", 64, 48, PixelFormat::RGB8},
                                         ImageCase{"OddWidthRgb", 7, 5, PixelFormat::RGB8},
                                         ImageCase{"OddWidthRgba", 3, 9, PixelFormat::RGBA8},
                                         ImageCase{"OnePixel", 1, 1, PixelFormat::RGB8},
                                         ImageCase{"Large", 1500, 1000, PixelFormat::RGBA8}),
                         [](const testing::TestParamInfo<ImageCase>& info) {
                             return info.param.name;
                         });

class CorruptImageTest : public testing::TestWithParam<std::string> {};

TEST_P(CorruptImageTest, IsLeftOutAndTheRestLoads) {
    Tree back =
        ReadText("<r><kestrel_sc:e><kestrel_sc:property type='image' name='i'>" + GetParam() +
                 "</kestrel_sc:property><kestrel_sc:property type='int32' name='after'>"
                 "1</kestrel_sc:property></kestrel_sc:e></r>");
    const auto& properties = back->GetChild(0)->GetProperties();
    ASSERT_EQ(properties.size(), 1u);
    EXPECT_EQ(std::string(properties[0].name), "after");
}

INSTANTIATE_TEST_SUITE_P(Payloads, CorruptImageTest,
                         testing::Values("", "Qk0=", "Qk0AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA==",
                                         "not*base64", "////////////////",
                                         // A header promising a 65535 x 65535 image.
                                         "Qk02AAAAAAAAADYAAAAoAAAA//8AAP//AAABABgAAAAAAAAAAAA="));

}  // namespace
