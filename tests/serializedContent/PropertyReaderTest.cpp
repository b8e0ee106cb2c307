#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ContentCompare.h"
#include "Documents.h"
#include "utilities/OrbTracer.h"

namespace {

using documents::ReadElement;
using documents::Tree;

const SerializedContentElement& Element(const Tree& top) {
    return *top->GetChild(0);
}

struct ReadCase {
    const char* name;
    std::string body;
    PropertyValue expected;
};

class PropertyReaderTest : public testing::TestWithParam<ReadCase> {};

TEST_P(PropertyReaderTest, StoresTheConvertedValue) {
    Tree top = ReadElement(GetParam().body);
    const auto& properties = Element(top).GetProperties();
    ASSERT_EQ(properties.size(), 1u) << GetParam().body;
    EXPECT_EQ(properties[0].name, std::string("p"));
    EXPECT_TRUE(contentcompare::SameBits(properties[0].value, GetParam().expected))
        << GetParam().body;
}

std::string Property(const char* type, const char* text) {
    return std::string("<kestrel_sc:property type='") + type + "' name='p'>" + text +
           "</kestrel_sc:property>";
}

std::string Array(const char* type, const std::string& items) {
    return std::string("<kestrel_sc:property_array type='") + type + "' name='p' count='99'>" +
           items + "</kestrel_sc:property_array>";
}

// Every type reads back in RoundTripTest; these rows are what only reading shows: narrowing, the
// separators and white space a writer never puts, the value attribute and unreadable values.
// clang-format off
const ReadCase kNarrowing[] = {
    {"Int8KeepsLow8Bits", Property("int8", "300"), std::int8_t{44}},
    {"Uint16Wraps", Property("uint16", "65537"), std::uint16_t{1}},
    {"Uint32FromMinusOne", Property("uint32", "-1"), std::uint32_t{4294967295u}},
    {"Uint32FromUnsignedText", Property("uint32", "4294967295"), std::uint32_t{4294967295u}},
    {"Uint64FromMinusOne", Property("uint64", "-1"), std::uint64_t{18446744073709551615u}},
    {"FloatStaysSingle", Property("float", "0.1"), 0.1f},
    {"DVec2WithComma", Property("dvec2", "1,2"), DVec2{1, 2}},
    {"Int32WithWhiteSpace", Property("int32", " 42\n"), std::int32_t{42}},
    {"StringFromText", Property("string", "from text"), Symbol("from text")},
    {"ValueAttributeWins", "<kestrel_sc:property type='float' name='p' value='2.5'>9</kestrel_sc:property>",
     2.5f},
    {"StringValueAttributeWins",
     "<kestrel_sc:property type='string' name='p' value=''>text</kestrel_sc:property>", Symbol()},
    {"ExtraAttributesAndChildrenIgnored",
     "<kestrel_sc:property type='int32' name='p' unit='mm'>5<x/></kestrel_sc:property>", std::int32_t{5}},
    {"UnreadableValueGivesTheKindsDefault", Property("int32", "five"), std::int32_t{0}},
    {"MissingValue", "<kestrel_sc:property type='double' name='p'/>", 0.0},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Narrowing, PropertyReaderTest, testing::ValuesIn(kNarrowing),
                         [](const testing::TestParamInfo<ReadCase>& info) {
                             return info.param.name;
                         });

// clang-format off
const ReadCase kArrays[] = {
    {"CountIsNotTrusted",
     Array("uint32", "<kestrel_sc:property>-1</kestrel_sc:property>"
     "<kestrel_sc:property>7</kestrel_sc:property>"), std::vector<std::uint32_t>{4294967295u, 7}},
    {"OtherChildrenPassedOver",
     Array("float", "<kestrel_sc:property>1</kestrel_sc:property><other/>"
     "<kestrel_sc:property_array type='float' name='q'>"
     "<kestrel_sc:property>5</kestrel_sc:property></kestrel_sc:property_array>"
     "<kestrel_sc:Property>6</kestrel_sc:Property>"
     "<kestrel_sc:property type='x' name='y'>2</kestrel_sc:property>"), std::vector<float>{1, 2}},
    {"Bools",
     Array("bool", "<kestrel_sc:property>true</kestrel_sc:property>"
     "<kestrel_sc:property>false</kestrel_sc:property>"
     "<kestrel_sc:property value='1'/>"), std::vector<bool>{true, false, true}},
    {"StringsFromTextOrValue",
     Array("string", "<kestrel_sc:property>a</kestrel_sc:property>"
     "<kestrel_sc:property value='b'>ignored</kestrel_sc:property>"
     "<kestrel_sc:property value=''/>"), std::vector<Symbol>{Symbol("a"), Symbol("b"), Symbol()}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Arrays, PropertyReaderTest, testing::ValuesIn(kArrays),
                         [](const testing::TestParamInfo<ReadCase>& info) {
                             return info.param.name;
                         });

struct RejectCase {
    const char* name;
    std::string body;
};

class RejectedPropertyTest : public testing::TestWithParam<RejectCase> {};

TEST_P(RejectedPropertyTest, StoresNothingAndNoTrace) {
    std::vector<TraceMessage> traces;
    TraceSink previous = OrbTracer::SetSink([&](const TraceMessage& m) { traces.push_back(m); });
    Tree top = ReadElement(GetParam().body + "<kestrel_sc:after/>");
    OrbTracer::SetSink(previous);
    EXPECT_TRUE(Element(top).GetProperties().empty());
    EXPECT_EQ(Element(top).GetChildCount(), 1u);  // the sibling after it is still read
    EXPECT_TRUE(traces.empty());
}

// clang-format off
const RejectCase kRejected[] = {
    {"NoType", "<kestrel_sc:property name='p' value='1'/>"},
    {"NoName", "<kestrel_sc:property type='int32' value='1'/>"},
    {"ArrayNoType", "<kestrel_sc:property_array name='p'/>"},
    {"ArrayNoName", "<kestrel_sc:property_array type='float'/>"},
    {"ArrayOfShapes",
     "<kestrel_sc:property_array type='shape' name='p' count='1'>"
     "<kestrel_sc:property/></kestrel_sc:property_array>"},
    {"ArrayOfSingleOnlyType", "<kestrel_sc:property_array type='int32' name='p'/>"},
    {"ImageValueAttributePlaysNoPart", "<kestrel_sc:property type='image' name='p' value='x'/>"},
    // Images the real BMP loader refuses, among them a header promising 65535 x 65535.
    {"ImageNotBase64", Property("image", "not*base64")},
    {"ImageHeaderOnly", Property("image", "Qk02AAAAAAAAADYAAAAoAAAA//8AAP//AAABABgAAAAAAAAAAAA=")},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, RejectedPropertyTest, testing::ValuesIn(kRejected),
                         [](const testing::TestParamInfo<RejectCase>& info) {
                             return info.param.name;
                         });

class UnknownTypeTest : public testing::TestWithParam<std::string> {};

TEST_P(UnknownTypeTest, IsTracedExactlyOnce) {
    std::vector<TraceMessage> traces;
    TraceSink previous = OrbTracer::SetSink([&](const TraceMessage& m) { traces.push_back(m); });
    Tree top = ReadElement("<kestrel_sc:property type='" + GetParam() + "' name='p'>1" +
                           "</kestrel_sc:property>");
    OrbTracer::SetSink(previous);
    EXPECT_TRUE(Element(top).GetProperties().empty());
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0].module, "serializedContent");
    EXPECT_EQ(traces[0].className, "XmlParser");
    EXPECT_EQ(traces[0].type, 3);
    const std::regex expected("unhandled property type " + GetParam() +
                              " <-{35} [0-9]+ of serializedContent/xmlwriter/XmlParser\n");
    EXPECT_TRUE(std::regex_match(traces[0].text, expected)) << traces[0].text;
}

INSTANTIATE_TEST_SUITE_P(Types, UnknownTypeTest, testing::Values("dhex", "Int32"));

}  // namespace
