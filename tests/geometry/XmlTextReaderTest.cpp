// ParseXml as an XML 1.0 reader: what each rule of well-formedness accepts and refuses (with
// where and why), what references, entities, declared attributes, line ends and white space give,
// the encodings it converts, and the limits that keep hostile documents cheap.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "geometry/XmlElem.h"

namespace {

std::string ToUtf16Le(const std::string& ascii, bool mark = true) {
    std::string out = mark ? "\xFF\xFE" : "";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string ToUtf16Be(const std::string& ascii, bool mark = true) {
    std::string out = mark ? "\xFE\xFF" : "";
    for (char c : ascii) {
        out += '\0';
        out += c;
    }
    return out;
}

// ---- what documents read to ----

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
    EXPECT_EQ(root->GetTextView(), GetParam().text);  // before a string is made of it
    EXPECT_EQ(root->GetText(), GetParam().text);
    const std::size_t index = root->FindAttribute(Symbol("a"));
    EXPECT_EQ(index == XmlElem::npos ? "" : root->GetAttributeText(index), GetParam().attribute);
}

// clang-format off
const TextCase kTextCases[] = {
    {"PredefinedEntities", "<r a='&lt;&gt;&amp;&apos;&quot;'>&lt;&amp;&gt;</r>", "<&>", "<>&'\""},
    {"CharacterReferences", "<r a='&#65;&#x42;&#x1F600;'>&#233;&#xe9;</r>", "\xC3\xA9\xC3\xA9", "AB\xF0\x9F\x98\x80"},
    {"LineEndsBecomeLf", "<r>a\r\nb\rc\n</r>", "a\nb\nc\n", ""},
    {"AttributeWhiteSpaceBecomesSpaces", "<r a='x\ty\nz\r\nw'/>", "", "x y z w"},
    {"BlankTextDropped", "<r>\n  <c/>\n  </r>", "", ""},
    {"BlankTextKeptWhenAsked", "<r> <c/>\t</r>", " \t", "", true},
    {"BlanksAroundAReferenceAreText", "<r> &amp; </r>", " & ", ""},
    {"SegmentsJoinAroundMarkup", "<r>a<!-- c --><?pi x?><c>inner</c>b<![CDATA[ <&]]> ]]&gt;c</r>", "ab <& ]]>c", ""},
    {"LongTextOneRun", "<r>" + std::string(300, 'x') + "</r>", std::string(300, 'x'), ""},
    {"LongTextJoinedAroundAChild", "<r>" + std::string(200, 'a') + "<c>" + std::string(300, 'c') + "</c>" + std::string(200, 'b') + "</r>", std::string(200, 'a') + std::string(200, 'b'), ""},
    {"LongTextWithAReference", "<r>" + std::string(300, 'a') + "&amp;</r>", std::string(300, 'a') + "&", ""},
    {"CdataLineEnds", "<r><![CDATA[a\r\nb\r]]></r>", "a\nb\n", ""},
    {"ByteOrderMarkAndDeclaration", "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>\n<r>x</r>", "x", ""},
    {"LaterMinorVersionReadAsOne", "<?xml version='1.7'?><r/>", "", ""},
    {"NonAsciiNames", "<\xC3\xA9l\xC3\xA9ment a='1'>t</\xC3\xA9l\xC3\xA9ment>", "t", "1"},
    {"AllCharacterRanges", "<r>\t\x7F\xC2\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF</r>", "\t\x7F\xC2\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", ""},
    // Internal entities: declared in the internal subset, expanded in text and values.
    {"EntityInTextAndAttribute", "<!DOCTYPE r [<!ENTITY e \"a>b\"> <!-- ] > --> <!ATTLIST r b CDATA 'd'>]>\n<r a='[&e;]'>&e;</r>", "a>b", "[a>b]"},
    {"EntityReferencesResolvedAtUse", "<!DOCTYPE r [<!ENTITY f 'x'><!ENTITY e '[&f;]'>]><r a='&e;'>&e;</r>", "[x]", "[x]"},
    {"LessThanByReferenceInEntityIsMarkupInText", "<!DOCTYPE r [<!ENTITY e '&#60;c/>t'>]><r>&e;</r>", "t", ""},
    {"CarriageReturnReferenceInEntity", "<!DOCTYPE r [<!ENTITY e '1&#13;2&#9;3'>]><r a='&e;'>&e;</r>", "1\r2\t3", "1 2 3"},
    {"FirstDeclarationBinds", "<!DOCTYPE r [<!ENTITY e 'one'><!ENTITY e 'two'>]><r>&e;</r>", "one", ""},
    {"PredefinedMayBeDeclared", "<!DOCTYPE r [<!ENTITY lt '&#38;#60;'><!ENTITY amp '&#38;#38;'>]><r>&lt;&amp;</r>", "<&", ""},
    {"ParameterEntityDeclaresBetweenDeclarations", "<!DOCTYPE r [<!ENTITY % d '<!ENTITY e \"x\">'> %d; %d;]><r>&e;</r>", "x", ""},
    // Declared attributes: defaults and the normalisation of types other than CDATA.
    {"DefaultSupplied", "<!DOCTYPE r [<!ATTLIST r a CDATA 'x&#32; y'>]><r/>", "", "x  y"},
    {"TokenizedValuesCollapse", "<!DOCTYPE r [<!ATTLIST r a NMTOKENS #IMPLIED>]><r a=' \t x \n  y  '/>", "", "x y"},
    {"FirstAttributeDeclarationBinds", "<!DOCTYPE r [<!ATTLIST r a CDATA 'one'><!ATTLIST r a ID 'two'>]><r/>", "", "one"},
    // After a parameter entity that is not read, later declarations are not processed,
    // unless the document stands alone.
    {"DeclarationsAfterUnreadParameterEntityIgnored", "<!DOCTYPE r [<!ENTITY % x SYSTEM 'x.dtd'> %x; <!ATTLIST r a CDATA 'd'>]><r/>", "", ""},
    {"DeclarationsAfterUnreadParameterEntityProcessedWhenStandalone", "<?xml version='1.0' standalone='yes'?><!DOCTYPE r [<!ENTITY % x SYSTEM 'x.dtd'> %x; <!ATTLIST r a CDATA 'd'>]><r/>", "", "d"},
    {"ExternalSubsetDoesNotStopInternalDeclarations", "<!DOCTYPE r SYSTEM 'r.dtd' [<!ENTITY e 'x'><!ATTLIST r a CDATA 'd'>]><r>&e;</r>", "x", "d"},
    {"UnusedExternalAndUnparsedEntities", "<!DOCTYPE r [<!NOTATION n PUBLIC '-//N//EN'><!ENTITY u SYSTEM 'u.png' NDATA n><!ENTITY x PUBLIC '-//X' \"x.xml\"><!ATTLIST r a ENTITY 'u'>]><r/>", "", "u"},
    // Encodings other than UTF-8 are converted first.
    {"Latin1", "<?xml version='1.0' encoding='ISO-8859-1'?><r a='\xE9'>\xFF</r>", "\xC3\xBF", "\xC3\xA9"},
    {"Utf16LittleEndian", ToUtf16Le("<?xml version='1.0' encoding='UTF-16'?><r a='x'/>"), "", "x"},
    {"Utf16BigEndianWithoutMark", ToUtf16Be("<?xml version='1.0' encoding='UTF-16'?><r>t</r>", false), "t", ""},
    {"Utf16Surrogates", std::string("\xFF\xFE<\0r\0>\0\x3D\xD8\x00\xDE<\0/\0r\0>\0", 20), "\xF0\x9F\x98\x80", ""},
    {"Utf32", std::string("\xFF\xFE\0\0<\0\0\0r\0\0\0/\0\0\0>\0\0\0", 20), "", ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, ParseXmlTextTest, testing::ValuesIn(kTextCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the rules, each with a document that keeps it and one that breaks it ----

struct RuleCase {
    const char* name;  // the production or constraint
    std::string good;
    std::string bad;
    std::string error;  // "line:column: reason", or its start; without a position, a fragment
};

class ParseXmlRuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(ParseXmlRuleTest, AcceptsTheGoodAndRefusesTheBad) {
    const RuleCase& rule = GetParam();
    std::string error;
    if (!rule.good.empty()) {
        XmlTree good(ParseXml(rule.good, false, &error));
        EXPECT_NE(good, nullptr) << error;
    }
    const XmlParseResult bad = ParseXmlDocument(rule.bad, false);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.root, nullptr);
    // The wrapper says what the result says, and the offset is the place line and column count.
    error.clear();
    EXPECT_EQ(XmlTree(ParseXml(rule.bad, false, &error)), nullptr);
    EXPECT_EQ(XmlTree(ParseXml(rule.bad, false, nullptr)), nullptr);  // no place for the error
    EXPECT_EQ(error, bad.description());
    if (rule.bad.find('\0') == std::string::npos && rule.bad.compare(0, 2, "\xFF\xFE") != 0 &&
        rule.bad.compare(0, 2, "\xFE\xFF") != 0) {
        const std::string before = rule.bad.substr(0, bad.offset);
        const std::size_t lastLine = before.rfind('\n');
        EXPECT_EQ(bad.line, 1 + std::count(before.begin(), before.end(), '\n'));
        EXPECT_EQ(bad.column,
                  lastLine == std::string::npos ? bad.offset + 1 : bad.offset - lastLine);
    }
    if (!rule.error.empty() && rule.error[0] >= '0' && rule.error[0] <= '9')
        EXPECT_EQ(error.substr(0, rule.error.size()), rule.error);
    else
        EXPECT_NE(error.find(rule.error), std::string::npos) << error;
}

const std::string kDtd = "<!DOCTYPE r [";

// clang-format off
const RuleCase kRules[] = {
    // Document: one root, and only comments, PIs and white space around it.
    {"Document_Empty", "<r/>", "", "1:1: no root element"},
    {"Document_OnlyComments", "<!-- a --><r/>", "<!-- a -->\n", "2:1: no root element"},
    {"Document_SecondRoot", "<r/>\n<!-- c -->", "<r/>\n<s/>", "2:1: more than one root element"},
    {"Document_TextAfterRoot", "<r/> \n", "<r/>x", "1:5: text outside the root element"},
    {"Document_TextBeforeRoot", " <r/>", "x<r/>", "1:1: text outside the root element"},
    {"Document_ReferenceAfterRoot", "<r/>", "<r/>&amp;", "1:5: text outside the root element"},
    {"Document_DoctypeAfterRoot", "<!DOCTYPE r><r/>", "<r/><!DOCTYPE r>", "1:5: unexpected markup after the root"},
    {"Document_SecondDoctype", "<!DOCTYPE r><r/>", "<!DOCTYPE r><!DOCTYPE r><r/>", "1:13: a second document type declaration"},
    // XMLDecl: only at the very start; version, encoding, standalone in that order.
    {"XMLDecl_AtStart", "<?xml version='1.0'?><r/>", " <?xml version='1.0'?><r/>", "1:2: XML declaration not at the start of the text"},
    {"XMLDecl_NotInContent", "<r><?xml-stylesheet href='a'?></r>", "<r><?xml version='1.0'?></r>", "1:4: XML declaration not at the start"},
    {"XMLDecl_VersionFirst", "<?xml version='1.0' encoding='UTF-8'?><r/>", "<?xml encoding='UTF-8'?><r/>", "1:7: expected 'version' in the XML declaration"},
    {"XMLDecl_VersionNum", "<?xml version=\"1.0\"?><r/>", "<?xml version='1.x'?><r/>", "1:16: version '1.x' is not an XML 1.x version"},
    {"XMLDecl_Order", "<?xml version='1.0' encoding='UTF-8' standalone='yes'?><r/>", "<?xml version='1.0' standalone='yes' encoding='UTF-8'?><r/>", "1:38: expected 'encoding', 'standalone' or '?>'"},
    {"XMLDecl_SpaceBetween", "<?xml version='1.0' standalone='no'?><r/>", "<?xml version='1.0'standalone='no'?><r/>", "1:20: expected '?>' to end the XML declaration, found 's'"},
    {"XMLDecl_Eq", "<?xml version = '1.0'?><r/>", "<?xml version:'1.0'?><r/>", "1:14: expected '=' after 'version'"},
    {"XMLDecl_StandaloneValue", "<?xml version='1.0' standalone='no'?><r/>", "<?xml version='1.0' standalone='YES'?><r/>", "1:33: standalone must be 'yes' or 'no'"},
    {"XMLDecl_EncName", ToUtf16Le("<?xml version='1.0' encoding='utf-16'?><r/>"), ToUtf16Le("<?xml version='1.0' encoding='16'?><r/>"), "1:31: '16' is not an encoding name"},
    {"XMLDecl_NotClosed", "<?xml version='1.0' ?><r/>", "<?xml version='1.0' <r/>", "1:21: expected 'encoding', 'standalone' or '?>'"},
    {"XMLDecl_UnsupportedEncoding", "<?xml version='1.0' encoding='latin1'?><r/>", "<?xml version='1.0' encoding='Shift_JIS'?><r/>", "1:31: encoding 'Shift_JIS' is not supported"},
    {"XMLDecl_EncodingContradictsMark", ToUtf16Le("<?xml version='1.0' encoding='UTF-16LE'?><r/>"), ToUtf16Le("<?xml version='1.0' encoding='UTF-8'?><r/>"), "1:31: encoding 'UTF-8' declared, but the text is UTF-16 (little-endian)"},
    {"XMLDecl_Utf8MarkAndLatin1", "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?><r/>", "\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?><r/>", "encoding 'ISO-8859-1' declared, but the text is UTF-8"},
    {"XMLDecl_Utf16NamedInSingleBytes", "", "<?xml version='1.0' encoding='UTF-16'?><r/>", "1:31: encoding 'UTF-16' declared, but the text has no byte order mark"},
    {"Encoding_AsciiHasNoHighBytes", "<?xml version='1.0' encoding='ascii'?><r/>", "<?xml version='1.0' encoding='US-ASCII'?>\n<r>\xC3\xA9</r>", "2:4: byte 0xC3 is not ASCII"},
    {"Encoding_Utf16LoneSurrogate", "", std::string("\xFF\xFE<\0r\0>\0\x3D\xD8<\0/\0r\0>\0", 18), "1:4: a high surrogate without its low surrogate"},
    {"Encoding_Ebcdic", "", "\x4C\x6F\xA7\x94", "EBCDIC, which is not supported"},
    // Char: tab, LF, CR and U+0020 on, without surrogates, U+FFFE and U+FFFF; UTF-8 only.
    {"Char_Control", "<r>\t\n\r</r>", "<r>a\x01</r>", "1:5: control character U+0001 is not allowed in XML 1.0"},
    {"Char_Nul", "<r/>", std::string("<r>\0</r>", 8), "1:4: control character U+0000"},
    {"Char_ControlInAttribute", "<r a='\t'/>", "<r a='\x1F'/>", "1:7: control character U+001F"},
    {"Char_ControlInComment", "<r><!-- \t --></r>", "<r><!-- \x0B --></r>", "1:9: control character U+000B"},
    {"Char_ControlInInstruction", "<r><?pi \t?></r>", "<r><?pi \x0C?></r>", "1:9: control character U+000C"},
    {"Char_ControlInCdata", "<r><![CDATA[\t]]></r>", "<r><![CDATA[\x7F\x1B]]></r>", "1:14: control character U+001B"},
    {"Char_ControlInEntityValue", kDtd + "<!ENTITY e '\t'>]><r/>", kDtd + "<!ENTITY e '\x02'>]><r/>", "1:26: control character U+0002"},
    {"Char_ControlInSystemLiteral", "<!DOCTYPE r SYSTEM 'a'><r/>", "<!DOCTYPE r SYSTEM 'a\x03'><r/>", "1:22: control character U+0003"},
    {"Char_NotACharacter", "<r>\xEF\xBF\xBD</r>", "<r>\xEF\xBF\xBE</r>", "1:4: character U+FFFE is not allowed in XML"},
    {"Char_Utf8Truncated", "<r>\xC3\xA9</r>", "<r>\xC3(</r>", "1:4: byte 0xC3 is not UTF-8"},
    {"Char_Utf8Overlong", "<r>/</r>", "<r>\xC0\xAF</r>", "1:4: byte 0xC0 is not UTF-8"},
    {"Char_Utf8Surrogate", "<r>\xED\x9F\xBF</r>", "<r>\xED\xA0\x80</r>", "1:4: byte 0xED is not UTF-8"},
    {"Char_Utf8PastLast", "<r>\xF4\x8F\xBF\xBF</r>", "<r>\xF4\x90\x80\x80</r>", "1:4: byte 0xF4 is not UTF-8"},
    {"Char_Utf8ContinuationAlone", "<r/>", "<r a='\x80'/>", "1:7: byte 0x80 is not UTF-8"},
    // Names: NameStartChar, then NameChar.
    {"NameStartChar", "<\xC3\x80/>", "<r><\xCC\x80/></r>", "1:5: expected a name, '/', '!' or '?' after '<', found '\xCC\x80' (U+0300)"},
    {"NameStartChar_Digit", "<_1/>", "<1/>", "1:1: expected the root element"},
    {"NameChar", "<a-.\xC2\xB7\xE2\x80\xBF/>", "<a\xE2\x80\x80/>", "1:3: expected white space, '>' or '/>' in <a>, found '\xE2\x80\x80' (U+2000)"},
    {"NameChar_Attribute", "<r a\xC3\xA9='1'/>", "<r a\xC3\x97='1'/>", "1:5: expected '=' after attribute 'a'"},
    // CharData: no "]]>".
    {"CharData_CdataEnd", "<r>]]&gt;</r>", "<r>a]]>b</r>", "1:5: ']]>' in text: it may only end a CDATA section"},
    // References: &name; and &#N; and &#xH; only, each to a character XML can carry.
    {"Reference_Bare", "<r>a &amp; b</r>", "<r>a & b</r>", "1:6: '&' must begin a reference such as '&amp;', found ' '"},
    {"Reference_Empty", "<r>&amp;</r>", "<r>&;</r>", "1:4: '&' must begin a reference"},
    {"Reference_BareInAttribute", "<r a='&amp;'/>", "<r a='a&b'/>", "1:8: expected ';' to end the reference '&b'"},
    {"Reference_NoSemicolon", "<r>&amp;x</r>", "<r>&amp x</r>", "1:4: expected ';' to end the reference '&amp'"},
    {"CharRef_Digits", "<r>&#65;</r>", "<r>&#;</r>", "1:4: expected digits in the character reference"},
    {"CharRef_HexDigits", "<r>&#x41;</r>", "<r>&#x;</r>", "1:4: expected hexadecimal digits"},
    {"CharRef_LowerX", "<r>&#x41;</r>", "<r>&#X41;</r>", "1:4: expected digits"},
    {"CharRef_NotDecimal", "<r>&#10;</r>", "<r>&#1a;</r>", "1:4: expected ';' to end the character reference, found 'a'"},
    {"CharRef_Control", "<r>&#9;&#xA;&#13;</r>", "<r>&#1;</r>", "1:4: invalid character reference '&#1;': control character U+0001 is not allowed in XML 1.0"},
    {"CharRef_ControlHex", "<r a='&#x20;'/>", "<r a='&#x1F;'/>", "1:7: invalid character reference '&#x1F;'"},
    {"CharRef_Nul", "<r/>", "<r>&#0;</r>", "1:4: invalid character reference '&#0;'"},
    {"CharRef_Surrogate", "<r a='&#xD7FF;'/>", "<r a='&#xD800;'/>", "1:7: invalid character reference"},
    {"CharRef_NotACharacter", "<r>&#xFFFD;</r>", "<r>&#xFFFF;</r>", "character U+FFFF is not allowed"},
    {"CharRef_PastLast", "<r>&#x10FFFF;</r>", "<r>&#x110000;</r>", "past U+10FFFF"},
    {"CharRef_Huge", "<r>&#1114111;</r>", "<r>&#99999999999999999999;</r>", "past U+10FFFF"},
    // Elements and attributes.
    {"ElementTypeMatch", "<r>\n <a></a></r>", "<r>\n <a></b></r>", "2:5: end tag </b> does not match <a> opened at 2:2"},
    {"ElementTypeMatch_Longer", "<r><ab></ab></r>", "<r><a></ab></r>", "1:7: end tag </ab> does not match <a> opened at 1:4"},
    {"ElementTypeMatch_Shorter", "<r><a></a ></r>", "<r><ab></a></r>", "1:8: end tag </a> does not match <ab> opened at 1:4"},
    {"ElementTypeMatch_NonAsciiNameChar", "<r><a\xC2\xB7></a\xC2\xB7></r>", "<r><a></a\xC2\xB7></r>", "1:7: end tag </a\xC2\xB7> does not match <a>"},
    {"ElementTypeMatch_EndOfText", "<r><a></a></r>", "<r><a></a", "1:10: expected '>' to end </a>"},
    {"Element_Unclosed", "<r><a/></r>", "<r><a>", "1:7: end of text inside <a>, opened at 1:4"},
    {"ETag_Space", "<r></r \n>", "<r></r x>", "1:8: expected '>' to end </r>"},
    {"STag_Unclosed", "<r/>", "<r a='1'", "1:1: start tag <r> is not closed"},
    {"STag_SpaceBetweenAttributes", "<r a='1' b='2'/>", "<r a='1'b='2'/>", "1:9: expected white space"},
    {"STag_LessThanSpace", "<r><a/></r>", "<r>< a</r>", "1:5: expected a name, '/', '!' or '?' after '<', found ' '"},
    {"STag_ControlByte", "<r/>", "<r\x01/>", "1:3: expected white space, '>' or '/>' in <r>, found byte 0x01"},
    {"Attribute_Quoted", "<r a='1'/>", "<r a=1/>", "1:6: expected a quoted value"},
    {"Attribute_Eq", "<r a='1'/>", "<r a/>", "1:5: expected '=' after attribute 'a'"},
    {"Attribute_NotClosed", "<r a='1'/>", "<r a='1/>", "1:6: value of attribute 'a' is not closed"},
    {"UniqueAttSpec", "<r a='1' A='2'/>", "<r a='1' a='2'/>", "1:1: attribute 'a' repeated"},
    {"NoLessThanInAttributeValues", "<r a='&lt;'/>", "<r a='<'/>", "1:7: '<' inside an attribute value"},
    {"NoLessThanInAttributeValues_ThroughEntity", kDtd + "<!ENTITY e '&#38;#60;'>]><r a='&e;'/>", kDtd + "<!ENTITY e 'x&#60;'>]><r a='&e;'/>", "1:42: '<' inside an attribute value (in the replacement text of entity 'e')"},
    {"NoLessThanInAttributeValues_Default", kDtd + "<!ATTLIST r a CDATA '&lt;'>]><r/>", kDtd + "<!ATTLIST r a CDATA '<'>]><r/>", "1:35: '<' inside an attribute value"},
    // Comments, processing instructions, CDATA sections.
    {"Comment_DoubleHyphen", "<r><!-- a - b --></r>", "<r><!-- a -- b --></r>", "1:11: '--' inside a comment"},
    {"Comment_HyphenBeforeEnd", "<r><!----></r>", "<r><!-- a ---></r>", "1:11: '--' inside a comment"},
    {"Comment_Unclosed", "<r><!-- a --></r>", "<r><!-- a", "1:4: comment is not closed"},
    {"PI_ReservedTarget", "<r><?xml-model x?></r>", "<r><?XmL x?></r>", "1:4: processing instruction target 'XmL' is reserved"},
    {"PI_SpaceAfterTarget", "<r><?pi?></r>", "<r><?pi-x?><?pi?x?></r>", "1:16: expected white space or '?>' after the processing instruction target"},
    {"PI_Target", "<r><?pi x?></r>", "<r><? pi?></r>", "1:6: expected a processing instruction target, found ' '"},
    {"PI_Unclosed", "<r><?pi ?></r>", "<r><?pi ?</r>", "1:4: processing instruction is not closed"},
    {"CDSect_Unclosed", "<r><![CDATA[ a ]]></r>", "<r><![CDATA[ a", "1:4: CDATA section is not closed"},
    {"CDSect_Keyword", "<r><![CDATA[]]></r>", "<r><![cdata[ a ]]></r>", "1:4: unexpected '<!' inside <r>"},
    // The document type declaration and its internal subset.
    {"Doctype_Name", "<!DOCTYPE r><r/>", "<!DOCTYPE><r/>", "1:10: expected white space after '<!DOCTYPE'"},
    {"Doctype_Unclosed", "<!DOCTYPE r [ ]><r/>", "<!DOCTYPE r [ <!-- c --> ", "1:1: document type declaration is not closed"},
    {"Doctype_AfterSubset", "<!DOCTYPE r [ ] ><r/>", "<!DOCTYPE r [ ] x><r/>", "1:17: expected '>' to end the document type declaration"},
    {"ExternalID_System", "<!DOCTYPE r SYSTEM 'r.dtd'><r/>", "<!DOCTYPE r SYSTEM><r/>", "1:19: expected white space after SYSTEM"},
    {"ExternalID_SpaceBefore", "<!DOCTYPE r SYSTEM 'r.dtd'><r/>", "<!DOCTYPE r[]SYSTEM 'r.dtd'><r/>", "1:14: expected '>'"},
    {"ExternalID_PublicNeedsSystem", "<!DOCTYPE r PUBLIC '-//A//B' 'r.dtd'><r/>", "<!DOCTYPE r PUBLIC '-//A//B'><r/>", "1:29: expected white space and a system literal"},
    {"PubidChar", "<!DOCTYPE r PUBLIC \"-//A'(+,./:=?;!*#@$_%)\n\" 'r'><r/>", "<!DOCTYPE r PUBLIC '-//{' 'r.dtd'><r/>", "1:24: character '{' is not allowed in a public identifier"},
    {"PubidChar_Tab", "", "<!DOCTYPE r PUBLIC 'a\tb' 'r.dtd'><r/>", "not allowed in a public identifier"},
    {"IntSubset_Junk", kDtd + " <!-- c --> <?pi x?> ]><r/>", kDtd + " x ]><r/>", "1:15: expected a markup declaration, a parameter entity reference or ']'"},
    {"IntSubset_NoConditionalSections", "", kDtd + "<![INCLUDE[ <!ELEMENT r ANY> ]]>]><r/>", "1:14: conditional sections are only allowed in the external subset"},
    {"IntSubset_UnknownDeclaration", "", kDtd + "<!ELEMENTS r ANY>]><r/>", "1:23: expected white space after '<!ELEMENT'"},
    {"ElementDecl_Keywords", kDtd + "<!ELEMENT r EMPTY><!ELEMENT s ANY >]><r/>", kDtd + "<!ELEMENT r empty>]><r/>", "1:26: expected EMPTY, ANY or '('"},
    {"ElementDecl_Mixed", kDtd + "<!ELEMENT r ( #PCDATA | a | b )*><!ELEMENT s (#PCDATA)*><!ELEMENT t (#PCDATA)>]><r/>", kDtd + "<!ELEMENT r (#PCDATA|a)>]><r/>", "1:37: mixed content naming elements"},
    {"ElementDecl_PcdataFirst", kDtd + "<!ELEMENT r (#PCDATA|a)*>]><r/>", kDtd + "<!ELEMENT r (a|#PCDATA)*>]><r/>", "1:29: expected an element name or '(' in the content model, found '#'"},
    {"ElementDecl_Children", kDtd + "<!ELEMENT r (a,(b|c)+,d?,(e))*>]><r/>", kDtd + "<!ELEMENT r (a,b|c)>]><r/>", "1:30: '|' and ',' mixed in one group"},
    {"ElementDecl_EmptyGroup", kDtd + "<!ELEMENT r (a)>]><r/>", kDtd + "<!ELEMENT r ()>]><r/>", "1:27: expected an element name or '('"},
    {"ElementDecl_SpaceBeforeQuantifier", kDtd + "<!ELEMENT r (a)+>]><r/>", kDtd + "<!ELEMENT r (a) +>]><r/>", "1:30: expected '>' to end the element"},
    {"ElementDecl_Unclosed", kDtd + "<!ELEMENT r ((a))>]><r/>", kDtd + "<!ELEMENT r ((a)>]><r/>", "1:30: expected '|', ',' or ')'"},
    {"AttlistDecl_Types", kDtd + "<!NOTATION n SYSTEM 'n'><!ATTLIST r a CDATA #IMPLIED b ID #IMPLIED c IDREF #IMPLIED d IDREFS #IMPLIED e ENTITY #IMPLIED f ENTITIES #IMPLIED g NMTOKEN #IMPLIED h NMTOKENS #IMPLIED i NOTATION ( n ) #IMPLIED j (x|1) #REQUIRED>]><r j='1'/>", kDtd + "<!ATTLIST r a STRING #IMPLIED>]><r/>", "1:28: expected an attribute type"},
    {"AttlistDecl_TypeWord", "", kDtd + "<!ATTLIST r a IDS #IMPLIED>]><r/>", "1:28: expected an attribute type"},
    {"AttlistDecl_Enumeration", kDtd + "<!ATTLIST r a ( x | y ) 'x'>]><r/>", kDtd + "<!ATTLIST r a (x y) 'x'>]><r/>", "1:31: expected '|' or ')' in the enumeration, found 'y'"},
    {"AttlistDecl_NotationSpace", "", kDtd + "<!ATTLIST r a NOTATION(n) #IMPLIED>]><r/>", "1:36: expected white space after NOTATION"},
    {"AttlistDecl_Default", kDtd + "<!ATTLIST r a CDATA #FIXED \"v\">]><r/>", kDtd + "<!ATTLIST r a CDATA #DEFAULT 'x'>]><r/>", "1:34: expected #REQUIRED, #IMPLIED, #FIXED or a quoted default value"},
    {"AttlistDecl_SpaceBetween", kDtd + "<!ATTLIST r a CDATA #IMPLIED b CDATA 'x'>]><r/>", kDtd + "<!ATTLIST r a CDATA 'x'b CDATA 'y'>]><r/>", "1:37: expected white space or '>' in the attribute-list declaration"},
    {"EntityDecl_General", kDtd + "<!ENTITY e 'x'><!ENTITY f SYSTEM 'f'>]><r/>", kDtd + "<!ENTITY e>]><r/>", "1:24: expected white space after the entity name"},
    {"EntityDecl_Parameter", kDtd + "<!ENTITY % e 'x'>]><r/>", kDtd + "<!ENTITY %e 'x'>]><r/>", "1:24: expected white space after '%' in a parameter entity declaration"},
    {"EntityDecl_NdataOnlyGeneral", kDtd + "<!NOTATION n SYSTEM 'n'><!ENTITY e SYSTEM 'e' NDATA n>]><r/>", kDtd + "<!ENTITY % e SYSTEM 'e' NDATA n>]><r/>", "1:38: a parameter entity cannot be unparsed (NDATA)"},
    {"EntityDecl_NdataNeedsExternal", "", kDtd + "<!ENTITY e 'x' NDATA n>]><r/>", "1:29: expected '>' to end the declaration of entity 'e'"},
    {"EntityDecl_Unclosed", "", kDtd + "<!ENTITY e 'x>]><r/>", "1:25: value of entity 'e' is not closed"},
    {"EntityValue_Percent", kDtd + "<!ENTITY e '5&#37;'>]><r>&e;</r>", kDtd + "<!ENTITY e '5%'>]><r/>", "1:27: '%' in an entity value must begin a parameter entity reference"},
    {"EntityValue_Ampersand", kDtd + "<!ENTITY e 'a &amp; b'>]><r/>", kDtd + "<!ENTITY e 'a & b'>]><r/>", "1:28: '&' must begin a reference"},
    {"EntityValue_CharRef", kDtd + "<!ENTITY e '&#x41;'>]><r/>", kDtd + "<!ENTITY e '&#x1;'>]><r/>", "1:26: invalid character reference '&#x1;'"},
    {"NotationDecl", kDtd + "<!NOTATION n PUBLIC '-//N'><!NOTATION m PUBLIC 'm' 'm'>]><r/>", kDtd + "<!NOTATION n>]><r/>", "1:26: expected white space after the notation name"},
    {"NotationDecl_ExternalId", "", kDtd + "<!NOTATION n 'n'>]><r/>", "1:27: expected SYSTEM or PUBLIC"},
    // WFC: PEs in Internal Subset.
    {"PEsInInternalSubset", kDtd + "<!ENTITY % t '<!ATTLIST r a CDATA \"d\">'> %t;]><r/>", kDtd + "<!ENTITY % t 'CDATA'><!ATTLIST r a %t; #IMPLIED>]><r/>", "1:49: expected an attribute type (CDATA, ID, IDREF, IDREFS, ENTITY, ENTITIES, NMTOKEN, NMTOKENS, NOTATION or '('), found '%' (the internal subset takes parameter entity references only between declarations)"},
    {"PEsInInternalSubset_EntityValue", kDtd + "<!ENTITY % p 'x'>]><r/>", kDtd + "<!ENTITY % p 'x'><!ENTITY e '%p;'>]><r/>", "1:43: parameter entity reference '%p;' inside a declaration"},
    {"PEReference_Semicolon", kDtd + "<!ENTITY % p ''> %p; ]><r/>", kDtd + "<!ENTITY % p ''> %p ]><r/>", "1:33: expected ';' to end the parameter entity reference '%p'"},
    {"PEReference_WholeDeclarations", "", kDtd + "<!ENTITY % p '<!ELEMENT r'> %p; ANY>]><r/>", "1:42: expected white space after the element type name, found end of text (in the replacement text of entity '%p')"},
    // WFC: Entity Declared.
    {"EntityDeclared_NoDtd", "<r>&amp;</r>", "<r>&nbsp;</r>", "1:4: entity 'nbsp' is not declared"},
    {"EntityDeclared_InternalSubsetOnly", kDtd + "<!ENTITY e ''>]><r a='&e;'/>", kDtd + "<!ENTITY f ''>]><r a='&e;'/>", "1:36: entity 'e' is not declared"},
    {"EntityDeclared_Standalone", "<?xml version='1.0' standalone='yes'?><!DOCTYPE r SYSTEM 'r.dtd'><r/>", "<?xml version='1.0' standalone='yes'?><!DOCTYPE r SYSTEM 'r.dtd'><r>&e;</r>", "1:69: entity 'e' is not declared"},
    {"EntityDeclared_StandaloneParameter", "", "<?xml version='1.0' standalone='yes'?><!DOCTYPE r [%p;]><r/>", "1:52: parameter entity '%p;' is not declared"},
    {"EntityDeclared_BeforeDefault", kDtd + "<!ENTITY e 'x'><!ATTLIST r a CDATA '&e;'>]><r/>", kDtd + "<!ATTLIST r a CDATA '&e;'><!ENTITY e 'x'>]><r/>", "1:35: entity 'e' is not declared"},
    {"EntityDeclared_ExternalSubsetNotRead", "<!DOCTYPE r SYSTEM 'r.dtd'><r/>", "<!DOCTYPE r SYSTEM 'r.dtd'><r>&e;</r>", "1:31: entity 'e' is not declared in the document; the declarations outside it that may declare it are not read"},
    {"EntityDeclared_AfterUnreadParameterEntity", "", kDtd + "<!ENTITY % x SYSTEM 'x'> %x; <!ENTITY e 'x'>]><r>&e;</r>", "1:63: entity 'e' is not declared in the document"},
    {"EntityDeclared_UnreadParameterEntity", kDtd + "%p;]><r/>", kDtd + "%p;]><r>&e;</r>", "1:22: entity 'e' is not declared in the document"},
    // WFC: Parsed Entity, No Recursion, No External Entity References.
    {"ParsedEntity", kDtd + "<!NOTATION n SYSTEM 'n'><!ENTITY e SYSTEM 'e' NDATA n>]><r/>", kDtd + "<!NOTATION n SYSTEM 'n'><!ENTITY e SYSTEM 'e' NDATA n>]><r>&e;</r>", "1:73: reference to unparsed entity 'e' in content"},
    {"ParsedEntity_Attribute", "", kDtd + "<!NOTATION n SYSTEM 'n'><!ENTITY e SYSTEM 'e' NDATA n>]><r a='&e;'/>", "1:76: reference to unparsed entity 'e'"},
    {"NoRecursion", kDtd + "<!ENTITY a '&b;&b;'><!ENTITY b 'x'>]><r>&a;</r>", kDtd + "<!ENTITY a 'x&b;'><!ENTITY b '&a;'>]>\n<r>&a;</r>", "2:4: entity 'a' refers to itself (in the replacement text of entity 'b')"},
    {"NoRecursion_Attribute", "", kDtd + "<!ENTITY a '&a;'>]><r a='&a;'/>", "1:39: entity 'a' refers to itself"},
    {"NoRecursion_Parameter", "", kDtd + "<!ENTITY % p '&#37;p;'> %p;]><r/>", "1:38: entity '%p' refers to itself"},
    {"NoExternalEntityReferences", kDtd + "<!ENTITY e SYSTEM 'e.xml'>]><r/>", kDtd + "<!ENTITY e SYSTEM 'e.xml'>]><r a='&e;'/>", "1:48: attribute value refers to external entity 'e'"},
    {"ExternalEntityNotRead", "", kDtd + "<!ENTITY e SYSTEM 'file:///etc/passwd'>]><r>&e;</r>", "1:58: entity 'e' is an external entity, which is not read"},
    // A parsed entity's replacement text is content on its own: elements balance in it.
    {"EntityContent_Balanced", kDtd + "<!ENTITY e '<a>x</a>'>]><r>&e;</r>", kDtd + "<!ENTITY e '<a>x'>]><r>&e;</a></r>", "1:37: <a> is not closed (in the replacement text of entity 'e')"},
    {"EntityContent_ClosesOutside", "", kDtd + "<!ENTITY e '</r><r>'>]><r>&e;</r>", "1:40: end tag </r> closes an element opened outside the entity"},
    {"EntityContent_WellFormed", kDtd + "<!ENTITY e '&#38;amp;'>]><r>&e;</r>", kDtd + "<!ENTITY e '&#38;'>]>\n<r>&e;</r>", "2:4: '&' must begin a reference such as '&amp;', found end of text after it (in the replacement text of entity 'e')"},
    {"EntityContent_NoDeclaration", "", kDtd + "<!ENTITY e '&#60;?xml version=\"1.0\"?>'>]><r>&e;</r>", "XML declaration not at the start of the text (in the replacement text of entity 'e')"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Rules, ParseXmlRuleTest, testing::ValuesIn(kRules),
                         [](const auto& info) { return std::string(info.param.name); });

// A document type declaration, not closed, whose entity lol<levels> stands for 10^levels "lol"s.
std::string Laughs(int levels) {
    std::string xml = "<!DOCTYPE r [\n<!ENTITY lol 'lol'>\n";
    for (int level = 1; level <= levels; ++level) {
        xml += "<!ENTITY lol" + std::to_string(level) + " '";
        for (int i = 0; i < 10; ++i)
            xml += "&lol" + (level == 1 ? std::string() : std::to_string(level - 1)) + ";";
        xml += "'>\n";
    }
    return xml;
}

// What kind of refusal each is, for callers that act on it rather than show it.
TEST(ParseXmlDocumentTest, StatusSaysWhyTheTextIsRefused) {
    const struct {
        std::string xml;
        XmlParseStatus status;
    } cases[] = {
        {"<r/>", XmlParseStatus::Ok},
        {"<r>", XmlParseStatus::NotWellFormed},
        {"<?xml version='1.0' encoding='KOI8-R'?><r/>", XmlParseStatus::BadEncoding},
        {"\xFF\xFE<\0r\0", XmlParseStatus::BadEncoding},
        {"<?xml version='1.0' encoding='UTF-16'?><r/>", XmlParseStatus::BadEncoding},
        {"<!DOCTYPE r [<!ENTITY e SYSTEM 'e.xml'>]><r>&e;</r>", XmlParseStatus::ExternalEntity},
        {"<!DOCTYPE r SYSTEM 'r.dtd'><r>&e;</r>", XmlParseStatus::ExternalEntity},
        {Laughs(9) + "]><r>&lol9;</r>", XmlParseStatus::EntityBudget},
    };
    for (const auto& c : cases) {
        const XmlParseResult result = ParseXmlDocument(c.xml, false);
        EXPECT_EQ(result.status, c.status) << c.xml << ": " << result.description();
        EXPECT_EQ(static_cast<bool>(result), c.status == XmlParseStatus::Ok);
        EXPECT_EQ(result.root != nullptr, c.status == XmlParseStatus::Ok);
        EXPECT_EQ(result.description().empty(), c.status == XmlParseStatus::Ok);
    }
}

// ---- the tree ----

// The same document in UTF-16, either byte order, is converted and must give the same tree.
TEST(ParseXmlTest, Utf16GivesTheTreeOfUtf8) {
    const std::string xml =
        "<?xml version='1.0'?>\r\n<!DOCTYPE r [<!ENTITY x 'ex'>]><!-- c --><r a='x&#10;y\tz' "
        "b=\"&lt;&amp;\">\r\n  <c>t&#x41;<![CDATA[<d>]]></c>\n  <e f='1'/>text &x; more\r\n</r>\n";
    XmlTree utf8(ParseXml(xml, false, nullptr));
    ASSERT_NE(utf8, nullptr);
    for (const std::string& utf16 : {ToUtf16Le(xml), ToUtf16Be(xml)}) {
        XmlTree converted(ParseXml(utf16, false, nullptr));
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(WriteXml(*converted, {0, false}), WriteXml(*utf8, {0, false}));
    }
}

// Elements from an entity's replacement text are children like any other, placed where the
// reference stands, and their position is the reference's.
TEST(ParseXmlTest, ElementsFromEntitiesJoinTheTree) {
    std::string error;
    XmlTree root(
        ParseXml("<!DOCTYPE r [<!ENTITY e '<c a=\"1\">t<d/></c>'>\n<!ATTLIST c b CDATA "
                 "'2'>]>\n<r>x &e; y<f/>&e;</r>",
                 false, &error));
    ASSERT_NE(root, nullptr) << error;
    // Defaults come after written attributes.
    EXPECT_EQ(WriteXml(*root, {0, false}),
              "<r>x  y<c a=\"1\" b=\"2\">t<d/></c><f/><c a=\"1\" b=\"2\">t<d/></c></r>");
    EXPECT_EQ(root->GetChild(0)->GetSourceLine(), 3u);
    EXPECT_EQ(root->GetChild(0)->GetSourceColumn(), 6u);
    EXPECT_EQ(root->GetChild(2)->GetSourceColumn(), 15u);
    EXPECT_EQ(root->GetChild(2)->GetParent(), root.get());
    EXPECT_EQ(root->GetChild(4), nullptr);
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

// ---- limits: hostile documents stay cheap ----

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

// Entities nested to stand for 10^9 copies of "lol": refused by the budget once the replacement
// text read passes 8 MiB (and 100 times the document), long before memory or time run out.
TEST(ParseXmlTest, BillionLaughsStopAtTheBudget) {
    const std::string xml = Laughs(9);
    for (const char* use : {"<r>&lol9;</r>", "<r a='&lol9;'/>"}) {
        std::string error;
        XmlTree root(ParseXml(xml + "]>\n" + use, false, &error));
        EXPECT_EQ(root, nullptr);
        const std::string expected = std::string(use[3] == 'a' ? "13:7" : "13:4") +
                                     ": expanding entity 'lol9' passes the entity budget (more "
                                     "than 8 MiB, and 100 times the ";
        EXPECT_EQ(error.substr(0, expected.size()), expected);
    }
    // Within the budget the same entities expand: 10^4 copies are 30,000 bytes.
    std::string error;
    XmlTree root(ParseXml(xml + "]><r a='&lol4;'>&lol4;</r>", false, &error));
    ASSERT_NE(root, nullptr) << error;
    EXPECT_EQ(root->GetText().size(), 30000u);
    EXPECT_EQ(root->GetAttributeText(0).size(), 30000u);
}

// References to empty entities produce nothing but still cost their replacement text.
TEST(ParseXmlTest, EmptyEntitiesCountAgainstTheBudget) {
    std::string xml = "<!DOCTYPE r [<!ENTITY e0 ''>";
    for (int level = 1; level <= 12; ++level) {
        xml += "<!ENTITY e" + std::to_string(level) + " '";
        for (int i = 0; i < 10; ++i)
            xml += "&e" + std::to_string(level - 1) + ";";
        xml += "'>";
    }
    std::string error;
    EXPECT_EQ(XmlTree(ParseXml(xml + "]><r>&e12;</r>", false, &error)), nullptr);
    EXPECT_NE(error.find("expanding entity 'e12' passes the entity budget"), std::string::npos)
        << error;
}

// Defaults are supplied to each element that leaves them out: they count like replacement text.
TEST(ParseXmlTest, DefaultAttributesCountAgainstTheBudget) {
    std::string xml = "<!DOCTYPE r [<!ATTLIST c a CDATA '" + std::string(100000, 'v') + "'>]><r>";
    for (int i = 0; i < 2000; ++i)
        xml += "<c/>";
    std::string error;
    EXPECT_EQ(XmlTree(ParseXml(xml + "</r>", false, &error)), nullptr);
    EXPECT_NE(
        error.find("1:100474: supplying the default attributes of <c> passes the entity budget"),
        std::string::npos)
        << error;
    std::string fewer = "<!DOCTYPE r [<!ATTLIST c a CDATA 'v'>]><r>";
    for (int i = 0; i < 100000; ++i)
        fewer += "<c/>";
    XmlTree root(ParseXml(fewer + "</r>", false, &error));
    ASSERT_NE(root, nullptr) << error;
    EXPECT_EQ(root->GetChild(99999)->GetAttributeText(0), "v");
}

// Long chains of entities and deep content models are followed without recursion.
TEST(ParseXmlTest, DeepEntityChainsAndContentModels) {
    constexpr int kDepth = 100000;
    std::string xml = "<!DOCTYPE r [<!ENTITY e0 'x'>";
    for (int i = 1; i < kDepth; ++i)
        xml += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
    xml += "<!ELEMENT r " + std::string(kDepth, '(') + "a" + std::string(kDepth, ')') + ">";
    xml +=
        "]><r a='&e" + std::to_string(kDepth - 1) + ";'>&e" + std::to_string(kDepth - 1) + ";</r>";
    std::string error;
    XmlTree root(ParseXml(xml, false, &error));
    ASSERT_NE(root, nullptr) << error;
    EXPECT_EQ(root->GetText(), "x");
    EXPECT_EQ(root->GetAttributeText(0), "x");
}

// A long run of ']' is text; a reference never closed is refused where it starts.
TEST(ParseXmlTest, LongRunsOfBracketsAndUnclosedReferences) {
    std::string error;
    XmlTree brackets(ParseXml("<r>" + std::string(4 << 20, ']') + "</r>", false, &error));
    ASSERT_NE(brackets, nullptr) << error;
    EXPECT_EQ(brackets->GetText().size(), 4u << 20);
    EXPECT_EQ(XmlTree(ParseXml("<r>&" + std::string(4 << 20, 'a') + "</r>", false, &error)),
              nullptr);
    EXPECT_NE(error.find("1:4: expected ';' to end the reference"), std::string::npos) << error;
}

}  // namespace
