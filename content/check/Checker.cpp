#include "kestrel/check/Checker.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include <nlohmann/json.hpp>

#include "geometry/MeshBuilder.h"
#include "geometry/ValueComponents.h"
#include "geometry/ValueText.h"
#include "geometry/XmlElem.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/load/Content.h"
#include "kestrel/values/ValueTraits.h"
#include "utilities/Base64.h"

namespace kestrel::check {

const char* SeverityName(Severity severity) {
    return severity == Severity::Error ? "error" : "warning";
}

namespace {

using serializedContent::PropertyTraits;
using values::Names;
using values::ValueTraits;
using Content = SerializedContentElement;

// The element names properties are told by; everything else below the root's children is a
// content element.
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

// ---- Messages -----------------------------------------------------------------------------------

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

// Text for a message: in double quotes, control characters escaped, long texts cut (before a
// UTF-8 continuation byte) so that one finding stays one readable line.
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
    return std::any_of(values::kTypeTable.begin(), values::kTypeTable.end(), [&](const auto& t) {
        return t.xmlCarries && t.isArray == array && t.itemTypeName == type;
    });
}

// A type name that type may have been meant as, differing in letter case or blanks only.
std::string NearTypeName(std::string_view type, bool array) {
    const std::string wanted = Lower(Trim(type));
    return IsXmlTypeName(wanted, array) ? wanted : std::string();
}

// ---- Positions ----------------------------------------------------------------------------------

// Line and column of byte offsets in the checked text, counted as the XML and JSON readers count
// them: lines from 1 after each '\n', columns in bytes from 1.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    std::pair<std::uint32_t, std::uint32_t> At(std::size_t offset) {
        Index();
        const auto line = static_cast<std::size_t>(
            std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin());
        return {static_cast<std::uint32_t>(line),
                static_cast<std::uint32_t>(offset - starts_[line - 1] + 1)};
    }

    // The offset of a line and column; npos when the text has no such place.
    std::size_t OffsetOf(std::uint32_t line, std::uint32_t column) {
        Index();
        if (line == 0 || column == 0 || line > starts_.size())
            return std::string_view::npos;
        const std::size_t offset = starts_[line - 1] + column - 1;
        return offset < text_.size() ? offset : std::string_view::npos;
    }

private:
    void Index() {
        if (!starts_.empty())
            return;
        starts_.push_back(0);
        for (std::size_t i = text_.find('\n'); i != std::string_view::npos;
             i = text_.find('\n', i + 1))
            starts_.push_back(i + 1);
    }

    std::string_view text_;
    std::vector<std::size_t> starts_;
};

// ---- Values -------------------------------------------------------------------------------------

template <class Kind>
ValueParseResult ParseKind(std::string_view text, typename Kind::Value& value) {
    if constexpr (std::is_same_v<Kind, serializedContent::HexKind>) {
        return ParseHexText(text, value);
    } else {
        return ParseValueText(text, value);
    }
}

// The types a value text carries, through a kind of the element tree.
template <class T>
constexpr bool kHasKind = requires {
    typename PropertyTraits<T>::KindType;
};

template <class Kind>
std::string KindText(const typename Kind::Value& value) {
    std::string out;
    if constexpr (std::is_same_v<Kind, serializedContent::TextKind>) {
        out = value;
    } else if constexpr (std::is_same_v<Kind, serializedContent::HexKind>) {
        AppendHexText(out, value);
    } else {
        AppendValueText(out, value);
    }
    return out;
}

// Real components compare by their bits, so that -0 and NaN payloads count.
template <class V>
bool SameBits(const V& a, const V& b) {
    if constexpr (std::is_floating_point_v<V>) {
        using Bits = std::conditional_t<sizeof(V) == 4, std::uint32_t, std::uint64_t>;
        return std::bit_cast<Bits>(a) == std::bit_cast<Bits>(b);
    } else if constexpr (
        requires { a.x; } || requires { a.orientation; }) {
        const auto x = Components(a);
        const auto y = Components(b);
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!SameBits(*x[i], *y[i]))
                return false;
        }
        return true;
    } else {
        return a == b;
    }
}

