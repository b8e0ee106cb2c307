#include "kestrel/check/Checker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

#include "geometry/ValueText.h"
#include "geometry/XmlElem.h"
#include "kernel/ImageModules.h"
#include "kernel/Loader.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/values/ValueTraits.h"
#include "utilities/Base64.h"
#include "utilities/Utf8.h"

namespace kestrel::check {

const char* SeverityName(Severity severity) {
    return severity == Severity::Error ? "error" : "warning";
}

namespace {

using serializedContent::AnyOf;
using serializedContent::ArrayValueTypes;
using serializedContent::PropertyTraits;
using serializedContent::SingleValueTypes;
using values::Names;
using values::ValueTraits;

// The element names the reader tells properties by; everything else below the root's children
// is a content element.
constexpr std::string_view kPrefix = values::kElementPrefix;
std::string_view PropertyElement() {
    return Names().property.view();
}
std::string_view ArrayElement() {
    return Names().propertyArray.view();
}
constexpr std::string_view kImageType = ValueTraits<SmartPtr<Image>>::typeName;
constexpr std::string_view kShapeType = ValueTraits<SmartPtr<Shape>>::typeName;
// Triangles named in one finding; the rest are only counted.
constexpr std::size_t kListedTriangles = 5;

// Images name the format of their payload; the module's name table has no entry for it.
const Symbol& FormatAttribute() {
    static const Symbol name("format");
    return name;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Text for a message: in double quotes, control characters escaped, long texts cut (at a UTF-8
// character boundary) so that one finding stays one readable line.
std::string Quote(std::string_view text) {
    constexpr std::size_t kLongest = 48;
    bool cut = false;
    if (text.size() > kLongest) {
        std::size_t end = kLongest;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        text = text.substr(0, end);
        cut = true;
    }
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    out += cut ? "...\"" : "\"";
    return out;
}

std::string Tag(const XmlElem& element) {
    return "<" + std::string(element.GetName().view()) + ">";
}

// The plural of a counted noun: "1 record", "3 records".
std::string Count(std::uint64_t count, const char* noun, const char* plural = nullptr) {
    if (count == 1)
        return "1 " + std::string(noun);
    return std::to_string(count) + " " + (plural ? plural : std::string(noun) + "s");
}

// "the last byte is ignored", "the last 3 records are ignored".
std::string LastIgnored(std::uint64_t count, const char* noun) {
    if (count == 1)
        return "the last " + std::string(noun) + " is ignored";
    return "the last " + std::to_string(count) + " " + noun + "s are ignored";
}

// Whether content files name a single value type (or, with array, an array item type) so.
bool IsXmlTypeName(std::string_view type, bool array) {
    for (const values::TypeFacts& facts : values::kTypeTable) {
        if (facts.xmlCarries && facts.isArray == array && facts.itemTypeName == type)
            return true;
    }
    return false;
}

bool IsSingleTypeName(std::string_view type) {
    return IsXmlTypeName(type, false);
}

bool IsArrayTypeName(std::string_view type) {
    return IsXmlTypeName(type, true);
}

// A type name that type may have been meant as, differing in letter case or blanks only.
std::string NearTypeName(std::string_view type, bool array) {
    const std::string wanted = Lower(Trim(type));
    return IsXmlTypeName(wanted, array) ? wanted : std::string();
}

// ---- Values -------------------------------------------------------------------------------------

// An integer as a person wrote it, wider than any type of the table.
struct Integer {
    bool negative = false;
    std::uint64_t magnitude = 0;
    friend bool operator==(const Integer&, const Integer&) = default;
};

Integer FromSigned(std::int64_t value) {
    if (value < 0)
        return {true, std::uint64_t(0) - static_cast<std::uint64_t>(value)};
    return {false, static_cast<std::uint64_t>(value)};
}

template <class Kind>
ValueParseResult ParseKind(std::string_view text, typename Kind::Value& value) {
    if constexpr (std::is_same_v<Kind, serializedContent::HexKind>) {
        return ParseHexText(text, value);
    } else {
        return ParseValueText(text, value);
    }
}

template <class Kind>
std::string KindText(const typename Kind::Value& value) {
    std::string out;
    if constexpr (std::is_same_v<Kind, serializedContent::HexKind>) {
        AppendHexText(out, value);
    } else {
        AppendValueText(out, value);
    }
    return out;
}

// ---- Positions ----------------------------------------------------------------------------------

// Line and column of byte offsets in the checked text, counted as ParseXml counts them.
class Positions {
public:
    explicit Positions(std::string_view text) : text_(text) {}

    std::pair<std::uint32_t, std::uint32_t> At(std::size_t offset) {
        Index();
        const auto next = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
        const std::size_t line = static_cast<std::size_t>(next - lineStarts_.begin());
        return {static_cast<std::uint32_t>(line),
                static_cast<std::uint32_t>(offset - lineStarts_[line - 1] + 1)};
    }

    // The offset of a line and column; npos when the text has no such place.
    std::size_t OffsetOf(std::uint32_t line, std::uint32_t column) {
        Index();
        if (line == 0 || column == 0 || line > lineStarts_.size())
            return std::string_view::npos;
        const std::size_t offset = lineStarts_[line - 1] + column - 1;
        return offset < text_.size() ? offset : std::string_view::npos;
    }

private:
    void Index() {
        if (!lineStarts_.empty())
            return;
        lineStarts_.push_back(0);
        for (std::size_t i = 0; i < text_.size(); ++i) {
            if (text_[i] == '\n')
                lineStarts_.push_back(i + 1);
        }
    }

    std::string_view text_;
    std::vector<std::size_t> lineStarts_;
};

// ---- XML documents ------------------------------------------------------------------------------

struct FreeXmlTree {
    void operator()(XmlElem* root) const { FreeXml(root); }
};

// Walks a parsed document as the module's reader does and records what it would drop or
// change.
class XmlChecker {
public:
    XmlChecker(std::string_view text, const CheckOptions& options, std::vector<Finding>& findings)
        : text_(text), positions_(text), options_(options), findings_(findings) {}

    void Run(const XmlElem& root) {
        // The reader's own walk, with an explicit stack: depth must cost no native stack.
        struct Frame {
            const XmlElem* element;
            std::size_t next;
        };
        std::vector<Frame> stack{{&root, 0}};
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == frame.element->GetChildCount()) {
                stack.pop_back();
                continue;
            }
            const XmlElem* child = frame.element->GetChild(frame.next++);
            const bool atRoot = stack.size() == 1;
            const std::string_view name = child->GetName().view();
            if (!atRoot && name == PropertyElement()) {
                CheckProperty(*child);
            } else if (!atRoot && name == ArrayElement()) {
                CheckArray(*child);
            } else {
                CheckContentElement(*child, atRoot);
                stack.push_back({child, 0});
            }
        }
    }

private:
    void Report(const XmlElem& element, Severity severity, const char* code, std::string message) {
        Report(element.GetSourceLine(), element.GetSourceColumn(), severity, code,
               std::move(message));
    }
    void Report(std::uint32_t line, std::uint32_t column, Severity severity, const char* code,
                std::string message) {
        findings_.push_back({line, column, severity, code, std::move(message)});
    }
    void Strict(const XmlElem& element, const char* code, std::string message) {
        if (options_.strict)
            Report(element, Severity::Warning, code, std::move(message));
    }

    // -- Content elements

    void CheckContentElement(const XmlElem& element, bool atRoot) {
        const std::string_view name = element.GetName().view();
        if (atRoot && (name == PropertyElement() || name == ArrayElement())) {
            Report(element, Severity::Warning, "root-property",
                   Quote(name) + " directly under the root is read as a content element named " +
                       Quote(name.substr(kPrefix.size())) + ", not as a property");
        }
        if (!options_.strict)
            return;
        const std::string lower = Lower(name);
        if (!atRoot && (lower == PropertyElement() || lower == ArrayElement())) {
            const std::size_t colon = name.find(':');
            Strict(element, "name-case",
                   Tag(element) + " is read as a content element named " +
                       Quote(name.substr(colon + 1)) + "; did you mean <" + lower + ">?");
        } else if (!name.starts_with(kPrefix)) {
            const std::size_t colon = name.find(':');
            Strict(element, "element-prefix",
                   colon == std::string_view::npos
                       ? "content element " + Tag(element) + " has no \"kestrel_sc:\" prefix"
                       : "content element " + Tag(element) + " has the prefix " +
                             Quote(name.substr(0, colon)) + ", not \"kestrel_sc\"; it is read as " +
                             Quote(name.substr(colon + 1)));
        }
        CheckDuplicateNames(element);
    }

    // Two properties of one element with one name are legal but rarely meant. The entries of a
    // shape list are the exception: they follow their array under its name by design.
    void CheckDuplicateNames(const XmlElem& element) {
        std::unordered_map<std::string, const XmlElem*> first;
        std::unordered_set<std::string> shapeLists;
        for (std::size_t i = 0; i < element.GetChildCount(); ++i) {
            const XmlElem& child = *element.GetChild(i);
            const std::string_view tag = child.GetName().view();
            const bool array = tag == ArrayElement();
            if (!array && tag != PropertyElement())
                continue;
            const std::size_t typeIndex = child.FindAttribute(Names().type);
            const std::size_t nameIndex = child.FindAttribute(Names().name);
            if (typeIndex == XmlElem::npos || nameIndex == XmlElem::npos)
                continue;
            const std::string& type = child.GetAttributeText(typeIndex);
            const std::string& name = child.GetAttributeText(nameIndex);
            if (array ? !IsArrayTypeName(type) : !IsSingleTypeName(type))
                continue;
            if (array && type == kShapeType) {
                shapeLists.insert(name);
            } else if (!array && type == kShapeType && shapeLists.count(name)) {
                continue;
            }
            auto [at, added] = first.try_emplace(name, &child);
            if (!added) {
                Strict(child, "duplicate-name",
                       "a second property named " + Quote(name) + " in " + Tag(element) +
                           " (the first is at " + std::to_string(at->second->GetSourceLine()) +
                           ":" + std::to_string(at->second->GetSourceColumn()) + ")");
            }
        }
    }

    // -- Single properties

    // Type and name, or a finding and false: without either the reader drops the element.
    bool TypeAndName(const XmlElem& element, const char* what, std::string& type,
                     std::string& name) {
        const std::size_t typeIndex = element.FindAttribute(Names().type);
        if (typeIndex == XmlElem::npos) {
            Report(element, Severity::Error, "property-missing-type",
                   std::string(what) + " without a \"type\" attribute is left out");
            return false;
        }
        type = element.GetAttributeText(typeIndex);
        const std::size_t nameIndex = element.FindAttribute(Names().name);
        if (nameIndex == XmlElem::npos) {
            Report(element, Severity::Error, "property-missing-name",
                   std::string(what) + " of type " + Quote(type) +
                       " without a \"name\" attribute is left out");
            return false;
        }
        name = element.GetAttributeText(nameIndex);
        return true;
    }

    void CheckAttributes(const XmlElem& element, std::initializer_list<std::string_view> known,
                         const std::string& subject) {
        if (!options_.strict)
            return;
        for (std::size_t i = 0; i < element.GetAttributeCount(); ++i) {
            const std::string_view attribute = element.GetAttributeName(i).view();
            if (std::find(known.begin(), known.end(), attribute) == known.end()) {
                Strict(element, "unknown-attribute",
                       "attribute " + Quote(attribute) + " of " + subject + " is ignored");
            }
        }
    }

    void CheckProperty(const XmlElem& element) {
        std::string type, name;
        if (!TypeAndName(element, "property", type, name))
            return;
        const std::string subject = type + " property " + Quote(name);
        CheckAttributes(element, {"type", "name", "value", "format"}, subject);
        const std::size_t valueIndex = element.FindAttribute(Names().value);
        const bool single = AnyOf(SingleValueTypes{}, [&]<class T>() {
            if (type != PropertyTraits<T>::typeName)
                return false;
            CheckValue<T>(element, valueIndex, subject);
            return true;
        });
        if (single) {
            CheckIgnoredChildren(element, subject);
        } else if (type == kImageType) {
            CheckImage(element, valueIndex, subject);
            CheckIgnoredChildren(element, subject);
        } else if (type == kShapeType) {
            CheckShape(element, valueIndex, subject);
        } else {
            std::string message = "unhandled property type " + Quote(type) + ": property " +
                                  Quote(name) + " is left out";
            if (const std::string near = NearTypeName(type, false); !near.empty())
                message += " (did you mean " + Quote(near) + "?)";
            Report(element, Severity::Error, "unknown-type", std::move(message));
        }
    }

    void CheckIgnoredChildren(const XmlElem& element, const std::string& subject) {
        if (element.GetChildCount() == 0)
            return;
        const std::size_t more = element.GetChildCount() - 1;
        Report(*element.GetChild(0), Severity::Error, "property-child-ignored",
               Tag(*element.GetChild(0)) +
                   (more ? " and " + Count(more, "more child", "more children") + " of " + subject +
                               " are ignored with everything in them"
                         : " of " + subject + " is ignored with everything in it"));
    }

    // The value of a property or array item of type T: what the reader stores must be what the
    // text says.
    template <class T>
    void CheckValue(const XmlElem& element, std::size_t valueIndex, const std::string& subject) {
        using Traits = PropertyTraits<T>;
        using Kind = typename Traits::KindType;
        const std::string_view text = valueIndex == XmlElem::npos
                                          ? std::string_view(element.GetText())
                                          : std::string_view(element.GetAttributeText(valueIndex));
        if (valueIndex != XmlElem::npos) {
            const std::string_view ignored = Trim(element.GetText());
            if (!ignored.empty() && ignored != Trim(text)) {
                Strict(element, "value-ignored",
                       "the text " + Quote(ignored) + " of " + subject +
                           " is ignored: the \"value\" attribute " + Quote(text) + " wins");
            }
        }
        if constexpr (!std::is_same_v<Kind, serializedContent::TextKind>) {
            typename Kind::Value value{};
            const ValueParseResult parsed = ParseKind<Kind>(text, value);
            if (!parsed) {
                const std::string stored = KindText<Kind>(value);
                Report(element, Severity::Error, "bad-value",
                       parsed.status == ValueParseResult::Empty
                           ? subject + " has no value; it is stored as the default, " + stored
                           : subject + ": " + Quote(Trim(text)) + " is not a valid " +
                                 Traits::typeName + " value (" + parsed.description() +
                                 "); it is stored as the default, " + stored);
                return;
            }
            if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
                CheckNarrowing<T>(element, text, value, subject);
            }
            using Real = typename ValueTraits<T>::Real;
            if constexpr (!std::is_void_v<Real>) {
                CheckRealRange<Real>(element, text, subject,
                                     std::is_same_v<Real, typename Kind::Value>);
            }
        }
    }

