#include "geometry/XmlElem.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct FreeXmlDeleter {
    void operator()(XmlElem* root) const { FreeXml(root); }
};
using XmlTree = std::unique_ptr<XmlElem, FreeXmlDeleter>;

XmlTree Parse(const std::string& text, std::string* error = nullptr) {
    return XmlTree(ParseXml(text, false, error));
}

struct MalformedCase {
    const char* text;
    const char* position;  // expected "line:column" at the start of the error
};

class ParseXmlMalformedTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(ParseXmlMalformedTest, GivesNullAndLineColumn) {
    std::string error;
    EXPECT_EQ(Parse(GetParam().text, &error), nullptr);
    EXPECT_EQ(error.rfind(GetParam().position, 0), 0u) << error;
    EXPECT_EQ(Parse(GetParam().text, nullptr), nullptr);  // no error string is fine too
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseXmlMalformedTest,
    testing::Values(MalformedCase{"", "1:1"}, MalformedCase{"\n", "2:1"},
                    MalformedCase{"<a><b></a>", "1:"}, MalformedCase{"<a>\n  <b x=1/>\n</a>", "2:"},
                    MalformedCase{"<a/><b/>", "1:5"}, MalformedCase{"<a x='1' x='2'/>", "1:1"},
                    MalformedCase{"<a>\n<b y='1' y='1'/></a>", "2:1"},
                    MalformedCase{"text<a/>", "1:"}, MalformedCase{"<a>", "1:"},
                    MalformedCase{"<?xml version='1.0'?>", "1:"}));

TEST(ParseXmlTest, KeepsNamesAttributesTextAndOrder) {
    XmlTree root = Parse(
        "<?xml version=\"1.0\"?>\n<!-- c -->\n<r a=\"1\" b='&lt;&amp;'>\n  "
        "<x:y>t<![CDATA[<c>]]>u</x:y>"
        "\n  <z/>\n</r>\n");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), std::string("r"));
    EXPECT_EQ(root->GetParent(), nullptr);
    EXPECT_EQ(root->GetText(), "");  // white space between elements is not text
    ASSERT_EQ(root->GetAttributeCount(), 2u);
    EXPECT_EQ(root->GetAttributeText(root->FindAttribute(Symbol("b"))), "<&");
    EXPECT_EQ(root->FindAttribute(Symbol("B")), XmlElem::npos);
    ASSERT_EQ(root->GetChildCount(), 2u);
    const XmlElem* first = root->GetChild(0);
    EXPECT_EQ(first->GetName(), std::string("x:y"));
    EXPECT_EQ(first->GetText(), "t<c>u");
    EXPECT_EQ(first->GetParent(), root.get());
    EXPECT_EQ(first->GetSourceLine(), 4u);
    EXPECT_EQ(first->GetSourceColumn(), 3u);
    EXPECT_EQ(root->GetChild(2), nullptr);
}

TEST(ParseXmlTest, ExpandsInternalEntities) {
    const std::string laughs =
        "<!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
        "<l>&b;</l>";
    XmlTree root = Parse(laughs);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetText(), std::string(80, 'a'));
}

TEST(ParseXmlTest, MillionLevelsDeepParseAndFreeWithoutRecursion) {
    constexpr int kDepth = 1000000;
    std::string text;
    text.reserve(kDepth * 8);
    for (int i = 0; i < kDepth; ++i)
        text += "<a>";
    for (int i = 0; i < kDepth; ++i)
        text += "</a>";
    XmlTree root = Parse(text);
    ASSERT_NE(root, nullptr);
    int depth = 1;
    for (const XmlElem* e = root.get(); e->GetChildCount() == 1; e = e->GetChild(0))
        ++depth;
    EXPECT_EQ(depth, kDepth);
    std::string written = WriteXml(*root, {0, false});
    EXPECT_EQ(written.size(), text.size() - 3);  // the innermost element is written as <a/>
}

// Each row sets a value with one setter and reads it back from the text and from an attribute.
template <class T, class Param = T>
struct KindRow {
    void (XmlElem::*setter)(Param);
    T (XmlElem::*textGetter)() const;
    T (XmlElem::*attributeGetter)(std::size_t) const;
    T value;
};

template <class T, class Param>
void ExpectKindRoundTrip(const KindRow<T, Param>& row) {
    XmlElem element(Symbol("e"));
    (element.*row.setter)(row.value);
    EXPECT_EQ((element.*row.textGetter)(), row.value);
    XmlElem holder(Symbol("h"));
    holder.SetAttribute(Symbol("value"), element.GetText());
    EXPECT_EQ((holder.*row.attributeGetter)(holder.FindAttribute(Symbol("value"))), row.value);
    // And through text written and parsed again.
    XmlTree parsed = Parse(WriteXml(element));
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ((parsed.get()->*row.textGetter)(), row.value) << element.GetText();
}

