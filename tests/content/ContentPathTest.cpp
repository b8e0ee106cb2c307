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

// One row per outcome of a path with or without "@property".
TEST(ContentPathTest, ResolvesElementsAndPropertiesAsGetDoes) {
    auto top = Bicycle();
    SerializedContentElement* frame = FindElement(*top, "bicycle/frame");
    frame->AddProperty("mass", 1.5);
    frame->AddProperty("tag", Symbol("a"));
    frame->AddProperty("tag", Symbol("b"));
    struct Row {
        const char* path;
        SerializedContentElement* element;
        int propertyIndex;  // -1: no property named
        const char* message;
    } rows[] = {
        {"bicycle/frame", frame, -1, ""},
        {"bicycle/frame@mass", frame, 0, ""},
        {"bicycle/frame@tag", frame, 1, ""},
        {"@", top.get(), -2, "'figure' has no property ''"},
        {"bicycle/frame@colour", frame, -2, "'figure/bicycle/frame' has no property 'colour'"},
        {"bicycle/saddle@mass", nullptr, -2, "no element at 'bicycle/saddle'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        PathTarget target = Resolve(*top, row.path);
        EXPECT_EQ(target.element, row.element);
        EXPECT_EQ(static_cast<bool>(target), row.propertyIndex > -2);
        EXPECT_EQ(target.error.message, row.message);
        EXPECT_EQ(target.error.code,
                  row.propertyIndex > -2 ? kestrel::Error::None : kestrel::Error::NotFound);
        if (row.propertyIndex >= 0) {
            EXPECT_EQ(target.propertyIndex, static_cast<std::size_t>(row.propertyIndex));
            EXPECT_EQ(target.property, &frame->GetProperties()[target.propertyIndex]);
        } else {
            EXPECT_EQ(target.property, nullptr);
        }
    }
}

}  // namespace