    // Integers are read through the 32- or 64-bit kind and cut to their width: a value that does
    // not survive that differs from what was written, unless it is the writer's own form (an
    // unsigned value with its top bit set travels as a negative number).
    template <class T, class KindValue>
    void CheckNarrowing(const XmlElem& element, std::string_view text, KindValue value,
                        const std::string& subject) {
        Integer written;
        if constexpr (sizeof(KindValue) == 4) {
            std::int64_t wide = 0;
            ParseValueText(text, wide);
            written = FromSigned(wide);
        } else {
            // Above the signed 64-bit range the kind holds the same bits as a negative number.
            const bool minus = Trim(text).starts_with('-');
            written = value < 0 && !minus ? Integer{false, static_cast<std::uint64_t>(value)}
                                          : FromSigned(value);
        }
        const T stored = PropertyTraits<T>::FromKind(value);
        const Integer storedNumber = std::is_signed_v<T>
                                         ? FromSigned(static_cast<std::int64_t>(stored))
                                         : Integer{false, static_cast<std::uint64_t>(stored)};
        const Integer writersForm =
            FromSigned(static_cast<std::int64_t>(PropertyTraits<T>::ToKind(stored)));
        if (written == storedNumber || written == writersForm)
            return;
        const std::string storedText =
            std::is_signed_v<T> ? std::to_string(static_cast<long long>(stored))
                                : std::to_string(static_cast<unsigned long long>(stored));
        Report(element, Severity::Error, "out-of-range",
               subject + ": " + std::string(Trim(text)) + " is outside the range of " +
                   PropertyTraits<T>::typeName + "; it is stored as " + storedText);
    }

