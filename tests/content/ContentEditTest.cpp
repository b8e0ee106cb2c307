#include "kestrel/edit/ContentEdit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utilities/SmartPtr.h"

namespace {

using namespace kestrel::edit;

SmartPtr<SerializedContentElement> Part() {
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    top->AddProperty("mass", 1.5);
    top->AddProperty("count", std::int32_t{3});
    top->AddProperty("tags", std::vector<float>{1, 2});
    return top;
}

std::string Names(const SerializedContentElement& element) {
    std::string names;
    for (const auto& property : element.GetProperties())
        names += std::string(property.name.view()) + ";";
    return names;
}

TEST(ContentEditTest, SetsValuesOfTheSameTypeOrAnyWhenAsked) {
    struct Row {
        std::size_t index;
        PropertyValue value;
        bool anyType;
        const char* message;  // empty: set
    } rows[] = {
        {0, 2.5, false, ""},
        {1, std::int32_t{-7}, false, ""},
        {2, std::vector<float>{}, false, ""},
        {1, 2.5, false, "property 'count' holds int32, not double"},
        {1, Symbol("x"), true, ""},
        {3, 1.0, false, "property index 3 is not below 3"},
    };
    for (const Row& row : rows) {
        auto top = Part();
        const std::vector<SerializedContentElement::Property> before = top->GetProperties();
        kestrel::Error error = SetPropertyValue(*top, row.index, row.value, row.anyType);
        EXPECT_EQ(error.message, row.message);
        EXPECT_EQ(Names(*top), "mass;count;tags;");
        for (std::size_t i = 0; i < before.size(); ++i) {
            const bool changed = !error && i == row.index;
            EXPECT_EQ(top->GetProperties()[i].value, changed ? row.value : before[i].value);
        }
    }
}

TEST(ContentEditTest, RemovesPropertiesByIndex) {
    struct Row {
        std::size_t index;
        const char* names;
        kestrel::Error::Code code;
    } rows[] = {
        {0, "count;tags;", kestrel::Error::None},
        {2, "mass;count;", kestrel::Error::None},
        {3, "mass;count;tags;", kestrel::Error::InvalidArgument},
    };
    for (const Row& row : rows) {
        auto top = Part();
        EXPECT_EQ(RemoveProperty(*top, row.index).code, row.code);
        EXPECT_EQ(Names(*top), row.names);
    }
}

// The removed child outlives its old tree with its subtree; the leak checker sees both freed.
TEST(ContentEditTest, RemovedChildrenLiveOnAsTreesOfTheirOwn) {
    auto top = Part();
    for (const char* name : {"a", "b", "c"})
        top->StartContent(name)->EndContent();
    top->GetChild(1)->StartContent("inner")->AddProperty("x", 1.0);

    EXPECT_EQ(RemoveChild(*top, 3).error.message, "child index 3 is not below 3");
    RemovedChild removed = RemoveChild(*top, 1);
    ASSERT_TRUE(removed) << removed.error.description();
    top = nullptr;
    EXPECT_EQ(removed.element->GetName(), Symbol("b"));
    EXPECT_EQ(removed.element->GetParent(), nullptr);
    ASSERT_EQ(removed.element->GetChildCount(), 1u);
    EXPECT_EQ(Names(*removed.element->GetChild(0)), "x;");

    auto again = Part();
    for (const char* name : {"a", "b"})
        again->StartContent(name)->EndContent();
    ASSERT_TRUE(RemoveChild(*again, 0));  // released at once
    ASSERT_EQ(again->GetChildCount(), 1u);
    EXPECT_EQ(again->GetChild(0)->GetName(), Symbol("b"));
}

}  // namespace
