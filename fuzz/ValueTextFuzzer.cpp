// Fuzz target: the same text read as a value of every kind, through ParseValueText and through
// the XmlElem text and attribute getters. A value read back must write the text it reads again,
// and the getters must agree with ParseValueText.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "geometry/ValueText.h"
#include "geometry/XmlElem.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// Reads text as a T; a value it gives must survive writing and reading back unchanged.
template <class T>
std::string Check(std::string_view text) {
    T value{};
    const ValueParseResult result = ParseValueText(text, value);
    Require(result || result.offset <= text.size());
    (void)result.description();
    const std::string written = ValueToText(value);
    T again{};
    Require(static_cast<bool>(ParseValueText(written, again)));
    Require(ValueToText(again) == written);
    return written;
}

std::string CheckHex(std::string_view text) {
    std::uint32_t value = 0;
    const ValueParseResult result = ParseHexText(text, value);
    Require(result || result.offset <= text.size());
    std::string written;
    AppendHexText(written, value);
    std::uint32_t again = 0;
    Require(ParseHexText(written, again) && again == value);
    return written;
}

template <class T>
std::string Text(const T& value) {
    return ValueToText(value);
}

std::string HexText(std::uint32_t value) {
    std::string out;
    AppendHexText(out, value);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    XmlElem* element = NewXmlElem(Symbol("v"), false);
    element->SetText(text);
    element->SetAttribute(Symbol("a"), text);
    const std::size_t a = element->FindAttribute(Symbol("a"));
    Require(a != XmlElem::npos);
    const XmlElem& e = *element;

    Require(Check<std::int32_t>(text) == Text(e.GetTextAsInt()));
    Require(Check<std::int32_t>(text) == Text(e.GetAttributeAsInt(a)));
    Require(Check<std::int64_t>(text) == Text(e.GetTextAsInt64()));
    Require(Check<std::int64_t>(text) == Text(e.GetAttributeAsInt64(a)));
    Require(Check<float>(text) == Text(e.GetTextAsFloat()));
    Require(Check<float>(text) == Text(e.GetAttributeAsFloat(a)));
    Require(Check<double>(text) == Text(e.GetTextAsDouble()));
    Require(Check<double>(text) == Text(e.GetAttributeAsDouble(a)));
    Require(Check<bool>(text) == Text(e.GetTextAsBool()));
    Require(Check<bool>(text) == Text(e.GetAttributeAsBool(a)));
    Require(CheckHex(text) == HexText(e.GetTextAsHex()));
    Require(CheckHex(text) == HexText(e.GetAttributeAsHex(a)));
    Require(Check<DVec2>(text) == Text(e.GetTextAsDVec2()));
    Require(Check<DVec2>(text) == Text(e.GetAttributeAsDVec2(a)));
    Require(Check<DPoint2D>(text) == Text(e.GetTextAsDPoint2D()));
    Require(Check<DPoint2D>(text) == Text(e.GetAttributeAsDPoint2D(a)));
    Require(Check<DVec3>(text) == Text(e.GetTextAsDVec3()));
    Require(Check<DVec3>(text) == Text(e.GetAttributeAsDVec3(a)));
    Require(Check<DPoint3D>(text) == Text(e.GetTextAsDPoint3D()));
    Require(Check<DPoint3D>(text) == Text(e.GetAttributeAsDPoint3D(a)));
    Require(Check<FVec3>(text) == Text(e.GetTextAsFVec3()));
    Require(Check<FVec3>(text) == Text(e.GetAttributeAsFVec3(a)));
    Require(Check<FPoint3D>(text) == Text(e.GetTextAsFPoint3D()));
    Require(Check<FPoint3D>(text) == Text(e.GetAttributeAsFPoint3D(a)));
    Require(Check<Quaternion<float>>(text) == Text(e.GetTextAsQuaternion()));
    Require(Check<Quaternion<float>>(text) == Text(e.GetAttributeAsQuaternion(a)));
    Require(Check<Location>(text) == Text(e.GetTextAsLocation()));
    Require(Check<Location>(text) == Text(e.GetAttributeAsLocation(a)));
    FreeXml(element);
    return 0;
}