    // Real numbers beyond their type read as infinity, and those too small as zero.
    template <class Real>
    void CheckRealRange(const XmlElem& element, std::string_view text, const std::string& subject,
                        bool scalar) {
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t start = text.find_first_not_of(" \t\r\n,", pos);
            if (start == std::string_view::npos)
                break;
            std::size_t end = text.find_first_of(" \t\r\n,", start);
            if (end == std::string_view::npos)
                end = text.size();
            pos = end;
            const std::string_view token = text.substr(start, end - start);
            Real component = 0;
            if (!ParseValueText(token, component))
                continue;
            const std::string lower = Lower(token);
            const std::string_view mantissa =
                std::string_view(lower).substr(0, lower.find_first_of("e"));
            const char* what = nullptr;
            if (std::isinf(component) && lower.find("inf") == std::string::npos) {
                what = " is beyond the range of ";
            } else if (component == 0 && lower.find("nan") == std::string::npos &&
                       mantissa.find_first_of("123456789") != std::string_view::npos) {
                what = " is too small for ";
            }
            if (!what)
                continue;
            Report(element, Severity::Error, "out-of-range",
                   subject + ": " + (scalar ? "" : "component ") + std::string(token) + what +
                       (std::is_same_v<Real, float> ? "float" : "double") + "; it is stored as " +
                       ValueToText(component));
        }
    }