TEST(XmlElemTest, EveryKindReadsBackWhatItsSetterWrote) {
    ExpectKindRoundTrip(KindRow<std::int32_t>{&XmlElem::SetText, &XmlElem::GetTextAsInt,
                                              &XmlElem::GetAttributeAsInt, -2147483647 - 1});
    ExpectKindRoundTrip(KindRow<std::int64_t>{&XmlElem::SetText, &XmlElem::GetTextAsInt64,
                                              &XmlElem::GetAttributeAsInt64,
                                              -9223372036854775807 - 1});
    ExpectKindRoundTrip(KindRow<float>{&XmlElem::SetText, &XmlElem::GetTextAsFloat,
                                       &XmlElem::GetAttributeAsFloat, 0.1f});
    ExpectKindRoundTrip(KindRow<double>{&XmlElem::SetText, &XmlElem::GetTextAsDouble,
                                        &XmlElem::GetAttributeAsDouble, 1e-310});
    ExpectKindRoundTrip(KindRow<bool>{&XmlElem::SetText, &XmlElem::GetTextAsBool,
                                      &XmlElem::GetAttributeAsBool, true});
    ExpectKindRoundTrip(KindRow<std::uint32_t>{&XmlElem::SetTextAsHex, &XmlElem::GetTextAsHex,
                                               &XmlElem::GetAttributeAsHex, 0x80ff00a0u});
    ExpectKindRoundTrip(KindRow<Location, const Location&>{
        &XmlElem::SetText, &XmlElem::GetTextAsLocation, &XmlElem::GetAttributeAsLocation,
        Location{{1, -2, 3.5}, {0.5, 0.5, -0.5, 0.5}, 2}});
    ExpectKindRoundTrip(KindRow<DPoint3D, const DPoint3D&>{&XmlElem::SetText,
                                                           &XmlElem::GetTextAsDPoint3D,
                                                           &XmlElem::GetAttributeAsDPoint3D,
                                                           {1e300, -0.0, 7}});
    ExpectKindRoundTrip(KindRow<FPoint3D, const FPoint3D&>{&XmlElem::SetText,
                                                           &XmlElem::GetTextAsFPoint3D,
                                                           &XmlElem::GetAttributeAsFPoint3D,
                                                           {1.5f, 2, 3}});
    ExpectKindRoundTrip(KindRow<DPoint2D, const DPoint2D&>{&XmlElem::SetText,
                                                           &XmlElem::GetTextAsDPoint2D,
                                                           &XmlElem::GetAttributeAsDPoint2D,
                                                           {0.1, 0.2}});
    ExpectKindRoundTrip(KindRow<DVec2, const DVec2&>{
        &XmlElem::SetText, &XmlElem::GetTextAsDVec2, &XmlElem::GetAttributeAsDVec2, {-1, 1}});
    ExpectKindRoundTrip(KindRow<DVec3, const DVec3&>{&XmlElem::SetText,
                                                     &XmlElem::GetTextAsDVec3,
                                                     &XmlElem::GetAttributeAsDVec3,
                                                     {1, 2, 1.0 / 3}});
    ExpectKindRoundTrip(KindRow<FVec3, const FVec3&>{&XmlElem::SetText,
                                                     &XmlElem::GetTextAsFVec3,
                                                     &XmlElem::GetAttributeAsFVec3,
                                                     {1.0f / 3, 0, -1}});
    ExpectKindRoundTrip(
        KindRow<Quaternion<float>, const Quaternion<float>&>{&XmlElem::SetText,
                                                             &XmlElem::GetTextAsQuaternion,
                                                             &XmlElem::GetAttributeAsQuaternion,
                                                             {0.25f, 0.5f, 0.75f, 1}});
}

TEST(XmlElemTest, UnreadableTextGivesTheKindsDefault) {
    XmlElem element(Symbol("e"));
    element.SetText(std::string("not a value"));
    EXPECT_EQ(element.GetTextAsInt(), 0);
    EXPECT_EQ(element.GetTextAsDouble(), 0.0);
    EXPECT_FALSE(element.GetTextAsBool());
    EXPECT_EQ(element.GetTextAsDVec3(), DVec3{});
    EXPECT_EQ(element.GetAttributeText(5), "");  // out of range
}

