#include "geometry/XmlElem.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

XmlTree Parse(const std::string& text, std::string* error = nullptr) {
    return XmlTree(ParseXml(text, false, error));
}

TEST(ParseXmlTest, DeepDocumentsParseAndFreeWithoutRecursion) {
    constexpr int kDepth = KESTREL_TEST_DEPTH;
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

// Sets value as the element's text (the packed colour as hex) and reads it back from the text,
// from an attribute holding that text, and from the text written and parsed again.
template <class T>
void ExpectKindRoundTrip(T (XmlElem::*text)() const, T (XmlElem::*attribute)(std::size_t) const,
                         const T& value) {
    XmlElem element(Symbol("e"));
    if constexpr (std::is_same_v<T, std::uint32_t>)
        element.SetTextAsHex(value);
    else
        element.SetText(value);
    EXPECT_EQ((element.*text)(), value);
    XmlElem holder(Symbol("h"));
    holder.SetAttribute(Symbol("value"), element.GetText());
    EXPECT_EQ((holder.*attribute)(holder.FindAttribute(Symbol("value"))), value);
    XmlTree parsed = Parse(WriteXml(element));
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ((parsed.get()->*text)(), value) << element.GetText();
}

TEST(XmlElemTest, EveryKindReadsBackWhatItsSetterWrote) {
    using E = XmlElem;
    // clang-format off
    ExpectKindRoundTrip(&E::GetTextAsInt, &E::GetAttributeAsInt, std::int32_t{-2147483647 - 1});
    ExpectKindRoundTrip(&E::GetTextAsInt64, &E::GetAttributeAsInt64, std::int64_t{-9223372036854775807 - 1});
    ExpectKindRoundTrip(&E::GetTextAsFloat, &E::GetAttributeAsFloat, 0.1f);
    ExpectKindRoundTrip(&E::GetTextAsDouble, &E::GetAttributeAsDouble, 1e-310);
    ExpectKindRoundTrip(&E::GetTextAsBool, &E::GetAttributeAsBool, true);
    ExpectKindRoundTrip(&E::GetTextAsHex, &E::GetAttributeAsHex, 0x80ff00a0u);
    ExpectKindRoundTrip(&E::GetTextAsLocation, &E::GetAttributeAsLocation, Location{{1, -2, 3.5}, {0.5, 0.5, -0.5, 0.5}, 2});
    ExpectKindRoundTrip(&E::GetTextAsDPoint3D, &E::GetAttributeAsDPoint3D, DPoint3D{1e300, -0.0, 7});
    ExpectKindRoundTrip(&E::GetTextAsFPoint3D, &E::GetAttributeAsFPoint3D, FPoint3D{1.5f, 2, 3});
    ExpectKindRoundTrip(&E::GetTextAsDPoint2D, &E::GetAttributeAsDPoint2D, DPoint2D{0.1, 0.2});
    ExpectKindRoundTrip(&E::GetTextAsDVec2, &E::GetAttributeAsDVec2, DVec2{-1, 1});
    ExpectKindRoundTrip(&E::GetTextAsDVec3, &E::GetAttributeAsDVec3, DVec3{1, 2, 1.0 / 3});
    ExpectKindRoundTrip(&E::GetTextAsFVec3, &E::GetAttributeAsFVec3, FVec3{1.0f / 3, 0, -1});
    ExpectKindRoundTrip(&E::GetTextAsQuaternion, &E::GetAttributeAsQuaternion, Quaternion<float>{0.25f, 0.5f, 0.75f, 1});
    // clang-format on
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

// Elements live on the heap, in NewXmlElem's records or in a parsed tree; each way of freeing
// them gives the memory back where it came from, lists grown past a record's size included.
TEST(XmlElemTest, EveryElementIsFreedWhereItCameFrom) {
    struct Counted : XmlElem {
        explicit Counted(int* destroyed) : XmlElem(Symbol("counted")), destroyed_(destroyed) {}
        ~Counted() override { ++*destroyed_; }
        int* destroyed_;
    };
    int destroyed = 0;
    XmlElem* made = NewXmlElem(Symbol("made"), false);
    for (std::uint32_t i = 0; i < 300; ++i)
        made->SetAttribute(Symbol("a" + std::to_string(i)), i);
    for (int i = 0; i < 300; ++i)
        made->AddChild(i % 3 == 0 ? new Counted(&destroyed) : NewXmlElem(Symbol("c"), false));
    EXPECT_EQ(made->GetAttributeText(299), "299");
    EXPECT_EQ(made->GetChildCount(), 300u);
    FreeXml(made);
    EXPECT_EQ(destroyed, 100);

    delete NewXmlElem(Symbol("deleted"), false);
    XmlElem* counted = new Counted(&destroyed);
    delete counted;
    EXPECT_EQ(destroyed, 101);

    XmlTree parsed = Parse("<r a='1'><c/><c b='2'/></r>");
    ASSERT_NE(parsed, nullptr);
    parsed->GetChild(1)->SetAttribute(Symbol("grown"), std::string(2000, 'x'));  // copied out
    parsed->AddChild(NewXmlElem(Symbol("added"), false));
    EXPECT_EQ(WriteXml(*parsed, {0, false}),
              "<r a=\"1\"><c/><c b=\"2\" grown=\"" + std::string(2000, 'x') + "\"/><added/></r>");
}

// A parsed tree counts each distinct name once, however many elements and attributes carry it:
// names taken from it, attributes added to its elements and the tree's end all keep the counts
// right (a wrong one frees a text still in use, which the sanitizers catch).
TEST(ParseXmlTest, ParsedTreesCountEachNameOnce) {
    const std::size_t before = InternedSymbolCount();
    XmlTree parsed = Parse(
        "<lentRoot lentA='1'><lentE lentB='2' lentC='3'/><lentE lentB='4'/><lentF/></lentRoot>");
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(InternedSymbolCount(), before + 6);
    const Symbol kept = parsed->GetChild(0)->GetName();
    const Symbol keptAttribute = parsed->GetChild(1)->GetAttributeName(0);
    XmlElem* grown = parsed->GetChild(0);
    grown->SetAttribute(Symbol("lentB"), "replaced");
    grown->SetAttribute(Symbol("lentAdded"), "x");  // the list is copied out of the tree's blocks
    EXPECT_EQ(grown->GetAttributeName(1), Symbol("lentC"));
    EXPECT_EQ(grown->FindAttribute(Symbol("lentAdded")), 2u);
    EXPECT_EQ(WriteXml(*grown, {0, false}),
              "<lentE lentB=\"replaced\" lentC=\"3\" lentAdded=\"x\"/>");
    parsed.reset();
    EXPECT_EQ(InternedSymbolCount(), before + 2);
    EXPECT_EQ(kept.view(), "lentE");
    EXPECT_EQ(keptAttribute.view(), "lentB");
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

// A tree of several chunks: escaped text, attributes, mixed content, deep and wide parts.
XmlTree ChunkedTree() {
    XmlTree root(NewXmlElem(Symbol("r"), false));
    root->SetAttribute(Symbol("a"), "x\"y");
    for (int i = 0; i < 3000; ++i) {
        XmlElem* child = NewXmlElem(Symbol("c"), false);
        child->SetText("v<" + std::to_string(i) +
                       std::string(static_cast<std::size_t>(i % 50), 'w'));
        root->AddChild(child);
    }
    XmlElem* mixed = NewXmlElem(Symbol("m"), false);
    mixed->SetText(std::string(70000, 't'));  // longer than a chunk on its own
    mixed->AddChild(NewXmlElem(Symbol("inner"), false));
    root->AddChild(mixed);
    XmlElem* deep = root.get();
    for (int i = 0; i < 100; ++i) {
        XmlElem* next = NewXmlElem(Symbol("d"), false);
        deep->AddChild(next);
        deep = next;
    }
    return root;
}

// Written through a sink, the text is the one WriteXml gives whole, in chunks of at most 64 KiB,
// for every layout; the size estimate is never below it when nothing needs escaping but '<'.
TEST(WriteXmlTest, SinkGetsTheSameTextInChunks) {
    const XmlTree root = ChunkedTree();
    for (const XmlWriteOptions layout :
         {XmlWriteOptions{2, true}, XmlWriteOptions{0, false}, XmlWriteOptions{4, false}}) {
        std::string chunked;
        std::size_t chunks = 0;
        ASSERT_TRUE(WriteXml(
            *root,
            [&](std::string_view chunk) {
                EXPECT_LE(chunk.size(), std::size_t{64} << 10);
                EXPECT_FALSE(chunk.empty());
                chunked += chunk;
                ++chunks;
                return true;
            },
            layout));
        const std::string whole = WriteXml(*root, layout);
        EXPECT_EQ(chunked, whole) << layout.indent;
        EXPECT_GT(chunks, 1u);
        EXPECT_GE(EstimateXmlSize(*root, layout) + 3000 * 3, whole.size());
    }
}

// A sink that refuses a chunk hears nothing more, and the writer says so.
TEST(WriteXmlTest, SinkThatFailsStopsTheWriting) {
    const XmlTree root = ChunkedTree();
    for (int failAt = 1; failAt <= 3; ++failAt) {
        int calls = 0;
        EXPECT_FALSE(WriteXml(*root, [&](std::string_view) { return ++calls < failAt; }));
        EXPECT_EQ(calls, failAt);
    }
}

}  // namespace
