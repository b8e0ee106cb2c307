// The image property through test loader frameworks that offer, lack or misplace the modules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Documents.h"
#include "kernel/ImageModules.h"
#include "kernel/Loader.h"
#include "utilities/Base64.h"

namespace {

// Saves an image as "BM" and its width, and reads that back into a width x 1 image; fails when
// told to (setting the outputs all the same, which must then be ignored).
class FakeSaver : public ImageWriter {
public:
    explicit FakeSaver(bool succeed) : succeed_(succeed) {}
    bool Write(const SmartPtr<Image>& image, std::uint64_t& byteCount,
               const char*& bytes) override {
        sawNull = !image;
        sawZeroedOutputs = byteCount == 0 && bytes == nullptr;
        buffer_ = "BM" + std::to_string(image ? image->GetWidth() : 0);
        byteCount = buffer_.size();
        bytes = buffer_.data();
        return succeed_;
    }
    bool sawNull = false, sawZeroedOutputs = false;

private:
    bool succeed_;
    std::string buffer_;
};

class FakeLoader : public ImageParser {
public:
    explicit FakeLoader(bool succeed) : succeed_(succeed) {}
    bool Parse(SmartPtr<Image>& image, std::uint64_t byteCount, const char* bytes) override {
        seen.assign(bytes, bytes + byteCount);
        ++calls;
        if (!succeed_ || seen.rfind("BM", 0) != 0)
            return false;
        image = SmartPtr<Image>(new Image(std::stoul(seen.substr(2)), 1, PixelFormat::RGB8));
        return true;
    }
    std::string seen;
    int calls = 0;

private:
    bool succeed_;
};

enum class Offer { NoFramework, Nothing, WrongClass, Failing, Working };

// A loader framework offering the "bmp" modules as told, and counting requests.
class TestFramework : public Loader {
public:
    explicit TestFramework(Offer offer) : offer_(offer) {}
    bool LoadModule(const Symbol& role, const Symbol& family, const Symbol& format,
                    SmartPtr<RefCounted>& module) override {
        requests.push_back(std::string(role) + "/" + std::string(family) + "/" +
                           std::string(format));
        const bool succeed = offer_ == Offer::Working;
        if (offer_ == Offer::NoFramework || offer_ == Offer::Nothing)
            return false;
        if (offer_ == Offer::WrongClass)
            module = SmartPtr<RefCounted>(new RefCounted);
        else if (role == std::string("saver"))
            module = saver = SmartPtr<FakeSaver>(new FakeSaver(succeed));
        else
            module = loader = SmartPtr<FakeLoader>(new FakeLoader(succeed));
        return true;
    }
    std::vector<std::string> requests;
    SmartPtr<FakeSaver> saver;
    SmartPtr<FakeLoader> loader;

private:
    Offer offer_;
};

class ImagePropertyTest : public testing::Test {
protected:
    void TearDown() override { Loader::SetLoader(previous_); }
    void Install(SmartPtr<Loader> framework) {
        Loader::GetLoader();  // made now, so that the framework put back afterwards is the real one
        previous_ = Loader::SetLoader(framework);
    }

    // Writes one image property and gives the property element's attributes and text.
    std::string Write(const SmartPtr<Image>& image) {
        XmlElem* root = NewXmlElem(Symbol("r"), false);
        serializedContent::XmlWriter(root).Visit(Symbol("logo"), image);
        const XmlElem* element = root->GetChild(0);
        std::string out;
        for (std::size_t i = 0; i < element->GetAttributeCount(); ++i) {
            out += std::string(element->GetAttributeName(i)) + "=" + element->GetAttributeText(i) +
                   " ";
        }
        out += "[" + element->GetText() + "]";
        FreeXml(root);
        return out;
    }

    // Reads an image property element and gives the number of properties stored.
    std::size_t Read(const std::string& element) {
        stored_ = documents::ReadElement(element);
        return stored_->GetChild(0)->GetProperties().size();
    }

    SmartPtr<SerializedContentElement> stored_;
    SmartPtr<Loader> previous_;
};

const std::string kBare = "type=image name=logo []";

struct StopCase {
    const char* name;
    Offer offer;
};

class ImageStopTest : public ImagePropertyTest, public testing::WithParamInterface<StopCase> {};

TEST_P(ImageStopTest, EveryStopLeavesTypeAndNameOnlyAndReadsNothing) {
    SmartPtr<TestFramework> framework(new TestFramework(GetParam().offer));
    Install(GetParam().offer == Offer::NoFramework ? SmartPtr<Loader>() : framework);
    EXPECT_EQ(Write(SmartPtr<Image>(new Image(3, 1, PixelFormat::RGB8))), kBare);
    const std::string encoded = Base64::Encode("BM3", 3);
    EXPECT_EQ(Read("<kestrel_sc:property type='image' name='logo' format='bmp'>" + encoded +
                   "</kestrel_sc:property>"),
              0u);
    if (GetParam().offer != Offer::NoFramework) {
        EXPECT_EQ(framework->requests,
                  (std::vector<std::string>{"saver/image/bmp", "loader/image/bmp"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Offers, ImageStopTest,
                         testing::Values(StopCase{"NoFramework", Offer::NoFramework},
                                         StopCase{"ModuleMissing", Offer::Nothing},
                                         StopCase{"WrongClass", Offer::WrongClass},
                                         StopCase{"WriteAndParseFail", Offer::Failing}),
                         [](const testing::TestParamInfo<StopCase>& info) {
                             return info.param.name;
                         });

TEST_F(ImagePropertyTest, SavedBytesTravelAsBase64AndComeBack) {
    SmartPtr<TestFramework> framework(new TestFramework(Offer::Working));
    Install(framework);
    const std::string written = Write(SmartPtr<Image>(new Image(42, 1, PixelFormat::RGB8)));
    EXPECT_EQ(written, "type=image name=logo format=bmp [" + Base64::Encode("BM42", 4) + "]");
    EXPECT_TRUE(framework->saver->sawZeroedOutputs);
    ASSERT_EQ(Read("<kestrel_sc:property type='image' name='logo'>" + Base64::Encode("BM42", 4) +
                   "</kestrel_sc:property>"),
              1u);
    EXPECT_EQ(framework->loader->seen, "BM42");
    const auto& image = std::get<SmartPtr<Image>>(stored_->GetChild(0)->GetProperties()[0].value);
    EXPECT_EQ(image->GetWidth(), 42u);
    // A null image reaches the saver unchanged.
    EXPECT_EQ(Write(SmartPtr<Image>()),
              "type=image name=logo format=bmp [" + Base64::Encode("BM0", 3) + "]");
    EXPECT_TRUE(framework->saver->sawNull);
}

TEST_F(ImagePropertyTest, EmptyTextAndAnyFormatStillAskTheBmpLoader) {
    SmartPtr<TestFramework> framework(new TestFramework(Offer::Working));
    Install(framework);
    EXPECT_EQ(Read("<kestrel_sc:property type='image' name='logo' format='png' value='x'/>"), 0u);
    EXPECT_EQ(framework->loader->calls, 1);
    EXPECT_EQ(framework->loader->seen, "");
    EXPECT_EQ(framework->requests, std::vector<std::string>{"loader/image/bmp"});
}

}  // namespace
