#include "kestrel/json/ContentJson.h"

#include "geometry/MeshBuilder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "kernel/SerializedContentElement.h"
#include "serializedContent/ContentCompare.h"

namespace {

using kestrel::json::ReadContentJson;
using kestrel::json::WriteContentJson;
using Tree = SmartPtr<SerializedContentElement>;

// A top element "figure" holding one property "p".
Tree OneProperty(PropertyValue value) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    top->AddPropertyValue("p", std::move(value));
    return top;
}

// JSON text of a figure with the given properties, and of one property "p".
std::string Doc(const std::string& properties) {
    return R"({"name":"figure","properties":[)" + properties + R"(],"children":[]})";
}
std::string Prop(const std::string& type, const std::string& value) {
    return R"({"name":"p","type":")" + type + R"(","value":)" + value + "}";
}
std::string One(const std::string& type, const std::string& value) {
    return Doc(Prop(type, value));
}
const char* const kV = "/properties/0/value";

struct WrittenCase {
    PropertyValue value;
    const char* type;
    const char* json;  // the value as written in compact form
};

void PrintTo(const WrittenCase& c, std::ostream* os) {
    *os << c.type << " " << c.json;
}

class JsonWrittenFormTest : public testing::TestWithParam<WrittenCase> {};

TEST_P(JsonWrittenFormTest, IsExactlyTheCanonicalText) {
    const WrittenCase& c = GetParam();
    EXPECT_EQ(WriteContentJson(*OneProperty(c.value), {0}), Doc(Prop(c.type, c.json)) + "\n");
}

const double kInf = std::numeric_limits<double>::infinity();

// clang-format off
const std::vector<WrittenCase> kWritten = {
    {true, "bool", "true"}, {false, "bool", "false"},
    {std::int8_t{-128}, "int8", "-128"}, {std::uint8_t{255}, "uint8", "255"},
    {std::int16_t{-32768}, "int16", "-32768"},
    {std::numeric_limits<std::int64_t>::min(), "int64", "-9223372036854775808"},
    {std::numeric_limits<std::uint64_t>::max(), "uint64", "18446744073709551615"},
    {1.0f, "float", "1.0"}, {-0.0f, "float", "-0.0"}, {0.1f, "float", "0.1"},
    {1e10f, "float", "1e+10"}, {FLT_MAX, "float", "3.4028235e+38"},
    {std::numeric_limits<float>::denorm_min(), "float", "1e-45"},
    {std::numeric_limits<float>::quiet_NaN(), "float", R"("nan")"},
    {-std::numeric_limits<float>::quiet_NaN(), "float", R"("-nan")"},
    {std::bit_cast<float>(0x7f800001u), "float", "\"nan(0x1)\""},
    {1e300, "double", "1e+300"},
    {2.5e-308, "double", "2.5e-308"},
    {123456789012345680000.0, "double", "123456789012345683968.0"},
    {kInf, "double", R"("inf")"},
    {std::bit_cast<double>(0xfff0000000001234u), "double", "\"-nan(0x1234)\""},
    {Symbol(""), "string", R"("")"},
    {Symbol("a\"b\\c/\n\t\x01\x7f \xC3\xA9"), "string",
     "\"a\\\"b\\\\c/\\n\\t\\u0001\x7f \xC3\xA9\""},
    {Symbol(std::string_view("nul\0", 4)), "string", R"("nul\u0000")"},
    {Symbol("bad\xFF"), "string", "\"bad\xEF\xBF\xBD\""},
    {Color(0xff8000ffu), "color", R"("#ff8000ff")"},
    {DVec2{1, -0.0}, "dvec2", "[1.0,-0.0]"},
    {DVec3{0.5, kInf, std::numeric_limits<double>::quiet_NaN()}, "dvec3", R"([0.5,"inf","nan"])"},
    {DPoint2D{-1.5, 1e-300}, "dpoint2d", "[-1.5,1e-300]"},
    {FPoint3D{0.1f, 0, -0.0f}, "fpoint3d", "[0.1,0.0,-0.0]"},
    {SmartPtr<Shape>(), "shape", "null"}, {SmartPtr<Image>(), "image", "null"},
    {MakeMeshShape({0, 0, 0, 1, -0.0f, 0, 0, 1, 0}, {0, 1, 2}), "shape",
     R"({"vertices":[[0.0,0.0,0.0],[1.0,-0.0,0.0],[0.0,1.0,0.0]],"triangles":[[0,1,2]]})"},
    {std::vector<SmartPtr<Shape>>{SmartPtr<Shape>()}, "shape[]", "[null]"},
    {std::vector<bool>{true, false}, "bool[]", "[true,false]"},
    {std::vector<std::int8_t>{-1, 2}, "int8[]", "[-1,2]"},
    {std::vector<float>{}, "float[]", "[]"},
    {std::vector<double>{1, kInf}, "double[]", R"([1.0,"inf"])"},
    {std::vector<Symbol>{"a", ""}, "string[]", R"(["a",""])"},
    {std::vector<DPoint2D>{{1, 2}, {3, 4}}, "dpoint2d[]", "[[1.0,2.0],[3.0,4.0]]"},
    {std::vector<Quaternion<float>>{{}}, "quat[]", "[[0.0,0.0,0.0,1.0]]"},
    {std::vector<Location>{{}}, "location[]", "[[0.0,0.0,0.0,0.0,0.0,0.0,1.0,1.0]]"}};
// clang-format on

INSTANTIATE_TEST_SUITE_P(ContentJson, JsonWrittenFormTest, testing::ValuesIn(kWritten));

TEST(ContentJsonTest, IndentedLayout) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    top->AddProperty("p", DVec2{1, 2});
    top->AddPropertyValue("q", std::vector<std::int32_t>{1, 2});
    top->StartContent("c")->EndContent();
    EXPECT_EQ(WriteContentJson(*top), R"({
  "name": "figure",
  "properties": [
    {"name": "p", "type": "dvec2", "value": [1.0, 2.0]},
    {"name": "q", "type": "int32[]", "value": [1, 2]}
  ],
  "children": [
    {
      "name": "c",
      "properties": [],
      "children": []
    }
  ]
}
)");
}