    // -- Arrays

    void CheckArray(const XmlElem& element) {
        std::string type, name;
        if (!TypeAndName(element, "property array", type, name))
            return;
        const std::string subject = type + " array " + Quote(name);
        CheckAttributes(element, {"type", "name", "count"}, subject);

        std::vector<const XmlElem*> items;
        for (std::size_t i = 0; i < element.GetChildCount(); ++i) {
            const XmlElem& child = *element.GetChild(i);
            if (child.GetName() == PropertyElement()) {
                items.push_back(&child);
                continue;
            }
            std::string message = Tag(child) + " in " + subject +
                                  " is not an item <kestrel_sc:property>; it is ignored with "
                                  "everything in it";
            if (Lower(child.GetName().view()) == PropertyElement())
                message += " (letter case differs)";
            Report(child, Severity::Error, "array-child-ignored", std::move(message));
        }
        CheckArrayCount(element, items.size(), subject);

        const bool known = AnyOf(ArrayValueTypes{}, [&]<class T>() {
            if (type != PropertyTraits<T>::typeName)
                return false;
            for (std::size_t k = 0; k < items.size(); ++k) {
                const XmlElem& item = *items[k];
                const std::string itemSubject = "item " + std::to_string(k + 1) + " of " + subject;
                CheckAttributes(item, {"value"}, itemSubject);
                CheckValue<T>(item, item.FindAttribute(Names().value), itemSubject);
            }
            return true;
        });
        if (known || type == kShapeType)
            return;
        std::string message =
            "array type " + Quote(type) + " is not read: array " + Quote(name) + " is left out";
        if (const std::string near = NearTypeName(type, true); !near.empty()) {
            message += " (did you mean " + Quote(near) + "?)";
        } else if (IsSingleTypeName(type)) {
            message += " (" + type + " has no array form)";
        }
        Report(element, Severity::Error, "unknown-array-type", std::move(message));
    }