// The whole number an integer text means, sign and all: the host's reader takes texts above the
// signed range as the same bits, so the sign comes from reading it as a real number too.
__int128 WrittenInteger(std::string_view text) {
    std::int64_t wide = 0;
    double real = 0;
    ParseValueText(text, wide);
    ParseValueText(text, real);
    if (wide < 0 && real > 0)
        return static_cast<__int128>(static_cast<std::uint64_t>(wide));
    return wide;
}

std::string IntegerText(__int128 value) {
    if (value < 0)
        return "-" + std::to_string(static_cast<std::uint64_t>(-value));
    return std::to_string(static_cast<std::uint64_t>(value));
}

// The blank- or comma-separated numbers of a value text, in component order.
std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    for (std::size_t pos = text.find_first_not_of(" \t\r\n,"); pos != std::string_view::npos;) {
        const std::size_t end = std::min(text.find_first_of(" \t\r\n,", pos), text.size());
        tokens.push_back(text.substr(pos, end - pos));
        pos = text.find_first_not_of(" \t\r\n,", end);
    }
    return tokens;
}

// ---- XML documents ------------------------------------------------------------------------------

// Compares a document's element tree with what the module's reader made of it, element by
// element, and reports every property that did not arrive or arrived as another value.
class XmlChecker {
public:
    XmlChecker(std::string_view text, const CheckOptions& options, std::vector<Finding>& findings)
        : text_(text), lines_(text), options_(options), findings_(findings) {}

