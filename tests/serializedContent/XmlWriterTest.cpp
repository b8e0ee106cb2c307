#include "serializedContent/xmlwriter/XmlWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "geometry/XmlElem.h"
#include "kestrel/values/ValueTraits.h"

namespace {

using serializedContent::XmlWriter;

XmlTree NewRoot() {
    return XmlTree(NewXmlElem(Symbol("root"), false));
}

// An element as one line: name, attributes in order, text in brackets.
std::string Describe(const XmlElem& element) {
    std::string out = element.GetName();
    for (std::size_t i = 0; i < element.GetAttributeCount(); ++i) {
        out += " " + std::string(element.GetAttributeName(i)) + "=" + element.GetAttributeText(i);
    }
    if (!element.GetText().empty())
        out += " [" + element.GetText() + "]";
    return out;
}

TEST(XmlWriterFrameTest, StartAndEndMoveTheCurrentElement) {
    XmlTree top = NewRoot();
    XmlElem* root = NewXmlElem(Symbol("r"), false);
    top->AddChild(root);
    XmlWriter writer(root);
    EXPECT_TRUE(writer.StartElement("a", nullptr));
    EXPECT_TRUE(writer.StartElement("", nullptr));
    writer.Visit("inner", std::int32_t{1});
    EXPECT_TRUE(writer.EndElement("ignored"));
    EXPECT_TRUE(writer.EndElement("a"));
    writer.Visit("back", std::int32_t{2});  // on r again
    ASSERT_EQ(root->GetChildCount(), 2u);
    const XmlElem* a = root->GetChild(0);
    EXPECT_EQ(Describe(*a), "kestrel_sc:a");
    EXPECT_EQ(Describe(*a->GetChild(0)), "kestrel_sc:");
    EXPECT_EQ(Describe(*a->GetChild(0)->GetChild(0)),
              "kestrel_sc:property type=int32 name=inner [1]");
    EXPECT_EQ(Describe(*root->GetChild(1)), "kestrel_sc:property type=int32 name=back [2]");
    // One EndElement too many climbs past r to its parent; output then goes there.
    writer.EndElement("extra");
    writer.Visit("outside", true);
    EXPECT_EQ(top->GetChildCount(), 2u);
    // At a root without a parent nothing moves.
    writer.EndElement("x");
    writer.Visit("still", false);
    EXPECT_EQ(top->GetChildCount(), 3u);
}

TEST(XmlWriterFrameTest, CopiesAppendToTheSameElement) {
    XmlTree root = NewRoot();
    XmlWriter first(root.get());
    first.StartElement("a", nullptr);
    XmlWriter second(first);
    second.Visit("n", 1.5);
    XmlWriter third(root.get());
    third = first;
    third.Visit("n", 2.5);  // the same name again gives a second element, in call order
    ASSERT_EQ(root->GetChild(0)->GetChildCount(), 2u);
    EXPECT_EQ(root->GetChild(0)->GetChild(0)->GetText(), "1.5");
    EXPECT_EQ(root->GetChild(0)->GetChild(1)->GetText(), "2.5");
}

// The value text itself is ValueTextTest's; these rows pin where the text goes, and the unsigned
// kinds that are written as their signed bits.
struct SingleCase {
    const char* name;
    std::function<void(XmlWriter&)> visit;
    std::string expected;  // after "kestrel_sc:property"
};

class SingleValueWriterTest : public testing::TestWithParam<SingleCase> {};

TEST_P(SingleValueWriterTest, WritesTypeNameAndValue) {
    XmlTree root = NewRoot();
    XmlWriter writer(root.get());
    GetParam().visit(writer);
    ASSERT_EQ(root->GetChildCount(), 1u);
    EXPECT_EQ(Describe(*root->GetChild(0)), "kestrel_sc:property" + GetParam().expected);
    EXPECT_EQ(root->GetChild(0)->GetChildCount(), 0u);
}

template <class T>
std::function<void(XmlWriter&)> VisitWith(T value) {
    return [value](XmlWriter& writer) { writer.Visit(Symbol("p"), value); };
}

// clang-format off
const SingleCase kSingleCases[] = {
    {"Uint32", VisitWith(std::uint32_t{4294967295u}), " type=uint32 name=p [-1]"},
    {"Uint64", VisitWith(std::uint64_t{18446744073709551615u}), " type=uint64 name=p [-1]"},
    {"FloatStaysSingle", VisitWith(0.1f), " type=float name=p [0.1]"},
    {"StringInValueAttribute", VisitWith(Symbol("a<b")), " type=string name=p value=a<b"},
    {"EmptyString", VisitWith(Symbol()), " type=string name=p value="},
    {"EmptyFloatArray", VisitWith(std::vector<float>{}), "_array type=float name=p count=0"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Types, SingleValueWriterTest, testing::ValuesIn(kSingleCases),
                         [](const testing::TestParamInfo<SingleCase>& info) {
                             return info.param.name;
                         });

// DHex and arrays of types without an array type name, one item each.
TEST(XmlWriterTest, ValueTypesWithoutATypeNameWriteNothing) {
    XmlTree root = NewRoot();
    XmlWriter writer(root.get());
    kestrel::values::ForEachType([&]<class T>() {
        if constexpr (!kestrel::values::ValueTraits<T>::xmlCarries) {
            T value{};
            if constexpr (kestrel::values::ValueTraits<T>::isArray)
                value.resize(1);
            writer.Visit(Symbol("n"), value);
        }
    });
    EXPECT_EQ(root->GetChildCount(), 0u);
}

// Items are bare property elements holding their text, in order; a NUL inside a string is kept
// (and written as U+FFFD).
TEST(XmlWriterTest, ArrayItemsAreBareAndInOrder) {
    XmlTree root = NewRoot();
    XmlWriter writer(root.get());
    writer.Visit("flags", std::vector<bool>{true, false, true});
    writer.Visit("names", std::vector<Symbol>{Symbol(""), Symbol(std::string("a\0b", 3))});
    writer.Visit("tints", std::vector<Color>{Color(0xff00ff80u)});
    writer.Visit("outline", std::vector<DPoint2D>{{0, 1}, {2, 3}});
    writer.Visit("ids", std::vector<std::uint32_t>{4294967295u});
    writer.Visit("d", std::vector<double>{-0.0});
    const std::string text =
        std::regex_replace(WriteXml(*root, {0, false}), std::regex("kestrel_sc:property"), "p");
    EXPECT_EQ(
        text,
        "<root><p_array type=\"bool\" name=\"flags\" count=\"3\"><p>true</p><p>false</p><p>true</p>"
        "</p_array><p_array type=\"string\" name=\"names\" count=\"2\"><p/><p>a\xEF\xBF\xBD"
        "b</p></p_array><p_array type=\"color\" name=\"tints\" count=\"1\"><p>#ff00ff80</p>"
        "</p_array><p_array type=\"dpoint2d\" name=\"outline\" count=\"2\"><p>0 1</p><p>2 3</p>"
        "</p_array><p_array type=\"uint32\" name=\"ids\" count=\"1\"><p>-1</p></p_array>"
        "<p_array type=\"double\" name=\"d\" count=\"1\"><p>-0</p></p_array></root>");
}

}  // namespace