    // The reader does not trust "count"; one that disagrees hints at items lost in editing.
    void CheckArrayCount(const XmlElem& element, std::size_t items, const std::string& subject) {
        const std::size_t countIndex = element.FindAttribute(Names().arrayCount);
        if (countIndex == XmlElem::npos)
            return;
        const std::string& text = element.GetAttributeText(countIndex);
        std::int64_t count = 0;
        const ValueParseResult parsed = ParseValueText(text, count);
        const std::string present = "the reader takes the " + Count(items, "item") + " present";
        if (!parsed || count < 0 || count > 0xFFFFFFFFll) {
            Report(element, Severity::Warning, "array-count-mismatch",
                   "count " + Quote(text) + " of " + subject + " is not a count; " + present);
        } else if (static_cast<std::uint64_t>(count) != items) {
            Report(element, Severity::Warning, "array-count-mismatch",
                   subject + " says count " + std::to_string(count) + " but has " +
                       Count(items, "item") + "; " + present);
        }
    }

    // -- Payloads

    // Decodes a payload text; a damaged one is reported at the offending character where the
    // source shows it, and what decoded before it is kept, as the reader keeps it.
    std::vector<char> Decode(const XmlElem& element, const std::string& what,
                             const std::string& consequence, bool& damaged) {
        const std::string& text = element.GetText();
        Base64Result result;
        std::vector<char> bytes = Base64::Decode(text.data(), text.size(), result);
        damaged = !result;
        if (damaged) {
            auto [line, column] = TextPosition(element, result.offset);
            Report(line, column, Severity::Error, "bad-base64",
                   what + ": Base64 " + result.description() + "; " + consequence);
        }
        return bytes;
    }