    void Run(const XmlElem& root, const Content& top) {
        // Depth costs no native stack: pending pairs wait here.
        std::vector<std::pair<const XmlElem*, const Content*>> pending;
        for (std::size_t i = root.GetChildCount(); i-- > 0;) {
            const XmlElem& child = *root.GetChild(i);
            CheckContentElement(child, true);
            if (const Content* content = top.GetChild(i))
                pending.emplace_back(&child, content);
        }
        while (!pending.empty()) {
            const auto [xml, content] = pending.back();
            pending.pop_back();
            const std::size_t first = pending.size();
            CheckChildren(*xml, *content, pending);
            // Children in document order, the first on top.
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
        }
    }

private:
    using Property = Content::Property;
    using Pending = std::vector<std::pair<const XmlElem*, const Content*>>;

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
        const std::size_t colon = name.find(':');
        if (!atRoot && (lower == PropertyElement() || lower == ArrayElement())) {
            Strict(element, "name-case",
                   Tag(element) + " is read as a content element named " +
                       Quote(name.substr(colon + 1)) + "; did you mean <" + lower + ">?");
        } else if (!name.starts_with(kPrefix)) {
            Strict(element, "element-prefix",
                   colon == std::string_view::npos
                       ? "content element " + Tag(element) + " has no \"kestrel_sc:\" prefix"
                       : "content element " + Tag(element) + " has the prefix " +
                             Quote(name.substr(0, colon)) + ", not \"kestrel_sc\"; it is read as " +
                             Quote(name.substr(colon + 1)));
        }
    }

    // What one content element's children became: its properties, in order, are those of its
    // property elements that arrived; its children, in order, are its other elements.
    struct Walk {
        const XmlElem& xml;
        const std::vector<Property>& properties;
        std::size_t next = 0;
        // Per type and name: the property elements still ahead, and the properties.
        std::unordered_map<std::string, std::size_t> elementsAhead, propertiesAhead;
        // For --strict: the first property of each name, and the names of shape lists.
        std::unordered_map<std::string, const XmlElem*> firstOfName;
        std::unordered_set<std::string> shapeLists;
    };

    static std::string Key(std::string_view type, std::string_view name) {
        std::string key(type);
        key += '\0';
        key += name;
        return key;
    }

    void CheckChildren(const XmlElem& xml, const Content& content, Pending& pending) {
        Walk walk{xml, content.GetProperties(), 0, {}, {}, {}, {}};
        for (const Property& property : walk.properties)
            ++walk.propertiesAhead[Key(values::FactsOf(property.value).typeName,
                                       property.name.view())];
        for (std::size_t i = 0; i < xml.GetChildCount(); ++i) {
            const XmlElem& child = *xml.GetChild(i);
            const bool array = child.GetName() == ArrayElement();
            if (!array && !(child.GetName() == PropertyElement()))
                continue;
            const std::size_t type = child.FindAttribute(Names().type);
            const std::size_t name = child.FindAttribute(Names().name);
            if (type != XmlElem::npos && name != XmlElem::npos) {
                ++walk.elementsAhead[Key(child.GetAttributeText(type) + (array ? "[]" : ""),
                                         child.GetAttributeText(name))];
            }
        }
        std::size_t nextChild = 0;
        for (std::size_t i = 0; i < xml.GetChildCount(); ++i) {
            const XmlElem& child = *xml.GetChild(i);
            if (child.GetName() == PropertyElement()) {
                CheckProperty(child, walk);
            } else if (child.GetName() == ArrayElement()) {
                CheckArray(child, walk);
            } else {
                CheckContentElement(child, false);
                if (const Content* arrived = content.GetChild(nextChild++))
                    pending.emplace_back(&child, arrived);
            }
        }
    }

    // The property element arrived as when the next property the reader stored has its type and
    // name. Elements of one type and name may be dropped while others arrive; then one without
    // the form of its type is taken for a dropped one.
    const Property* Arrival(Walk& walk, const XmlElem& element, const std::string& type,
                            const std::string& name, bool hasForm) {
        const std::string key = Key(type, name);
        std::size_t& elements = walk.elementsAhead[key];
        std::size_t& properties = walk.propertiesAhead[key];
        elements -= elements > 0;
        if (walk.next == walk.properties.size())
            return nullptr;
        const Property& next = walk.properties[walk.next];
        if (values::FactsOf(next.value).typeName != type || !(next.name == name) ||
            (!hasForm && elements >= properties)) {
            return nullptr;
        }
        --properties;
        ++walk.next;
        if (options_.strict)
            CheckDuplicateName(walk, element, name, type == kShapeType);
        return &next;
    }

    // Two properties of one element with one name are legal but rarely meant. The entries of a
    // shape list are the exception: they follow their array under its name by design.
    void CheckDuplicateName(Walk& walk, const XmlElem& element, const std::string& name,
                            bool shape) {
        if (shape && walk.shapeLists.count(name))
            return;
        auto [at, added] = walk.firstOfName.try_emplace(name, &element);
        if (!added) {
            Strict(element, "duplicate-name",
                   "a second property named " + Quote(name) + " in " + Tag(walk.xml) +
                       " (the first is at " + std::to_string(at->second->GetSourceLine()) + ":" +
                       std::to_string(at->second->GetSourceColumn()) + ")");
        }
    }

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
        for (std::size_t i = 0; options_.strict && i < element.GetAttributeCount(); ++i) {
            const std::string_view attribute = element.GetAttributeName(i).view();
            if (std::find(known.begin(), known.end(), attribute) == known.end()) {
                Strict(element, "unknown-attribute",
                       "attribute " + Quote(attribute) + " of " + subject + " is ignored");
            }
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

    // -- Single properties

    void CheckProperty(const XmlElem& element, Walk& walk) {
        std::string type, name;
        if (!TypeAndName(element, "property", type, name))
            return;
        const std::string subject = type + " property " + Quote(name);
        CheckAttributes(element, {"type", "name", "value", "format"}, subject);
        const std::size_t valueIndex = element.FindAttribute(Names().value);
        if (valueIndex != XmlElem::npos && (type == kImageType || type == kShapeType)) {
            Strict(element, "value-ignored",
                   "the \"value\" attribute of " + subject + " is ignored: " +
                       (type == kImageType ? "the payload is the text"
                                           : "the payloads are the children"));
        }
        const bool hasForm = type == kImageType   ? !element.GetText().empty()
                             : type == kShapeType ? HasShapeForm(element)
                                                  : true;
        const Property* arrived = Arrival(walk, element, type, name, hasForm);
        if (type == kImageType) {
            CheckImage(element, subject, arrived != nullptr);
            if (arrived)
                CheckIgnoredChildren(element, subject);
        } else if (type == kShapeType) {
            CheckShape(element, subject,
                       arrived ? std::get_if<SmartPtr<Shape>>(&arrived->value) : nullptr);
        } else if (!arrived) {
            std::string message;
            if (IsXmlTypeName(type, false)) {
                Report(element, Severity::Error, "property-lost",
                       subject + " is not in the loaded tree");
                return;
            }
            message = "unhandled property type " + Quote(type) + ": property " + Quote(name) +
                      " is left out";
            if (const std::string near = NearTypeName(type, false); !near.empty())
                message += " (did you mean " + Quote(near) + "?)";
            Report(element, Severity::Error, "unknown-type", std::move(message));
        } else {
            std::visit(
                [&]<class T>(const T& value) {
                    if constexpr (kHasKind<T>)
                        CheckValue<T>(element, valueIndex, value, subject);
                },
                arrived->value);
            CheckIgnoredChildren(element, subject);
        }
    }

    // Whether what arrived from the value text of a property or array item is what the text
    // says, by the host's own reading of value texts.
    template <class T>
    void CheckValue(const XmlElem& element, std::size_t valueIndex, const T& loaded,
                    const std::string& subject) {
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
        const typename Kind::Value stored = Traits::ToKind(loaded);
        typename Kind::Value meant{};
        if constexpr (std::is_same_v<Kind, serializedContent::TextKind>) {
            meant = text;
        } else if (const ValueParseResult parsed = ParseKind<Kind>(text, meant); !parsed) {
            Report(element, Severity::Error, "bad-value",
                   parsed.status == ValueParseResult::Empty
                       ? subject + " has no value; it is stored as the default, " +
                             KindText<Kind>(stored)
                       : subject + ": " + Quote(Trim(text)) + " is not a valid " +
                             Traits::typeName + " value (" + parsed.description() +
                             "); it is stored as the default, " + KindText<Kind>(stored));
            return;
        } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            // A number stored as another, unless the text is the writer's form of what arrived
            // (an unsigned value with its top bit set travels as a negative number).
            const __int128 written = WrittenInteger(text);
            if (written != static_cast<__int128>(loaded) &&
                written != static_cast<__int128>(static_cast<std::int64_t>(stored))) {
                Report(element, Severity::Error, "out-of-range",
                       subject + ": " + std::string(Trim(text)) + " is outside the range of " +
                           Traits::typeName + "; it is stored as " + IntegerText(loaded));
                return;
            }
        } else if constexpr (!std::is_void_v<typename ValueTraits<T>::Real>) {
            if (CheckRealRange(element, text, loaded, subject))
                return;
        }
        if (!SameBits(stored, meant)) {
            Report(element, Severity::Error, "value-changed",
                   subject + ": the text says " + Quote(KindText<Kind>(meant)) + ", but " +
                       Quote(KindText<Kind>(stored)) + " arrives");
        }
    }

    // Numbers beyond their type's range arrive as infinity, and those too small for it as
    // zero; the standard library tells which texts those are.
    template <class T>
    bool CheckRealRange(const XmlElem& element, std::string_view text, const T& loaded,
                        const std::string& subject) {
        using Real = typename ValueTraits<T>::Real;
        std::vector<const Real*> components;
        if constexpr (ValueTraits<T>::isCompound) {
            for (const Real* component : Components(loaded))
                components.push_back(component);
        } else {
            components.push_back(&loaded);
        }
        const std::vector<std::string_view> tokens = Tokens(text);
        bool found = false;
        for (std::size_t k = 0; k < tokens.size() && k < components.size(); ++k) {
            const std::string_view token = tokens[k];
            const std::string_view digits = token.starts_with('+') ? token.substr(1) : token;
            Real exact = 0;
            if (std::from_chars(digits.data(), digits.data() + digits.size(), exact).ec !=
                std::errc::result_out_of_range) {
                continue;
            }
            const Real component = *components[k];
            if (!std::isinf(component) && component != 0)
                continue;
            found = true;
            Report(element, Severity::Error, "out-of-range",
                   subject + ": " + (ValueTraits<T>::isCompound ? "component " : "") +
                       std::string(token) +
                       (std::isinf(component) ? " is beyond the range of " : " is too small for ") +
                       (std::is_same_v<Real, float> ? "float" : "double") + "; it is stored as " +
                       ValueToText(component));
        }
        return found;
    }

    // -- Arrays

    void CheckArray(const XmlElem& element, Walk& walk) {
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
        // A shape list stores nothing itself: its shapes follow it as properties of its name.
        if (type == kShapeType) {
            walk.shapeLists.insert(name);
            CheckArrayCount(element, items.size(), subject);
            return;
        }
        const Property* arrived = Arrival(walk, element, type + "[]", name, true);
        if (!arrived) {
            std::string message =
                "array type " + Quote(type) + " is not read: array " + Quote(name) + " is left out";
            if (IsXmlTypeName(type, true)) {
                message = subject + " is not in the loaded tree";
            } else if (const std::string near = NearTypeName(type, true); !near.empty()) {
                message += " (did you mean " + Quote(near) + "?)";
            } else if (IsXmlTypeName(type, false)) {
                message += " (" + type + " has no array form)";
            }
            Report(element, Severity::Error,
                   IsXmlTypeName(type, true) ? "property-lost" : "unknown-array-type",
                   std::move(message));
            return;
        }
        std::visit(
            [&]<class V>(const V& values) {
                if constexpr (requires { typename V::value_type; }) {
                    using T = typename V::value_type;
                    if constexpr (kHasKind<T>) {
                        CheckArrayCount(element, values.size(), subject);
                        if (values.size() != items.size()) {
                            Report(element, Severity::Error, "property-lost",
                                   subject + " has " + Count(items.size(), "item") + " but " +
                                       std::to_string(values.size()) + " arrive");
                            return;
                        }
                        for (std::size_t k = 0; k < items.size(); ++k) {
                            const std::string itemSubject =
                                "item " + std::to_string(k + 1) + " of " + subject;
                            CheckAttributes(*items[k], {"value"}, itemSubject);
                            CheckValue<T>(*items[k], items[k]->FindAttribute(Names().value),
                                          T(values[k]), itemSubject);
                        }
                    }
                }
            },
            arrived->value);
    }

    // The reader does not trust "count"; one that disagrees with what arrived hints at items lost
    // in editing.
    void CheckArrayCount(const XmlElem& element, std::size_t arrived, const std::string& subject) {
        const std::size_t countIndex = element.FindAttribute(Names().arrayCount);
        if (countIndex == XmlElem::npos)
            return;
        const std::string& text = element.GetAttributeText(countIndex);
        std::int64_t count = 0;
        const ValueParseResult parsed = ParseValueText(text, count);
        const std::string present = "the reader takes the " + Count(arrived, "item") + " present";
        if (!parsed || count < 0 || count > 0xFFFFFFFFll) {
            Report(element, Severity::Warning, "array-count-mismatch",
                   "count " + Quote(text) + " of " + subject + " is not a count; " + present);
        } else if (static_cast<std::uint64_t>(count) != arrived) {
            Report(element, Severity::Warning, "array-count-mismatch",
                   subject + " says count " + std::to_string(count) + " but has " +
                       Count(arrived, "item") + "; " + present);
        }
    }

    // -- Payloads

    // Decodes a payload text; a damaged one is reported at the offending character where the
    // source shows it.
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
        std::size_t at = lines_.OffsetOf(element.GetSourceLine(), element.GetSourceColumn());
        if (at == std::string_view::npos || text_[at] != '<')
            return fallback;
        char quote = 0;
        for (++at; at < text_.size() && (quote || text_[at] != '>'); ++at) {
            if (text_[at] == quote)
                quote = 0;
            else if (!quote && (text_[at] == '"' || text_[at] == '\''))
                quote = text_[at];
        }
        const std::string& text = element.GetText();
        const std::size_t start = at + 1;
        if (at >= text_.size() || offset >= text.size() || start + offset >= text_.size() ||
            text_.substr(start, offset + 1) != std::string_view(text).substr(0, offset + 1)) {
            return fallback;
        }
        return lines_.At(start + offset);
    }

    // -- Images

    // An image arrives when the host's BMP loader reads its payload; what is told is why one
    // did not, or that it arrived from less than its text.
    void CheckImage(const XmlElem& element, const std::string& subject, bool arrived) {
        const std::size_t formatIndex = element.FindAttribute(FormatAttribute());
        if (formatIndex != XmlElem::npos && element.GetAttributeText(formatIndex) != "bmp") {
            Strict(element, "image-format",
                   "format " + Quote(element.GetAttributeText(formatIndex)) + " of " + subject +
                       " is ignored: the payload is always read as BMP");
        }
        if (!arrived && element.GetText().empty()) {
            Report(element, Severity::Error, "image-empty",
                   subject + " has no payload; it is left out");
            return;
        }
        const std::string& text = element.GetText();
        Base64Result result;
        const std::vector<char> bytes = Base64::Decode(text.data(), text.size(), result);
        if (!result) {
            auto [line, column] = TextPosition(element, result.offset);
            Report(line, column, Severity::Error, "bad-base64",
                   subject + ": Base64 " + result.description() +
                       (arrived ? "; the image is read from the " + Count(bytes.size(), "byte") +
                                      " before it"
                                : "; the image is left out"));
        } else if (!arrived) {
            Report(element, Severity::Error, "image-unreadable",
                   subject + ": the host's BMP loader does not read its " +
                       Count(bytes.size(), "byte") + "; it is left out");
        }
    }

    // -- Shapes

    static bool HasShapeForm(const XmlElem& element) {
        return element.GetChildCount() == 2 && element.GetChild(0)->GetName() == "vertices" &&
               element.GetChild(1)->GetName() == "triangles";
    }

    // Reports how the records one payload element says it holds differ from the arrived ones.
    void CheckPayload(const XmlElem& element, const std::string& what, std::size_t arrived) {
        const std::size_t countIndex = element.FindAttribute(Names().arrayCount);
        std::int32_t count = 0;
        bool countRead = false;
        std::string countText;
        if (countIndex != XmlElem::npos) {
            countText = element.GetAttributeText(countIndex);
            countRead = static_cast<bool>(ParseValueText(countText, count));
        }
        const auto said = static_cast<std::uint32_t>(count);
        bool damaged = false;
        const std::vector<char> bytes =
            element.GetText().empty()
                ? std::vector<char>()
                : Decode(element, what, "only the whole records before it can be read", damaged);
        const std::size_t records = bytes.size() / 12;
        if (!damaged && bytes.size() % 12 != 0) {
            Report(element, Severity::Error, "shape-payload-size",
                   what + ": a payload of " + Count(bytes.size(), "byte") +
                       " is not a whole number of 12-byte records; " +
                       LastIgnored(bytes.size() % 12, "byte"));
        }
        if (arrived == records && (countIndex == XmlElem::npos || (countRead && said == arrived))) {
            return;
        }
        const std::string held = "the payload holds " + Count(records, "record");
        const std::string saysCount = what + " say count " + std::string(Trim(countText));
        if (countIndex == XmlElem::npos) {
            Report(element, Severity::Error, "shape-count-missing",
                   what + " have no \"count\", which reads as 0: none of the records are read (" +
                       held + ")");
        } else if (!countRead) {
            Report(element, Severity::Error, "shape-count-mismatch",
                   what + ": count " + Quote(countText) +
                       " is not a number and reads as 0: none of the records are read (" + held +
                       ")");
        } else if (element.GetText().empty()) {
            Report(element, Severity::Error, "shape-count-mismatch",
                   saysCount + " but have no payload; no records are read");
        } else if (said < records) {
            Report(element, Severity::Error, "shape-count-mismatch",
                   saysCount + " but " + held + "; " + LastIgnored(records - said, "record"));
        } else if (said > records) {
            Report(element, Severity::Error, "shape-count-mismatch",
                   saysCount + " but " + held + "; only those are read");
        } else {
            Report(element, Severity::Error, "shape-count-mismatch",
                   saysCount + " and " + held + ", but " + Count(arrived, "record") + " arrive");
        }
    }

    void CheckShape(const XmlElem& element, const std::string& subject,
                    const SmartPtr<Shape>* loaded) {
        const std::size_t children = element.GetChildCount();
        if (!loaded) {
            if (children != 2) {
                Report(element, Severity::Error, "shape-structure",
                       subject + " has " + Count(children, "child element") +
                           ", not the two <vertices> then <triangles>; it is left out");
            } else if (element.GetChild(0)->GetName() == "triangles" &&
                       element.GetChild(1)->GetName() == "vertices") {
                Report(element, Severity::Error, "shape-structure",
                       subject + " has <triangles> before <vertices>; it is left out");
            } else if (HasShapeForm(element)) {
                Report(element, Severity::Error, "property-lost",
                       subject + " is not in the loaded tree");
            } else {
                for (std::size_t i = 0; i < 2; ++i) {
                    const XmlElem& child = *element.GetChild(i);
                    const char* expected = i == 0 ? "vertices" : "triangles";
                    if (!(child.GetName() == expected)) {
                        Report(child, Severity::Error, "shape-structure",
                               Tag(child) + " stands where " + subject + " needs <" + expected +
                                   ">; the shape is left out");
                    }
                }
            }
            return;
        }
        if (!HasShapeForm(element) || !*loaded)
            return;
        const MeshData mesh = ExtractMesh(**loaded);
        const std::size_t vertices = mesh.positions.size() / 3;
        CheckPayload(*element.GetChild(0), "the vertices of " + subject, vertices);
        CheckPayload(*element.GetChild(1), "the triangles of " + subject, mesh.indices.size() / 3);
        std::string listed;
        std::size_t bad = 0;
        for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
            for (std::size_t c = t; c < t + 3; ++c) {
                if (mesh.indices[c] < vertices)
                    continue;
                if (++bad <= kListedTriangles) {
                    listed += (listed.empty() ? "" : ", ") + std::string("triangle ") +
                              std::to_string(t / 3) + " uses vertex " +
                              std::to_string(mesh.indices[c]);
                }
                break;
            }
        }
        if (bad > 0) {
            if (bad > kListedTriangles)
                listed += ", ... (" + std::to_string(bad) + " triangles in all)";
            Report(*element.GetChild(1), Severity::Error, "shape-bad-index",
                   subject + " has " + Count(vertices, "vertex", "vertices") +
                       " (numbered from 0), but " + listed +
                       "; such triangles are kept, but normals skip them");
        }
    }

    std::string_view text_;
    Lines lines_;
    const CheckOptions& options_;
    std::vector<Finding>& findings_;
};

