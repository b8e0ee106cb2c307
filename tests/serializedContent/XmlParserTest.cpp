#include "serializedContent/xmlwriter/XmlParser.h"

#include <gtest/gtest.h>

#include <string>

#include "Documents.h"

namespace {

// The content tree as one line: name(children...), properties as [count].
std::string Outline(const SerializedContentElement& element) {
    std::string out = element.GetName();
    if (element.IsOpen())
        out += "!open";
    if (!element.GetProperties().empty()) {
        out += "[" + std::to_string(element.GetProperties().size()) + "]";
    }
    if (element.GetChildCount() == 0)
        return out;
    out += "(";
    for (std::size_t i = 0; i < element.GetChildCount(); ++i) {
        if (i)
            out += " ";
        out += Outline(*element.GetChild(i));
    }
    return out + ")";
}

struct WalkCase {
    const char* name;
    const char* xml;
    const char* outline;
};

class ElementWalkTest : public testing::TestWithParam<WalkCase> {};

TEST_P(ElementWalkTest, BuildsTheContentTree) {
    EXPECT_EQ(Outline(*documents::Read(GetParam().xml)), GetParam().outline);
}

// clang-format off
const WalkCase kWalkCases[] = {
    {"RootNameAttributesTextIgnored", "<any a='1'>text<kestrel_sc:x/></any>", "figure(x)"},
    {"AnyPrefixAndNoPrefix", "<r><kestrel_sc:a/><other:a/><a/></r>", "figure(a a a)"},
    {"OnlyTheFirstColonEndsThePrefix", "<r><kestrel_sc:a:b/><x:y:z/></r>", "figure(a:b y:z)"},
    {"NameEndingInItsColon", "<r><kestrel_sc:/></r>", "figure()"},
    {"PropertyUnderTheRootIsContent",
     "<r><kestrel_sc:property type='int32' name='n'><kestrel_sc:inner/>"
     "</kestrel_sc:property><kestrel_sc:property_array/></r>", "figure(property(inner) property_array)"},
    {"PropertiesAreNotContent",
     "<r><kestrel_sc:a><kestrel_sc:property type='int32' name='n'>1"
     "</kestrel_sc:property><kestrel_sc:b/><kestrel_sc:property_array type='float' "
     "name='f' count='0'/></kestrel_sc:a></r>", "figure(a[2](b))"},
    {"RejectedPropertyLeavesSiblings",
     "<r><kestrel_sc:a><kestrel_sc:property name='n'/><kestrel_sc:b/>"
     "<kestrel_sc:property type='x'/><kestrel_sc:c/></kestrel_sc:a></r>", "figure(a(b c))"},
    {"NamesDifferingInCaseOrByALetterAreContent",
     "<r><kestrel_sc:a><kestrel_sc:Property type='int32' name='n'><kestrel_sc:i/>"
     "</kestrel_sc:Property><kestrel_sc:propert/><kestrel_sc:property_arrays/>"
     "<other:property/></kestrel_sc:a></r>", "figure(a(Property(i) propert property_arrays property))"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, ElementWalkTest, testing::ValuesIn(kWalkCases),
                         [](const testing::TestParamInfo<WalkCase>& info) {
                             return info.param.name;
                         });

// Null root or top: nothing is added, and the walk still succeeds.
TEST(XmlParserTest, NullRootOrTopAddsNothing) {
    serializedContent::XmlParser parser;
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    EXPECT_TRUE(parser.Parse(nullptr, top.get()));
    XmlElem* root = ParseXml("<r><a/></r>", false, nullptr);
    EXPECT_TRUE(parser.Parse(root, nullptr));
    FreeXml(root);
    EXPECT_EQ(top->GetChildCount(), 0u);
}

}  // namespace