    // Where offset of element's text stands in the source: found when the source holds the text
    // unchanged up to there (no reference, CDATA section or line end that the parser rewrote),
    // else the element's own position.
    std::pair<std::uint32_t, std::uint32_t> TextPosition(const XmlElem& element,
                                                         std::size_t offset) {
        const std::pair<std::uint32_t, std::uint32_t> fallback{element.GetSourceLine(),
                                                               element.GetSourceColumn()};
        std::size_t at = positions_.OffsetOf(element.GetSourceLine(), element.GetSourceColumn());
        if (at == std::string_view::npos || text_[at] != '<')
            return fallback;
        char quote = 0;
        for (++at; at < text_.size(); ++at) {
            const char c = text_[at];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        const std::string& text = element.GetText();
        const std::size_t start = at + 1;
        if (at >= text_.size() || offset >= text.size() || start + offset >= text_.size() ||
            text_.substr(start, offset + 1) != std::string_view(text).substr(0, offset + 1)) {
            return fallback;
        }
        return positions_.At(start + offset);
    }

    // -- Images

    ImageParser* ImageLoader() {
        if (!imageLoaderTried_) {
            imageLoaderTried_ = true;
            SmartPtr<Loader> loader = Loader::GetLoader();
            if (!loader) {
                imageLoaderError_ = "the host has no loader framework";
            } else if (!loader->LoadModule(Symbol("loader"), Symbol("image"), Symbol("bmp"),
                                           imageModule_)) {
                imageLoaderError_ = loader->GetLastError();
            } else if (!dynamic_cast<ImageParser*>(imageModule_.get())) {
                imageLoaderError_ = "the \"bmp\" image loader module is not an image loader";
            }
        }
        return dynamic_cast<ImageParser*>(imageModule_.get());
    }

    void CheckImage(const XmlElem& element, std::size_t valueIndex, const std::string& subject) {
        if (valueIndex != XmlElem::npos) {
            Strict(
                element, "value-ignored",
                "the \"value\" attribute of " + subject + " is ignored: the payload is the text");
        }
        const std::size_t formatIndex = element.FindAttribute(FormatAttribute());
        if (formatIndex != XmlElem::npos && element.GetAttributeText(formatIndex) != "bmp") {
            Strict(element, "image-format",
                   "format " + Quote(element.GetAttributeText(formatIndex)) + " of " + subject +
                       " is ignored: the payload is always read as BMP");
        }
        if (element.GetText().empty()) {
            Report(element, Severity::Error, "image-empty",
                   subject + " has no payload; it is left out");
            return;
        }
        bool damaged = false;
        std::vector<char> bytes;
        ImageParser* parser = ImageLoader();
        // A damaged payload is still handed over in part; whether that part loads decides the
        // consequence told.
        {
            const std::string& text = element.GetText();
            Base64Result result;
            bytes = Base64::Decode(text.data(), text.size(), result);
            damaged = !result;
            if (damaged) {
                SmartPtr<Image> image;
                const bool loads = parser && parser->Parse(image, bytes.size(), bytes.data());
                auto [line, column] = TextPosition(element, result.offset);
                Report(line, column, Severity::Error, "bad-base64",
                       subject + ": Base64 " + result.description() +
                           (loads ? "; the image is read from the " + Count(bytes.size(), "byte") +
                                        " before it"
                                  : "; the image is left out"));
                return;
            }
        }
        if (!parser) {
            Report(element, Severity::Warning, "image-not-checked",
                   subject + " could not be tried: " + imageLoaderError_);
            return;
        }
        SmartPtr<Image> image;
        if (!parser->Parse(image, bytes.size(), bytes.data())) {
            Report(element, Severity::Error, "image-unreadable",
                   subject + ": the host's BMP loader does not read its " +
                       Count(bytes.size(), "byte") + "; it is left out");
        }
    }

    // -- Shapes

    // Reports what is wrong with one payload element and gives the records the reader takes,
    // with their bytes.
    std::size_t CheckPayload(const XmlElem& element, const std::string& what,
                             std::vector<char>& bytes) {
        const std::size_t countIndex = element.FindAttribute(Names().arrayCount);
        std::uint32_t count = 0;
        bool countRead = false;
        std::string countText;
        if (countIndex != XmlElem::npos) {
            countText = element.GetAttributeText(countIndex);
            std::int32_t value = 0;
            countRead = static_cast<bool>(ParseValueText(countText, value));
            count = static_cast<std::uint32_t>(value);
        }
        bytes.clear();
        if (element.GetText().empty()) {
            if (count > 0) {
                Report(element, Severity::Error, "shape-count-mismatch",
                       what + " say count " + std::string(Trim(countText)) +
                           " but have no payload; no records are read");
            }
            return 0;
        }
        bool damaged = false;
        bytes = Decode(element, what, "only the whole records before it can be read", damaged);
        const std::size_t records = bytes.size() / 12;
        if (!damaged && bytes.size() % 12 != 0) {
            Report(element, Severity::Error, "shape-payload-size",
                   what + ": a payload of " + Count(bytes.size(), "byte") +
                       " is not a whole number of 12-byte records; " +
                       LastIgnored(bytes.size() % 12, "byte"));
        }
        const std::string held = "the payload holds " + Count(records, "record");
        if (countIndex == XmlElem::npos) {
            Report(element, Severity::Error, "shape-count-missing",
                   what + " have no \"count\", which reads as 0: none of the records are read (" +
                       held + ")");
        } else if (!countRead) {
            Report(element, Severity::Error, "shape-count-mismatch",
                   what + ": count " + Quote(countText) +
                       " is not a number and reads as 0: none of the records are read (" + held +
                       ")");
        } else if (count < records) {
            Report(element, Severity::Error, "shape-count-mismatch",
                   what + " say count " + std::string(Trim(countText)) + " but " + held + "; " +
                       LastIgnored(records - count, "record"));
        } else if (count > records) {
            Report(element, Severity::Error, "shape-count-mismatch",
                   what + " say count " + std::string(Trim(countText)) + " but " + held +
                       "; only those are read");
        }
        return std::min<std::size_t>(count, records);
    }

    void CheckShape(const XmlElem& element, std::size_t valueIndex, const std::string& subject) {
        if (valueIndex != XmlElem::npos) {
            Strict(element, "value-ignored",
                   "the \"value\" attribute of " + subject +
                       " is ignored: the payloads are the children");
        }
        const std::size_t children = element.GetChildCount();
        if (children != 2) {
            Report(element, Severity::Error, "shape-structure",
                   subject + " has " + Count(children, "child element") +
                       ", not the two <vertices> then <triangles>; it is left out");
            return;
        }
        const XmlElem& first = *element.GetChild(0);
        const XmlElem& second = *element.GetChild(1);
        if (first.GetName() == "triangles" && second.GetName() == "vertices") {
            Report(element, Severity::Error, "shape-structure",
                   subject + " has <triangles> before <vertices>; it is left out");
            return;
        }
        bool wellFormed = true;
        for (auto [child, expected] : {std::pair{&first, "vertices"}, {&second, "triangles"}}) {
            if (!(child->GetName() == expected)) {
                Report(*child, Severity::Error, "shape-structure",
                       Tag(*child) + " stands where " + subject + " needs <" + expected +
                           ">; the shape is left out");
                wellFormed = false;
            }
        }
        if (!wellFormed)
            return;

        std::vector<char> bytes;
        const std::size_t vertices = CheckPayload(first, "the vertices of " + subject, bytes);
        const std::size_t triangles = CheckPayload(second, "the triangles of " + subject, bytes);
        std::string listed;
        std::size_t bad = 0;
        for (std::size_t t = 0; t < triangles; ++t) {
            for (std::size_t corner = 0; corner < 3; ++corner) {
                std::uint32_t index = 0;
                for (std::size_t b = 0; b < 4; ++b) {
                    index |=
                        std::uint32_t(static_cast<unsigned char>(bytes[t * 12 + corner * 4 + b]))
                        << (8 * b);
                }
                if (index < vertices)
                    continue;
                if (++bad <= kListedTriangles) {
                    listed += (listed.empty() ? "" : ", ") + std::string("triangle ") +
                              std::to_string(t) + " uses vertex " + std::to_string(index);
                }
                break;
            }
        }
        if (bad > 0) {
            if (bad > kListedTriangles)
                listed += ", ... (" + std::to_string(bad) + " triangles in all)";
            Report(second, Severity::Error, "shape-bad-index",
                   subject + " has " + Count(vertices, "vertex", "vertices") +
                       " (numbered from 0), but " + listed +
                       "; such triangles are kept, but normals skip them");
        }
    }

    std::string_view text_;
    Positions positions_;
    const CheckOptions& options_;
    std::vector<Finding>& findings_;
    bool imageLoaderTried_ = false;
    SmartPtr<RefCounted> imageModule_;
    std::string imageLoaderError_;
};

void CheckXml(const std::string& text, const CheckOptions& options,
              std::vector<Finding>& findings) {
    std::string error;
    std::unique_ptr<XmlElem, FreeXmlTree> root(ParseXml(text, false, &error));
    if (!root) {
        // ParseXml says "line:column: reason".
        Finding finding{1, 1, Severity::Error, "malformed-xml", error};
        char* end = nullptr;
        const unsigned long line = std::strtoul(error.c_str(), &end, 10);
        if (end && *end == ':') {
            const unsigned long column = std::strtoul(end + 1, &end, 10);
            if (end && end[0] == ':' && end[1] == ' ') {
                finding.line = static_cast<std::uint32_t>(line);
                finding.column = static_cast<std::uint32_t>(column);
                finding.message = end + 2;
            }
        }
        finding.message = "not well-formed XML: " + finding.message + "; the file does not load";
        findings.push_back(std::move(finding));
        return;
    }
    XmlChecker(text, options, findings).Run(*root);
}

// ---- Canonical JSON -----------------------------------------------------------------------------

// Where values stand in JSON text that the content reader has parsed already, to point at what
// it refused. Containers are skipped by counting, never by recursion.
class JsonLocator {
public:
    explicit JsonLocator(std::string_view text) : text_(text) {}