void CheckXml(const std::string& text, const CheckOptions& options,
              std::vector<Finding>& findings) {
    const XmlParseResult parsed = ParseXmlDocument(text, false);
    if (!parsed) {
        findings.push_back({parsed.line, parsed.column, Severity::Error, "malformed-xml",
                            "not well-formed XML: " + parsed.reason + "; the file does not load"});
        return;
    }
    const LoadResult loaded = LoadText(text);
    if (!loaded) {
        findings.push_back({1, 1, Severity::Error, "load-failed",
                            loaded.error.description() + "; the file does not load"});
        return;
    }
    XmlChecker(text, options, findings).Run(*parsed.root, *loaded.tree);
}

// ---- Canonical JSON -----------------------------------------------------------------------------

// Hands nlohmann's parser the text byte by byte and keeps how far it has read, which tells the
// SAX events below where in the text they stand.
struct CountingIterator {
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    const char* at = nullptr;
    const char** read = nullptr;

    reference operator*() const { return *at; }
    CountingIterator& operator++() {
        *read = ++at;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const { return at == other.at; }
};

// What JsonLocator looks for.
enum class JsonTarget { Value, SecondKey };

// Finds where the value at a JSON Pointer starts, or where the second key of a member given twice
// does, by following the parser's events; containers cost no native stack.
class JsonLocator : public nlohmann::json::json_sax_t {
public:
    JsonLocator(std::string_view text, std::string_view pointer, JsonTarget target)
        : text_(text), target_(target) {
        for (std::size_t pos = 0; pos < pointer.size();) {
            const std::size_t end = std::min(pointer.find('/', pos + 1), pointer.size());
            std::string token(pointer.substr(pos + 1, end - pos - 1));
            for (std::size_t i = 0; (i = token.find('~', i)) != std::string::npos; ++i)
                token.replace(i, 2, token.compare(i, 2, "~1") == 0 ? "/" : "~");
            tokens_.push_back(std::move(token));
            pos = end;
        }
    }

