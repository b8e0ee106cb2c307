#include "ContentJson.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kernel/SerializedContentElement.h"

namespace {

using Tree = SmartPtr<SerializedContentElement>;

TEST(ContentJsonTest, ElementsNestAsObjectsWithNameAndChildren) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* a = top->StartContent("a:b");
    a->StartContent("\"quoted\" \xC3\xA9")->EndContent();
    a->EndContent();
    top->StartContent("")->EndContent();
    nlohmann::json json = nlohmann::json::parse(contentjson::WriteContentJson(*top));
    EXPECT_EQ(json, nlohmann::json::parse(R"({"name": "figure", "properties": [], "children": [
        {"name": "a:b", "properties": [], "children": [
            {"name": "\"quoted\" é", "properties": [], "children": []}]},
        {"name": "", "properties": [], "children": []}]})"));
}

TEST(ContentJsonTest, CompactIsOneLineAndBytesThatAreNotUtf8AreReplaced) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    top->StartContent("bad\xFF")->EndContent();
    std::string text = contentjson::WriteContentJson(*top, {0});
    EXPECT_EQ(text.find('\n'), text.size() - 1);
    nlohmann::json json = nlohmann::json::parse(text);
    EXPECT_EQ(json["children"][0]["name"], "bad\xEF\xBF\xBD");
}

TEST(ContentJsonTest, DeepTreesStayLinearInSize) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* current = top.get();
    constexpr std::size_t kDepth = 100000;
    for (std::size_t i = 0; i < kDepth; ++i)
        current = current->StartContent("n");
    std::string text = contentjson::WriteContentJson(*top);
    EXPECT_LT(text.size(), kDepth * 1000);
}

}  // namespace