TEST(XmlElemTest, SetAttributeReplacesAndCountsAreDecimal) {
    XmlElem element(Symbol("e"));
    element.SetAttribute(Symbol("count"), std::uint32_t{4294967295u});
    element.SetAttribute(Symbol("name"), std::string("a"));
    element.SetAttribute(Symbol("name"), std::string("b"));
    ASSERT_EQ(element.GetAttributeCount(), 2u);
    EXPECT_EQ(element.GetAttributeText(0), "4294967295");
    EXPECT_EQ(element.GetAttributeText(1), "b");
}

TEST(WriteXmlTest, EscapesAndReadsBackTheSameTree) {
    XmlTree root(NewXmlElem(Symbol("root"), false));
    XmlElem* child = NewXmlElem(Symbol("kestrel_sc:a:b"), false);
    root->AddChild(child);
    child->SetAttribute(Symbol("name"), std::string("<\"&'> \xC3\xA9"));
    child->SetText(std::string("a < b && c > d"));
    XmlElem* empty = NewXmlElem(Symbol("e"), false);
    child->AddChild(empty);
    std::string text = WriteXml(*root);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    XmlTree back = Parse(text);
    ASSERT_NE(back, nullptr);
    const XmlElem* readChild = back->GetChild(0);
    ASSERT_NE(readChild, nullptr);
    EXPECT_EQ(readChild->GetName(), std::string("kestrel_sc:a:b"));
    EXPECT_EQ(readChild->GetAttributeText(0), "<\"&'> \xC3\xA9");
    EXPECT_EQ(readChild->GetText(), "a < b && c > d");
    EXPECT_EQ(readChild->GetChildCount(), 1u);
}

// Every ASCII byte, at every offset against the writer's four-byte scan, in element text and in
// an attribute value, reads back as it was written; the characters XML 1.0 cannot carry (U+0000
// and the other controls but tab, LF and CR; U+FFFE and U+FFFF) as U+FFFD.
TEST(WriteXmlTest, EveryByteReadsBackAtEveryOffset) {
    std::string bytes, expected;
    for (int c = 1; c < 0x80; ++c) {
        bytes += static_cast<char>(c);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            expected += "\xEF\xBF\xBD";
        else
            expected += static_cast<char>(c);
    }
    bytes += "\xC3\xA9\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD\xEF\xBC\x81";
    expected += "\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBC\x81";
    for (std::size_t offset = 0; offset < 5; ++offset) {
        const std::string pad = "x" + std::string(offset, 'y');
        const std::string tail(offset, 'z');
        XmlTree root(NewXmlElem(Symbol("r"), false));
        root->SetText(pad + bytes + tail);
        root->SetAttribute(Symbol("a"), pad + bytes + tail);
        std::string error;
        XmlTree back(ParseXml(WriteXml(*root, {0, false}), false, &error));
        ASSERT_NE(back, nullptr) << "offset " << offset << ": " << error;
        EXPECT_EQ(back->GetText(), pad + expected + tail) << "offset " << offset;
        EXPECT_EQ(back->GetAttributeText(0), pad + expected + tail) << "offset " << offset;
    }
    XmlTree nul(NewXmlElem(Symbol("r"), false));
    nul->SetText(std::string("a\0b", 3));
    EXPECT_EQ(WriteXml(*nul, {0, false}),
              "<r>a\xEF\xBF\xBD"
              "b</r>");
}

// Which characters each place escapes, byte for byte.
TEST(WriteXmlTest, EscapesOnlyWhatEachPlaceNeeds) {
    struct Row {
        std::string value, text, attribute;
    };
    const Row rows[] = {
        {"a&b", "a&amp;b", "a&amp;b"},
        {"<>", "&lt;&gt;", "&lt;&gt;"},
        {"\"'", "\"'", "&quot;'"},
        {"a\tb\nc", "a\tb\nc", "a&#9;b&#10;c"},
        {"a\rb", "a&#13;b", "a&#13;b"},
        {"\x01\x1F", "\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xEF\xBF\xBF\xEF\xBF", "\xEF\xBF\xBD\xEF\xBF", "\xEF\xBF\xBD\xEF\xBF"},
        {"plain text of some length", "plain text of some length", "plain text of some length"},
    };
    for (const Row& row : rows) {
        XmlTree text(NewXmlElem(Symbol("r"), false));
        text->SetText(row.value);
        EXPECT_EQ(WriteXml(*text, {0, false}), "<r>" + row.text + "</r>") << row.text;
        XmlTree attribute(NewXmlElem(Symbol("r"), false));
        attribute->SetAttribute(Symbol("a"), row.value);
        EXPECT_EQ(WriteXml(*attribute, {0, false}), "<r a=\"" + row.attribute + "\"/>")
            << row.attribute;
    }
}

}  // namespace
