#include "kestrel/paths/ContentPath.h"

#include <gtest/gtest.h>

#include "kernel/SerializedContentElement.h"
#include "utilities/SmartPtr.h"

namespace {

using namespace kestrel::paths;

SmartPtr<SerializedContentElement> Bicycle() {
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* bicycle = top->StartContent("bicycle");
    bicycle->StartContent("frame")->EndContent();
    bicycle->StartContent("wheel")->EndContent();
    bicycle->StartContent("wheel")->EndContent();
    bicycle->EndContent();
    return top;
}

// Of siblings sharing a name, the first counts; what is missing is made.
TEST(ContentPathTest, FindsAndMakesElementsAndNamesThemFromTheTop) {
    auto top = Bicycle();
    SerializedContentElement* frame = FindElement(*top, "bicycle/frame");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->GetName(), std::string("frame"));
    EXPECT_EQ(FindElement(*top, "/bicycle/frame"), frame);
    EXPECT_EQ(FindElement(*top, "figure/bicycle/frame"), frame);
    EXPECT_EQ(FindElement(*top, ""), top.get());
    EXPECT_EQ(FindElement(*top, "bicycle/saddle"), nullptr);
    EXPECT_EQ(FindElement(*top, "bicycle/wheel"), top->GetChild(0)->GetChild(1));
    EXPECT_EQ(MakeElement(*top, "bicycle/frame"), frame);
    SerializedContentElement* bell = MakeElement(*top, "bicycle/handlebar/bell");
    EXPECT_EQ(FindElement(*top, "bicycle/handlebar/bell"), bell);
    EXPECT_EQ(PathOf(*top), "figure");
    EXPECT_EQ(PathOf(*bell), "figure/bicycle/handlebar/bell");
}

}  // namespace