    // The offset of the value at pointer; with duplicateKey, the offset of the second member of
    // the pointer's last name instead. npos when it cannot be found.
    std::size_t Find(std::string_view pointer, bool duplicateKey) {
        std::vector<std::string> tokens;
        for (std::size_t pos = 0; pos < pointer.size();) {
            std::size_t end = pointer.find('/', pos + 1);
            if (end == std::string_view::npos)
                end = pointer.size();
            std::string token;
            for (std::size_t i = pos + 1; i < end; ++i) {
                if (pointer[i] == '~' && i + 1 < end) {
                    token += pointer[i + 1] == '1' ? '/' : '~';
                    ++i;
                } else {
                    token += pointer[i];
                }
            }
            tokens.push_back(std::move(token));
            pos = end;
        }
        std::size_t pos = SkipSpace(text_.starts_with("\xEF\xBB\xBF") ? 3 : 0);
        for (std::size_t k = 0; k < tokens.size(); ++k) {
            const bool last = k + 1 == tokens.size();
            if (pos >= text_.size())
                return npos;
            if (text_[pos] == '{') {
                int seen = 0;
                pos = SkipSpace(pos + 1);
                while (true) {
                    if (pos >= text_.size() || text_[pos] != '"')
                        return npos;
                    const std::size_t keyAt = pos;
                    std::string key;
                    pos = ReadString(pos, key);
                    pos = SkipSpace(pos);
                    if (pos >= text_.size() || text_[pos] != ':')
                        return npos;
                    pos = SkipSpace(pos + 1);
                    if (key == tokens[k]) {
                        if (!(last && duplicateKey))
                            break;
                        if (++seen == 2)
                            return keyAt;
                    }
                    pos = SkipSpace(SkipValue(pos));
                    if (pos >= text_.size() || text_[pos] != ',')
                        return npos;
                    pos = SkipSpace(pos + 1);
                }
            } else if (text_[pos] == '[') {
                char* end = nullptr;
                const unsigned long long index = std::strtoull(tokens[k].c_str(), &end, 10);
                if (tokens[k].empty() || *end)
                    return npos;
                pos = SkipSpace(pos + 1);
                for (unsigned long long i = 0; i < index; ++i) {
                    pos = SkipSpace(SkipValue(pos));
                    if (pos >= text_.size() || text_[pos] != ',')
                        return npos;
                    pos = SkipSpace(pos + 1);
                }
                if (pos >= text_.size() || text_[pos] == ']')
                    return npos;
            } else {
                return npos;
            }
        }
        return pos;
    }