// Order survives, and so do names that need escaping, meshes with NaN payloads and images.
TEST(ContentJsonTest, TreesComeBackWholeInOrder) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    top->AddProperty("z", true);
    top->AddProperty("a", std::int32_t{1});
    top->AddProperty("z", Symbol("again"));
    top->AddPropertyValue(
        "m", MakeMeshShape({0, 0, 0, 1, -0.0f, 0, 0, 1, std::bit_cast<float>(0x7fc01234u)},
                           {0, 1, 2, 2, 1, 0}));
    SmartPtr<Image> image(new Image(3, 2, PixelFormat::RGB8));
    for (std::size_t i = 0; i < image->GetPixelBytes(); ++i)
        image->GetPixels()[i] = std::uint8_t(i * 37);
    top->AddPropertyValue("i", image);
    for (const char* name : {"c", "a", "\"quoted\" \xC3\xA9", "a"}) {
        SerializedContentElement* child = top->StartContent(name);
        child->AddProperty(name, DVec2{1, 2});
        child->StartContent("inner")->EndContent();
        child->EndContent();
    }
    for (int indent : {2, 0}) {
        const std::string text = WriteContentJson(*top, {indent});
        kestrel::LoadResult back = ReadContentJson(text);
        ASSERT_TRUE(back) << back.error.description();
        EXPECT_EQ(contentcompare::FirstDifference(*top, *back.tree), "");
        EXPECT_EQ(WriteContentJson(*back.tree, {indent}), text);
        EXPECT_FALSE(back.tree->GetChild(3)->IsOpen());
    }
}

// ---- Accepted forms that are not canonical ------------------------------------------------------

struct AcceptedCase {
    const char* label;
    std::string text;
    std::string canonical;  // what the tree read from text writes in compact form
};

class JsonAcceptedTest : public testing::TestWithParam<AcceptedCase> {};

TEST_P(JsonAcceptedTest, ReadsAndWritesTheCanonicalForm) {
    kestrel::LoadResult read = ReadContentJson(GetParam().text);
    ASSERT_TRUE(read) << read.error.description();
    EXPECT_EQ(WriteContentJson(*read.tree, {0}), GetParam().canonical + "\n");
}