    // The offset found, or npos.
    std::size_t Find() {
        CountingIterator first{text_.data(), &read_};
        CountingIterator last{text_.data() + text_.size(), &read_};
        read_ = text_.data();
        nlohmann::json::sax_parse(first, last, this);
        return found_;
    }

    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t&) override { return Value(); }
    bool string(string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override { return Value() && Open(false); }
    bool start_array(std::size_t) override { return Value() && Open(true); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& key) override {
        SetToken(key);
        if (target_ == JsonTarget::SecondKey && AtPointer() && ++seen_ == 2)
            return Stop();
        return Moved();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) override {
        return false;
    }

private:
    struct Frame {
        bool array;
        std::size_t nextIndex;
    };

    bool AtPointer() const { return stack_.size() == tokens_.size() && matched_ == stack_.size(); }

    // The current member or item of the innermost container is now token.
    void SetToken(const std::string& token) {
        const std::size_t depth = stack_.size() - 1;
        if (matched_ >= depth)
            matched_ = depth + (depth < tokens_.size() && tokens_[depth] == token);
    }

    bool Value() {
        if (!stack_.empty() && stack_.back().array)
            SetToken(std::to_string(stack_.back().nextIndex++));
        if (target_ == JsonTarget::Value && AtPointer())
            return Stop();
        return Moved();
    }
    bool Open(bool array) {
        stack_.push_back({array, 0});
        matched_ = std::min(matched_, stack_.size() - 1);
        return true;
    }
    bool Close() {
        stack_.pop_back();
        matched_ = std::min(matched_, stack_.size());
        return Moved();
    }
    // The event's token starts at the first byte after the previous one's that is no blank,
    // comma or colon.
    bool Stop() {
        found_ = std::min(text_.find_first_not_of(" \t\r\n,:", previous_), text_.size());
        return false;
    }
    bool Moved() {
        previous_ = static_cast<std::size_t>(read_ - text_.data());
        return true;
    }

    std::string_view text_;
    JsonTarget target_;
    std::vector<std::string> tokens_;
    std::vector<Frame> stack_;
    std::size_t matched_ = 0;
    std::size_t seen_ = 0;
    const char* read_ = nullptr;
    std::size_t previous_ = 0;
    std::size_t found_ = std::string_view::npos;
};

void CheckJson(const std::string& text, std::vector<Finding>& findings) {
    const LoadResult result = json::ReadContentJson(text);
    if (result)
        return;
    const Error& error = result.error;
    Finding finding{error.line, error.column, Severity::Error, "json-invalid", error.message};
    if (error.line == 0) {
        finding.message = error.description();
        const JsonTarget target = error.message.starts_with("duplicate member")
                                      ? JsonTarget::SecondKey
                                      : JsonTarget::Value;
        const std::size_t at = JsonLocator(text, error.place, target).Find();
        finding.line = finding.column = 1;
        if (at != std::string::npos)
            std::tie(finding.line, finding.column) = Lines(text).At(at);
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