    static constexpr std::size_t npos = std::string_view::npos;

private:
    std::size_t SkipSpace(std::size_t pos) const {
        while (pos < text_.size() && (text_[pos] == ' ' || text_[pos] == '\t' ||
                                      text_[pos] == '\r' || text_[pos] == '\n'))
            ++pos;
        return pos;
    }

    // Past the string at pos, with its decoded text in out.
    std::size_t ReadString(std::size_t pos, std::string& out) const {
        for (++pos; pos < text_.size() && text_[pos] != '"'; ++pos) {
            if (text_[pos] != '\\' || pos + 1 >= text_.size()) {
                out += text_[pos];
                continue;
            }
            const char escaped = text_[++pos];
            switch (escaped) {
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t code = Hex4(pos + 1);
                    pos += 4;
                    if (code >= 0xD800 && code < 0xDC00 && pos + 6 < text_.size() &&
                        text_[pos + 1] == '\\' && text_[pos + 2] == 'u') {
                        const std::uint32_t low = Hex4(pos + 3);
                        if (low >= 0xDC00 && low < 0xE000) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                            pos += 6;
                        }
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    out += escaped;
            }
        }
        return pos + 1;
    }

    std::uint32_t Hex4(std::size_t pos) const {
        std::uint32_t code = 0;
        for (std::size_t i = pos; i < pos + 4 && i < text_.size(); ++i) {
            const char c = text_[i];
            const std::uint32_t digit = c >= '0' && c <= '9'   ? std::uint32_t(c - '0')
                                        : c >= 'a' && c <= 'f' ? std::uint32_t(c - 'a' + 10)
                                        : c >= 'A' && c <= 'F' ? std::uint32_t(c - 'A' + 10)
                                                               : 0;
            code = code * 16 + digit;
        }
        return code;
    }

    // Past the value that starts at pos.
    std::size_t SkipValue(std::size_t pos) const {
        std::size_t depth = 0;
        do {
            pos = SkipSpace(pos);
            if (pos >= text_.size())
                return pos;
            const char c = text_[pos];
            if (c == '"') {
                std::string ignored;
                pos = ReadString(pos, ignored);
            } else if (c == '{' || c == '[') {
                ++depth;
                ++pos;
            } else if (c == '}' || c == ']') {
                if (depth > 0)
                    --depth;
                ++pos;
            } else if (c == ',' || c == ':') {
                ++pos;
            } else {
                while (pos < text_.size() &&
                       std::string_view(",:]} \t\r\n").find(text_[pos]) == std::string_view::npos)
                    ++pos;
            }
        } while (depth > 0);
        return pos;
    }

    std::string_view text_;
};

void CheckJson(const std::string& text, std::vector<Finding>& findings) {
    const LoadResult result = json::ReadContentJson(text);
    if (result)
        return;
    const Error& error = result.error;
    Finding finding{error.line, error.column, Severity::Error, "json-invalid", error.description()};
    if (error.line == 0) {
        finding.line = finding.column = 1;
        JsonLocator locator(text);
        const std::size_t at =
            locator.Find(error.place, error.message.starts_with("duplicate member"));
        if (at != JsonLocator::npos) {
            auto [line, column] = Positions(text).At(at);
            finding.line = line;
            finding.column = column;
        }
    } else {
        finding.message = error.message;
    }
    finding.message += "; the file does not load";
    findings.push_back(std::move(finding));
}

bool LooksLikeJson(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && text[first] == '{';
}

}  // namespace

std::vector<Finding> CheckDocument(const std::string& text, const CheckOptions& options) {
    std::vector<Finding> findings;
    if (LooksLikeJson(text)) {
        CheckJson(text, findings);
    } else {
        CheckXml(text, options, findings);
    }
    // Findings of one element's parts (a payload, an array item) come after the element's own;
    // document order is what a reader of the list expects.
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return findings;
}

}  // namespace kestrel::check