// clang-format off
const std::vector<AcceptedCase> kAccepted = {
    {"MembersInAnyOrder", R"( {"children": [{"properties": [], "name": "c"}], "properties":
         [{"value": 1, "type": "uint8", "name": "p"}], "name": "figure"} )",
     R"({"name":"figure","properties":[{"name":"p","type":"uint8","value":1}],)"
     R"("children":[{"name":"c","properties":[],"children":[]}]})"},
    {"PropertiesAndChildrenAbsent", R"({"name":"figure"})", Doc("")},
    {"EscapesInStrings", R"({"name":"\u00e9\ud83d\ude00\/"})",
     "{\"name\":\"\xC3\xA9\xF0\x9F\x98\x80/\",\"properties\":[],\"children\":[]}"},
    // The only float (with its negative) whose shortest text, read as a double first, rounds
    // to another float.
    {"FloatFromItsOwnText", One("float", "7.038531e-26"), One("float", "7.038531e-26")},
    {"FloatItemFromItsOwnText", One("float[]", "[7.038531e-26]"), One("float[]", "[7.038531e-26]")},
    {"NullImage", One("image", "null"), One("image", "null")},
    {"IntegerForFloat", One("float", "16777217"), One("float", "16777216.0")},
    {"NegativeIntegerZeroIsZero", One("double", "-0"), One("double", "0.0")},
    {"ExponentForDouble", One("double", "1E2"), One("double", "100.0")},
    {"FloatOverflowIsInfinity", One("float", "-1e300"), One("float", R"("-inf")")},
    {"FloatUnderflowIsZero", One("float", "1e-60"), One("float", "0.0")},
    {"NonFiniteTextInAnyCase", One("double[]", R"(["Infinity","NaN"])"),
     One("double[]", R"(["inf","nan"])")},
    {"ShortColours", One("color[]", R"(["#ff8000","0xff","abc"])"),
     One("color[]", R"(["#ff8000ff","#000000ff","#00000abc"])")},
    {"ShortAndUpperCaseHex", One("dhex", R"("0XaBc")"), One("dhex", R"("0x0000000000000abc")")},
    {"IntegersForComponents", One("location", "[1,2,3,0,0,0,1,-1]"),
     One("location", "[1.0,2.0,3.0,0.0,0.0,0.0,1.0,-1.0]")},
    {"IntegerBeyond64BitsForDouble", One("double", "18446744073709551617"),
     One("double", "18446744073709551616.0")},
    {"Int64Limits", One("int64[]", "[-9223372036854775808,9223372036854775807]"),
     One("int64[]", "[-9223372036854775808,9223372036854775807]")},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(ContentJson, JsonAcceptedTest, testing::ValuesIn(kAccepted),
                         [](const testing::TestParamInfo<AcceptedCase>& info) {
                             return info.param.label;
                         });

// ---- Bad inputs ---------------------------------------------------------------------------------

struct BadCase {
    const char* label;
    std::string text;
    const char* path;
    const char* message;  // how the message starts
};

class JsonBadInputTest : public testing::TestWithParam<BadCase> {};

TEST_P(JsonBadInputTest, BuildsNothingAndSaysWhereAndWhy) {
    const BadCase& c = GetParam();
    kestrel::LoadResult read = ReadContentJson(c.text);
    EXPECT_EQ(read.tree, nullptr);
    const kestrel::Error& error = read.error;
    EXPECT_EQ(error.place, c.path);
    EXPECT_EQ(error.code, error.line ? kestrel::Error::Malformed : kestrel::Error::Invalid);
    const std::string said =
        (error.line ? std::to_string(error.line) + ":" + std::to_string(error.column) + ": " : "") +
        error.message;
    EXPECT_EQ(said.rfind(c.message, 0), 0u) << said;
    if (error.line != 0) {
        // Syntax errors are placed where nlohmann's own parser places them.
        EXPECT_EQ(c.text.rfind('\n', error.offset - 1) + 1 + error.column - 1, error.offset);
        try {
            const nlohmann::json parsed = nlohmann::json::parse(c.text);
            ADD_FAILURE() << "nlohmann accepts " << parsed.dump();
        } catch (const nlohmann::json::parse_error& e) {
            EXPECT_NE(std::string(e.what()).find("line " + std::to_string(error.line) +
                                                 ", column " + std::to_string(error.column)),
                      std::string::npos)
                << e.what() << " vs " << error.description();
        } catch (const nlohmann::json::exception&) {
            // Number overflow says no position of its own.
        }
    }
}

const std::string kDeepValue = std::string(100000, '[') + std::string(100000, ']');

// clang-format off
const std::vector<BadCase> kBad = {
    // Text that is not JSON.
    {"Empty", "", "", "1:1: syntax error while parsing value - unexpected end of input"},
    {"BadLiteralOnLineTwo", "[1,\n  tru]", "",
     "2:6: syntax error while parsing value - invalid literal"},
    {"TrailingText", "{\"name\":\"figure\"}\n x", "",
     "2:2: syntax error while parsing value - invalid literal; expected end of input"},
    {"NotUtf8", "{\"name\":\"\xFF\"}", "",
     "1:10: syntax error while parsing value - invalid string: ill-formed UTF-8 byte"},
    {"NumberOverflow", One("double", "1e999"), "", "1:72: number overflow parsing '1e999'"},
    // Elements.
    {"TopNotAnObject", "[]", "", "expected an object"},
    {"MissingName", "{}", "", "missing member \"name\""},
    {"UnknownMemberEscaped", R"({"name":"f","a/b~c":1})", "/a~1b~0c", "unknown member \"a/b~c\""},
    {"DuplicateMember", R"({"name":"a","children":[{"name":"b","name":"c"}]})", "/children/0/name",
     "duplicate member \"name\""},
    {"DuplicateInValue", One("uint8", R"({"a":1,"a":2})"), "/properties/0/value/a",
     "duplicate member \"a\""},
    {"ChildrenNotAnArray", R"({"name":"f","children":null})", "/children", "expected an array"},
    {"PropertiesNotAnArray", R"({"name":"f","properties":{}})", "/properties", "expected an array"},
    {"ChildNotAnObject", R"({"name":"f","children":[{"name":"a"},"b"]})", "/children/1",
     "expected an object"},
    {"DeepChildName",
     R"({"name":"f","children":[{"name":"a"},{"name":"b","children":[{"name":"c"},{"name":2}]}]})",
     "/children/1/children/1/name", "expected a string"},
    // Properties.
    {"PropertyNotAnObject", Doc("[]"), "/properties/0", "expected an object"},
    {"PropertyMissingValue", Doc(R"({"name":"p","type":"bool"})"), "/properties/0",
     "missing member \"value\""},
    {"SecondPropertyTypeNotAString",
     Doc(Prop("bool", "true") + R"(,{"name":"q","type":1,"value":1})"), "/properties/1/type",
     "expected a string"},
    {"UnknownType", One("int128", "1"), "/properties/0/type", "unknown type \"int128\""},
    {"UnknownArrayType", One("image[]", "[]"), "/properties/0/type", "unknown type \"image[]\""},
    // Integers.
    {"Int8Below", One("int8", "-129"), kV, "integer -129 out of range for int8"},
    {"Uint8Negative", One("uint8", "-1"), kV, "integer -1 out of range for uint8"},
    {"Int64Above", One("int64", "9223372036854775808"), kV,
     "integer 9223372036854775808 out of range for int64"},
    {"Uint64Negative", One("uint64", "-1"), kV, "integer -1 out of range for uint64"},
    {"Uint64BeyondAnyInteger", One("uint64", "18446744073709551616"), kV, "expected an integer"},
    {"IntegerWithFraction", One("int32", "1.0"), kV, "expected an integer"},
    {"IntegerArrayItem", One("uint16[]", "[1,2,70000]"), "/properties/0/value/2",
     "integer 70000 out of range for uint16"},
    // Reals.
    {"RealAsBool", One("double", "true"), kV, "expected a number"},
    {"FiniteRealInAString", One("double", R"("1.5")"), kV, "expected a number"},
    {"NanPayloadTooWide", One("float", "\"nan(0x800000)\""), kV, "expected a number"},
    // Other single values.
    {"BoolAsNumber", One("bool", "1"), kV, "expected true or false"},
    {"StringAsNumber", One("string", "1"), kV, "expected a string"},
    {"ColourAsNumber", One("color", "255"), kV, "expected a string"},
    {"ColourNotHex", One("color", R"("#xyz")"), kV, "expected a colour"},
    {"DhexWithoutPrefix", One("dhex", R"("12")"), kV, "expected \"0x\""},
    {"DhexSeventeenDigits", One("dhex", R"("0x00000000000000001")"), kV, "expected \"0x\""},
    {"DhexNoDigits", One("dhex", R"("0x")"), kV, "expected \"0x\""},
    {"DhexAsNumber", One("dhex", "1"), kV, "expected a string"},
    // Compound values and arrays.
    {"CompoundTooShort", One("dvec3", "[1.0,2.0]"), kV, "expected an array of 3 numbers"},
    {"CompoundNotAnArray", One("quat", "1"), kV, "expected an array of 4 numbers"},
    {"LocationComponent", One("location", R"([0,0,0,0,0,0,1,"x"])"), "/properties/0/value/7",
     "expected a number"},
    {"ArrayNotAnArray", One("float[]", "1.0"), kV, "expected an array"},
    {"ArrayItem", One("string[]", R"(["a",null])"), "/properties/0/value/1", "expected a string"},
    {"CompoundArrayItem", One("dpoint2d[]", "[[1,2],[1]]"), "/properties/0/value/1",
     "expected an array of 2 numbers"},
    {"CompoundArrayComponent", One("fvec3[]", R"([[1,2,3],[1,2,"-"]])"), "/properties/0/value/1/2",
     "expected a number"},
    {"DeeplyNestedValue", One("dvec2[]", kDeepValue), "/properties/0/value/0",
     "expected an array of 2 numbers"},
    // Shapes and images.
    {"ShapeNotAnObject", One("shape", "[]"), kV, "expected an object with vertices and triangles"},
    {"ShapeIndexBeyondTheVertices", One("shape", R"({"vertices":[[0,0,0]],"triangles":[[0,0,1]]})"),
     "/properties/0/value/triangles/0/2", "triangle index 1 is not below"},
    {"ShapeRecordOfTwo", One("shape", R"({"vertices":[[0,0]],"triangles":[]})"),
     "/properties/0/value/vertices/0", "expected an array of 3 numbers"},
    {"ShapeUnknownMember", One("shape", R"({"normals":[]})"), kV, "unknown member \"normals\""},
    {"ShapeArrayItem", One("shape[]", "[null, 1]"), "/properties/0/value/1",
     "expected an object with vertices and triangles"},
    {"ImageNotBmp", One("image", R"({"width":1,"height":1,"format":"bmp","data":"AAAA"})"),
     "/properties/0/value/data", "data is not a BMP image"},
    {"ImageBadBase64", One("image", R"({"width":1,"height":1,"format":"bmp","data":"A*AA"})"),
     "/properties/0/value/data", "data: invalid character"},
    {"ImageFormat", One("image", R"({"width":1,"height":1,"format":"png","data":""})"),
     "/properties/0/value/format", "expected \"bmp\""},
    {"ImageWithoutData", One("image", R"({"width":1,"height":1})"), kV, "missing member \"data\""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(ContentJson, JsonBadInputTest, testing::ValuesIn(kBad),
                         [](const testing::TestParamInfo<BadCase>& info) {
                             return info.param.label;
                         });

// ---- Depth --------------------------------------------------------------------------------------

constexpr std::size_t kDepth = 100000;

TEST(ContentJsonTest, DeepTreesRoundTripAndStayLinearInSize) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* current = top.get();
    for (std::size_t i = 0; i < kDepth; ++i) {
        current = current->StartContent("n");
        if (i % 1000 == 0)
            current->AddProperty("depth", static_cast<std::uint64_t>(i));
    }
    // Indentation stops growing, so the indented text stays linear in the depth too (reading it
    // back is the same as reading the compact text, only slower).
    EXPECT_LT(WriteContentJson(*top).size(), kDepth * 1000);
    const std::string text = WriteContentJson(*top, {0});
    EXPECT_LT(text.size(), kDepth * 50);
    kestrel::LoadResult back = ReadContentJson(text);
    ASSERT_TRUE(back) << back.error.description();
    EXPECT_EQ(contentcompare::FirstDifference(*top, *back.tree), "");
    EXPECT_EQ(WriteContentJson(*back.tree, {0}), text);
}

// A chain of kDepth elements below the top, the last one given by leaf. Reading one back whole
// is the round trip above.
std::string DeepDocument(const std::string& leaf) {
    std::string open, close;
    for (std::size_t i = 0; i < kDepth; ++i) {
        open += R"({"name":"n","children":[)";
        close += "]}";
    }
    return open + leaf + close;
}

TEST(ContentJsonTest, DeepDocumentsFailWithTheirPath) {
    kestrel::LoadResult read =
        ReadContentJson(DeepDocument(R"({"name":"leaf","properties":[{}]})"));
    std::string path;
    for (std::size_t i = 0; i < kDepth; ++i)
        path += "/children/0";
    EXPECT_EQ(read.error.place, path + "/properties/0");
    EXPECT_EQ(read.error.message, "missing member \"name\"");
    read = ReadContentJson(DeepDocument("{"));
    EXPECT_EQ(read.error.code, kestrel::Error::Malformed);
    EXPECT_EQ(read.error.line, 1u);
    EXPECT_EQ(read.error.column, kDepth * 24 + 2);
}

}  // namespace
