// ParseXml on the characters XML treats specially: references, line ends, white space, markup
// inside elements, and the encodings that go through the converting parser.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "geometry/XmlElem.h"

namespace {

struct FreeXmlDeleter {
    void operator()(XmlElem* root) const { FreeXml(root); }
};
using XmlTree = std::unique_ptr<XmlElem, FreeXmlDeleter>;

struct TextCase {
    const char* name;
    std::string xml;
    std::string text;       // the root's text
    std::string attribute;  // the root's attribute "a", when it has one
    bool keepWhitespace = false;
};

class ParseXmlTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(ParseXmlTextTest, RootTextAndAttribute) {
    std::string error;
    XmlTree root(ParseXml(GetParam().xml, GetParam().keepWhitespace, &error));
    ASSERT_NE(root, nullptr) << error;
    EXPECT_EQ(root->GetText(), GetParam().text);
    const std::size_t index = root->FindAttribute(Symbol("a"));
    EXPECT_EQ(index == XmlElem::npos ? "" : root->GetAttributeText(index), GetParam().attribute);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseXmlTextTest,
    testing::Values(
        TextCase{"PredefinedEntities", "<r a='&lt;&gt;&amp;&apos;&quot;'>&lt;&amp;&gt;</r>", "<&>",
                 "<>&'\""},
        TextCase{"CharacterReferences", "<r a='&#65;&#x42;&#x1F600;'>&#233;&#xe9;</r>",
                 "\xC3\xA9\xC3\xA9", "AB\xF0\x9F\x98\x80"},
        TextCase{"UndefinedEntityStaysAsWritten", "<r a='&x;'>&nbsp;&</r>", "&nbsp;&", "&x;"},
        TextCase{"BareAmpersandsStay", "<r>a & b &; &#; &#x; &#1a; c</r>",
                 "a & b &; &#; &#x; &#1a; c", ""},
        TextCase{"LineEndsBecomeLf", "<r>a\r\nb\rc\n</r>", "a\nb\nc\n", ""},
        TextCase{"AttributeWhiteSpaceBecomesSpaces", "<r a='x\ty\nz\r\nw'/>", "", "x y z w"},
        TextCase{"AttributeReferencesKeepTheirCharacters", "<r a='&#9;&#10;&#13;'/>", "", "\t\n\r"},
        TextCase{"OtherQuoteInsideValue", "<r a=\"it's\"/>", "", "it's"},
        TextCase{"SpacesAroundEquals", "<r a \n= \t'v' />", "", "v"},
        TextCase{"BlankTextDropped", "<r>\n  <c/>\n  </r>", "", ""},
        TextCase{"BlankTextKeptWhenAsked", "<r> <c/>\t</r>", " \t", "", true},
        TextCase{"ReferenceToSpaceIsText", "<r>&#32;</r>", " ", ""},
        TextCase{"SegmentsJoinAroundMarkup",
                 "<r>a<!-- c --><?pi x?><c>inner</c>b<![CDATA[ <&]]> ]]>c</r>", "ab <& ]]>c", ""},
        TextCase{"CdataLineEnds", "<r><![CDATA[a\r\nb\r]]></r>", "a\nb\n", ""},
        TextCase{"CdataAloneKeepsBlanks", "<r><![CDATA[  ]]></r>", "  ", ""},
        TextCase{"ByteOrderMarkAndDeclaration",
                 "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>\n<r>x</r>", "x", ""},
        TextCase{"DoctypeWithSubsetSkipped",
                 "<!DOCTYPE r [<!ENTITY e \"a>b\"> <!-- ] > --> <!ATTLIST r a CDATA 'd'>]>\n"
                 "<r>&e;</r>",
                 "&e;", ""},
        TextCase{"NonAsciiNames", "<\xC3\xA9l\xC3\xA9ment a='1'>t</\xC3\xA9l\xC3\xA9ment>", "t",
                 "1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct MalformedCase {
    const char* name;
    std::string xml;
    std::string error;  // the whole "line:column: reason", or its start
};

class ParseXmlRefusesTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(ParseXmlRefusesTest, NamesWhereAndWhy) {
    std::string error;
    XmlTree root(ParseXml(GetParam().xml, false, &error));
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(error.substr(0, GetParam().error.size()), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseXmlRefusesTest,
    testing::Values(
        MalformedCase{"MismatchedEndTag", "<r>\n <a></b></r>",
                      "2:5: end tag </b> does not match <a> opened at 2:2"},
        MalformedCase{"Unclosed", "<r><a>", "1:7: end of text inside <a>, opened at 1:4"},
        MalformedCase{"LessThanInValue", "<r a='<'/>", "1:7: '<' inside an attribute value"},
        MalformedCase{"UnquotedValue", "<r a=1/>", "1:6: expected a quoted value"},
        MalformedCase{"NoSpaceBetweenAttributes", "<r a='1'b='2'/>", "1:9: expected white space"},
        MalformedCase{"RepeatedAttribute", "<r a='1' a='2'/>", "1:1: attribute 'a' repeated"},
        MalformedCase{"ControlByteInTag", "<r\x01/>",
                      "1:3: expected white space, '>' or '/>' in <r>, found byte 0x01"},
        MalformedCase{"NulReference", "<r>&#0;</r>", "1:4: invalid character reference '&#0;'"},
        MalformedCase{"SurrogateReference", "<r a='&#xD800;'/>",
                      "1:7: invalid character reference"},
        MalformedCase{"DoubleHyphenInComment", "<r><!-- a -- b --></r>",
                      "1:11: '--' inside a comment"},
        MalformedCase{"UnclosedComment", "<r><!-- a", "1:4: comment is not closed"},
        MalformedCase{"UnclosedCdata", "<r><![CDATA[ a", "1:4: CDATA section is not closed"},
        MalformedCase{"LateDeclaration", "<r><?xml version='1.0'?></r>",
                      "1:4: XML declaration not at the start"},
        MalformedCase{"BadMarkup", "<r><!ELEMENT r></r>", "1:4: unexpected '<!' inside <r>"},
        MalformedCase{"LessThanSpace", "<r>< a</r>",
                      "1:5: expected a name, '/', '!' or '?' after '<', found ' '"},
        MalformedCase{"DoctypeAfterRoot", "<r/><!DOCTYPE r>",
                      "1:5: unexpected markup after the root"},
        MalformedCase{"TextAfterRoot", "<r/>x", "1:5: text outside the root element"},
        MalformedCase{"SecondRoot", "<r/>\n<s/>", "2:1: more than one root element"},
        MalformedCase{"OnlyComments", "<!-- a -->\n", "2:1: no root element"}),
    [](const auto& info) { return std::string(info.param.name); });

// The same document in UTF-16 goes through the converting parser and must give the same tree.
std::string ToUtf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

void ExpectSameTree(const XmlElem& a, const XmlElem& b) {
    ASSERT_EQ(a.GetName(), b.GetName());
    EXPECT_EQ(a.GetText(), b.GetText()) << a.GetName().view();
    ASSERT_EQ(a.GetAttributeCount(), b.GetAttributeCount());
    for (std::size_t i = 0; i < a.GetAttributeCount(); ++i) {
        EXPECT_EQ(a.GetAttributeName(i), b.GetAttributeName(i));
        EXPECT_EQ(a.GetAttributeText(i), b.GetAttributeText(i));
    }
    ASSERT_EQ(a.GetChildCount(), b.GetChildCount());
    for (std::size_t i = 0; i < a.GetChildCount(); ++i)
        ExpectSameTree(*a.GetChild(i), *b.GetChild(i));
}

TEST(ParseXmlTest, Utf16GivesTheTreeOfUtf8) {
    const std::string xml =
        "<?xml version='1.0'?>\r\n<!-- c --><r a='x&#10;y\tz' b=\"&lt;&amp;\">\r\n  <c>t&#x41;"
        "<![CDATA[<d>]]></c>\n  <e f='1'/>text &x; more\r\n</r>\n";
    XmlTree utf8(ParseXml(xml, false, nullptr));
    XmlTree utf16(ParseXml(ToUtf16Le(xml), false, nullptr));
    ASSERT_NE(utf8, nullptr);
    ASSERT_NE(utf16, nullptr);
    ExpectSameTree(*utf8, *utf16);
}

// A parsed tree can grow: elements added later are owned like any other.
TEST(ParseXmlTest, ParsedTreesTakeNewChildrenAndAttributes) {
    XmlTree root(ParseXml("<r a='1'><c x='2'/></r>", false, nullptr));
    ASSERT_NE(root, nullptr);
    XmlElem* child = root->GetChild(0);
    child->SetAttribute(Symbol("y"), std::string("3"));
    child->SetAttribute(Symbol("x"), std::string("4"));
    for (int i = 0; i < 20; ++i)
        child->AddChild(NewXmlElem(Symbol("n"), false));
    root->AddChild(NewXmlElem(Symbol("d"), false));
    XmlTree other(ParseXml("<o/>", false, nullptr));
    root->AddChild(other.release());  // a parsed root moves with the block store it owns
    EXPECT_EQ(WriteXml(*root, {0, false}),
              "<r a=\"1\"><c x=\"4\" y=\"3\"><n/><n/><n/><n/><n/><n/><n/><n/><n/><n/><n/><n/><n/>"
              "<n/><n/><n/><n/><n/><n/><n/></c><d/><o/></r>");
}

TEST(ParseXmlTest, ManyAttributesAndSiblings) {
    std::string xml = "<r";
    for (int i = 0; i < 5000; ++i)
        xml += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    xml += ">";
    for (int i = 0; i < 100000; ++i)
        xml += "<c/>";
    xml += "</r>";
    XmlTree root(ParseXml(xml, false, nullptr));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetAttributeCount(), 5000u);
    EXPECT_EQ(root->GetAttributeText(4999), "4999");
    EXPECT_EQ(root->GetChildCount(), 100000u);
    std::string repeated = "<r";
    for (int i = 0; i < 100; ++i)
        repeated += " a" + std::to_string(i) + "='1'";
    repeated += " a50='2'/>";
    std::string error;
    EXPECT_EQ(XmlTree(ParseXml(repeated, false, &error)), nullptr);
    EXPECT_EQ(error, "1:1: attribute 'a50' repeated");
}

}  // namespace
