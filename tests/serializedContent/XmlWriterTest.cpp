#include "serializedContent/xmlwriter/XmlWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "geometry/XmlElem.h"

namespace {

using serializedContent::XmlWriter;

struct FreeXmlDeleter {
    void operator()(XmlElem* root) const { FreeXml(root); }
};
using XmlTree = std::unique_ptr<XmlElem, FreeXmlDeleter>;

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

struct SingleCase {
    const char* name;
    std::function<void(XmlWriter&)> visit;
    std::string expected;
};

class SingleValueWriterTest : public testing::TestWithParam<SingleCase> {};

TEST_P(SingleValueWriterTest, WritesTypeNameAndValue) {
    XmlTree root = NewRoot();
    XmlWriter writer(root.get());
    GetParam().visit(writer);
    ASSERT_EQ(root->GetChildCount(), 1u);
    EXPECT_EQ(Describe(*root->GetChild(0)), GetParam().expected);
    EXPECT_EQ(root->GetChild(0)->GetChildCount(), 0u);
}

template <class T>
std::function<void(XmlWriter&)> VisitWith(T value) {
    return [value](XmlWriter& writer) { writer.Visit(Symbol("p"), value); };
}

const char* kProperty = "kestrel_sc:property type=";

INSTANTIATE_TEST_SUITE_P(
    Types, SingleValueWriterTest,
    testing::Values(
        SingleCase{"Bool", VisitWith(true), std::string(kProperty) + "bool name=p [true]"},
        SingleCase{"Int8", VisitWith(std::int8_t{-1}), std::string(kProperty) + "int8 name=p [-1]"},
        SingleCase{"Uint8", VisitWith(std::uint8_t{255}),
                   std::string(kProperty) + "uint8 name=p [255]"},
        SingleCase{"Int16", VisitWith(std::int16_t{-32768}),
                   std::string(kProperty) + "int16 name=p [-32768]"},
        SingleCase{"Uint16", VisitWith(std::uint16_t{65535}),
                   std::string(kProperty) + "uint16 name=p [65535]"},
        SingleCase{"Int32", VisitWith(std::int32_t{-2147483647 - 1}),
                   std::string(kProperty) + "int32 name=p [-2147483648]"},
        SingleCase{"Uint32", VisitWith(std::uint32_t{4294967295u}),
                   std::string(kProperty) + "uint32 name=p [-1]"},
        SingleCase{"Int64", VisitWith(std::int64_t{-9223372036854775807 - 1}),
                   std::string(kProperty) + "int64 name=p [-9223372036854775808]"},
        SingleCase{"Uint64", VisitWith(std::uint64_t{18446744073709551615u}),
                   std::string(kProperty) + "uint64 name=p [-1]"},
        SingleCase{"FloatStaysSingle", VisitWith(0.1f),
                   std::string(kProperty) + "float name=p [0.1]"},
        SingleCase{"Double", VisitWith(0.1), std::string(kProperty) + "double name=p [0.1]"},
        SingleCase{"StringInValueAttribute", VisitWith(Symbol("a<b")),
                   std::string(kProperty) + "string name=p value=a<b"},
        SingleCase{"EmptyString", VisitWith(Symbol()),
                   std::string(kProperty) + "string name=p value="},
        SingleCase{"Color", VisitWith(Color(0x11, 0x22, 0x33, 0x44)),
                   std::string(kProperty) + "color name=p [#11223344]"},
        SingleCase{"Location", VisitWith(Location{{1, 2, 3}, {0, 0, 0, 1}, 2}),
                   std::string(kProperty) + "location name=p [1 2 3 0 0 0 1 2]"},
        SingleCase{"Quaternion", VisitWith(Quaternion<float>{0.5f, 0, 0, 1}),
                   std::string(kProperty) + "quat name=p [0.5 0 0 1]"},
        SingleCase{"DVec2", VisitWith(DVec2{1, -1}),
                   std::string(kProperty) + "dvec2 name=p [1 -1]"},
        SingleCase{"DVec3", VisitWith(DVec3{1, 2, 3}),
                   std::string(kProperty) + "dvec3 name=p [1 2 3]"},
        SingleCase{"FVec3", VisitWith(FVec3{0.1f, 0, 0}),
                   std::string(kProperty) + "fvec3 name=p [0.1 0 0]"},
        SingleCase{"DPoint2D", VisitWith(DPoint2D{4, 5}),
                   std::string(kProperty) + "dpoint2d name=p [4 5]"},
        SingleCase{"DPoint3D", VisitWith(DPoint3D{4, 5, 6}),
                   std::string(kProperty) + "dpoint3d name=p [4 5 6]"},
        SingleCase{"FPoint3D", VisitWith(FPoint3D{4, 5, 6.5f}),
                   std::string(kProperty) + "fpoint3d name=p [4 5 6.5]"},
        SingleCase{"EmptyFloatArray", VisitWith(std::vector<float>{}),
                   "kestrel_sc:property_array type=float name=p count=0"}),
    [](const testing::TestParamInfo<SingleCase>& info) { return info.param.name; });

TEST(XmlWriterTest, ValueTypesWithoutATypeNameWriteNothing) {
    XmlTree root = NewRoot();
    XmlWriter writer(root.get());
    const Symbol n("n");
    writer.Visit(n, DHex{1});
    writer.Visit(n, std::vector<DHex>{{1}});
    writer.Visit(n, std::vector<Quaternion<float>>{{}});
    writer.Visit(n, std::vector<FVec3>{{}});
    writer.Visit(n, std::vector<DVec3>{{}});
    writer.Visit(n, std::vector<DVec2>{{}});
    writer.Visit(n, std::vector<FPoint3D>{{}});
    writer.Visit(n, std::vector<DPoint3D>{{}});
    writer.Visit(n, std::vector<Location>{{}});
    writer.Visit(n, std::vector<std::int64_t>{1});
    writer.Visit(n, std::vector<std::int32_t>{1});
    writer.Visit(n, std::vector<std::int16_t>{1});
    writer.Visit(n, std::vector<std::int8_t>{1});
    writer.Visit(n, std::vector<std::uint64_t>{1});
    writer.Visit(n, std::vector<std::uint16_t>{1});
    writer.Visit(n, std::vector<std::uint8_t>{1});
    EXPECT_EQ(root->GetChildCount(), 0u);
}

TEST(XmlWriterTest, ArrayItemsAreBareAndInOrder) {
    XmlTree root = NewRoot();
    XmlWriter writer(root.get());
    writer.Visit("flags", std::vector<bool>{true, false, true});
    writer.Visit("names", std::vector<Symbol>{Symbol(""), Symbol(std::string("a\0b", 3))});
    writer.Visit("tints", std::vector<Color>{Color(0xff00ff80u)});
    writer.Visit("outline", std::vector<DPoint2D>{{0, 1}, {2, 3}});
    writer.Visit("ids", std::vector<std::uint32_t>{4294967295u});
    writer.Visit("d", std::vector<double>{-0.0});
    auto items = [&](std::size_t i) {
        std::string out = Describe(*root->GetChild(i)) + ":";
        for (std::size_t k = 0; k < root->GetChild(i)->GetChildCount(); ++k) {
            out += " {" + Describe(*root->GetChild(i)->GetChild(k)) + "}";
        }
        return out;
    };
    const std::string item = "kestrel_sc:property";
    EXPECT_EQ(items(0), "kestrel_sc:property_array type=bool name=flags count=3: {" + item +
                            " [true]} {" + item + " [false]} {" + item + " [true]}");
    EXPECT_EQ(items(1), "kestrel_sc:property_array type=string name=names count=2: {" + item +
                            "} {" + item + " [" + std::string("a\0b", 3) + "]}");
    EXPECT_EQ(items(2), "kestrel_sc:property_array type=color name=tints count=1: {" + item +
                            " [#ff00ff80]}");
    EXPECT_EQ(items(3), "kestrel_sc:property_array type=dpoint2d name=outline count=2: {" + item +
                            " [0 1]} {" + item + " [2 3]}");
    EXPECT_EQ(items(4),
              "kestrel_sc:property_array type=uint32 name=ids count=1: {" + item + " [-1]}");
    EXPECT_EQ(items(5),
              "kestrel_sc:property_array type=double name=d count=1: {" + item + " [-0]}");
}

}  // namespace
