// The checker against the loader: over every document the project ships, check finds no error
// exactly when load -> save -> load keeps every property and value the XML says.
#include "kestrel/check/Checker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "geometry/MeshBuilder.h"
#include "geometry/ValueComponents.h"
#include "geometry/ValueText.h"
#include "geometry/XmlElem.h"
#include "kestrel/diff/ContentDiff.h"
#include "kestrel/json/ContentJson.h"
#include "kestrel/load/Content.h"
#include "kestrel/values/ValueTraits.h"
#include "serializedContent/TestFiles.h"
#include "utilities/Base64.h"
#include "utilities/OrbTracer.h"

namespace {

namespace fs = std::filesystem;
using kestrel::values::Names;
using serializedContent::PropertyTraits;

std::vector<fs::path> Documents() {
    const fs::path data = KESTREL_TEST_DATA_DIR;
    std::vector<fs::path> files;
    for (const fs::path& dir :
         {data / "check", fs::path(KESTREL_EXAMPLES_DIR), data / "../../fuzz/corpus/document",
          data / "../../fuzz/corpus/json", data / "../../fuzz/regressions/document"}) {
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file() && entry.path().filename() != ".gitkeep")
                files.push_back(entry.path());
    }
    return files;
}

// Whether text, read as T, is loaded, and no number of it stands for another: integers are
// compared whole (an unsigned value may be written as its negative same bits), and a real
// number may not arrive as infinity or zero unless it is one.
template <class T>
bool ValueKept(std::string_view text, const T& loaded) {
    typename PropertyTraits<T>::KindType::Value meant{};
    if constexpr (std::is_same_v<T, Symbol>) {
        return text == loaded.view();
    } else if constexpr (std::is_same_v<T, Color>) {
        return ParseHexText(text, meant) && meant == loaded.GetAsHex();
    } else {
        if (!ParseValueText(text, meant))
            return false;
        // The numbers as written, read exactly; commas separate them as spaces do.
        std::string spaced(text);
        std::replace(spaced.begin(), spaced.end(), ',', ' ');
        std::istringstream tokens(spaced);
        std::vector<long double> exact;
        for (std::string token; tokens >> token;)
            exact.push_back(std::strtold(token.c_str(), nullptr));
        if constexpr (std::is_same_v<T, bool>) {
            return meant == loaded;
        } else if constexpr (std::is_integral_v<T>) {
            const auto value = static_cast<long double>(loaded);
            const long double bits = sizeof(T) == 8 ? 18446744073709551616.0L : 4294967296.0L;
            return exact.size() == 1 &&
                   (exact[0] == value || (std::is_unsigned_v<T> && exact[0] == value - bits));
        } else {
            auto all = []<class V>(const V& v) {
                std::vector<double> out;
                if constexpr (std::is_floating_point_v<V>)
                    out.push_back(v);
                else
                    for (const auto* component : Components(v))
                        out.push_back(*component);
                return out;
            };
            const std::vector<double> read = all(meant), components = all(loaded);
            for (std::size_t i = 0; i < components.size() && i < exact.size(); ++i) {
                if (!(read[i] == components[i] ||
                      (std::isnan(read[i]) && std::isnan(components[i]))) ||
                    std::isinf(exact[i]) != std::isinf(components[i]) ||
                    (exact[i] == 0) != (components[i] == 0))
                    return false;
            }
            return components.size() == exact.size();
        }
    }
}

// The payload records of a shape element's child, when it holds whole ones as it says.
std::optional<std::size_t> Records(const XmlElem& payload) {
    Base64Result result;
    const std::string& text = payload.GetText();
    const std::size_t bytes = Base64::Decode(text.data(), text.size(), result).size();
    const std::size_t count = payload.FindAttribute(Names().arrayCount);
    std::int32_t said = 0;
    if (!result || bytes % 12 != 0 ||
        (count == XmlElem::npos ? bytes != 0
                                : !ParseValueText(payload.GetAttributeText(count), said) ||
                                      std::size_t(said) != bytes / 12))
        return std::nullopt;
    return bytes / 12;
}

bool ShapeKept(const XmlElem& element, const Shape& shape) {
    const MeshData mesh = ExtractMesh(shape);
    if (element.GetChildCount() != 2 ||
        Records(*element.GetChild(0)) != mesh.positions.size() / 3 ||
        Records(*element.GetChild(1)) != mesh.indices.size() / 3)
        return false;
    return std::all_of(mesh.indices.begin(), mesh.indices.end(),
                       [&](std::uint32_t index) { return index < mesh.positions.size() / 3; });
}

// Whether one property element arrived as property with everything it says.
bool PropertyKept(const XmlElem& element, const SerializedContentElement::Property& property) {
    const bool array = element.GetName() == Names().propertyArray;
    const std::size_t type = element.FindAttribute(Names().type);
    const std::size_t name = element.FindAttribute(Names().name);
    if (type == XmlElem::npos || name == XmlElem::npos ||
        !(property.name == element.GetAttributeText(name)) ||
        kestrel::values::FactsOf(property.value).typeName !=
            element.GetAttributeText(type) + (array ? "[]" : ""))
        return false;
    auto textOf = [](const XmlElem& e) -> const std::string& {
        const std::size_t value = e.FindAttribute(Names().value);
        return value == XmlElem::npos ? e.GetText() : e.GetAttributeText(value);
    };
    return std::visit(
        [&]<class V>(const V& value) {
            if constexpr (std::is_same_v<V, SmartPtr<Shape>>) {
                return value && ShapeKept(element, *value);
            } else if constexpr (requires { typename PropertyTraits<V>::KindType; }) {
                return element.GetChildCount() == 0 && ValueKept(textOf(element), value);
            } else if constexpr (requires { typename V::value_type; }) {
                using T = typename V::value_type;
                if constexpr (requires { typename PropertyTraits<T>::KindType; }) {
                    bool kept = element.GetChildCount() == value.size();
                    for (std::size_t k = 0; kept && k < value.size(); ++k) {
                        const XmlElem& item = *element.GetChild(k);
                        kept = item.GetName() == Names().property &&
                               ValueKept(textOf(item), T(value[k]));
                    }
                    return kept;
                }
                return false;
            } else {
                Base64Result result;
                Base64::Decode(element.GetText().data(), element.GetText().size(), result);
                return element.GetChildCount() == 0 && static_cast<bool>(result);
            }
        },
        property.value);
}

// Whether every property element below the root's children arrived in tree, with its value.
bool AllArrived(const XmlElem& root, const SerializedContentElement& top) {
    std::vector<std::pair<const XmlElem*, const SerializedContentElement*>> pending;
    for (std::size_t i = 0; i < root.GetChildCount(); ++i)
        pending.emplace_back(root.GetChild(i), top.GetChild(i));
    while (!pending.empty()) {
        const auto [xml, content] = pending.back();
        pending.pop_back();
        std::size_t property = 0, child = 0;
        for (std::size_t i = 0; i < xml->GetChildCount(); ++i) {
            const XmlElem& element = *xml->GetChild(i);
            const bool array = element.GetName() == Names().propertyArray;
            const std::size_t type = element.FindAttribute(Names().type);
            // A shape list stores nothing; its shapes follow it.
            if (array && type != XmlElem::npos && element.GetAttributeText(type) == "shape")
                continue;
            if (array || element.GetName() == Names().property) {
                if (property == content->GetProperties().size() ||
                    !PropertyKept(element, content->GetProperties()[property++]))
                    return false;
            } else {
                pending.emplace_back(&element, content->GetChild(child++));
            }
        }
        if (property != content->GetProperties().size())
            return false;
    }
    return true;
}

// Checks and loads one document, expects the two to agree, and says whether it was kept whole.
bool Compare(const std::string& text, const std::string& what) {
    bool errors = false;
    for (const auto& finding : kestrel::check::CheckDocument(text, {}))
        errors |= finding.severity == kestrel::check::Severity::Error;
    bool keeps = false;
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first < text.size() && text[first] == '{') {
        keeps = static_cast<bool>(kestrel::json::ReadContentJson(text));
    } else if (const XmlParseResult parsed = ParseXmlDocument(text, false); !parsed) {
        EXPECT_FALSE(kestrel::LoadText(text)) << what;
    } else if (const kestrel::LoadResult loaded = kestrel::LoadText(text)) {
        const kestrel::LoadResult again = kestrel::LoadText(kestrel::SaveText(*loaded.tree));
        keeps = again && kestrel::diff::DiffContent(*loaded.tree, *again.tree).empty() &&
                AllArrived(*parsed.root, *loaded.tree);
    }
    EXPECT_NE(errors, keeps) << what;
    return keeps;
}

// The module's trace messages about refused documents would only fill the log.
class CheckerTest : public testing::Test {
protected:
    void SetUp() override {
        OrbTracer::SetSink([](const TraceMessage&) {});
    }
    void TearDown() override { OrbTracer::SetSink({}); }
};

// Every document as it is, and each value of each well-formed one in turn replaced by texts at
// the edges of the types.
TEST_F(CheckerTest, FindsNoErrorExactlyWhenLoadSaveLoadKeepsTheDocument) {
    std::vector<std::string> edges;
    std::istringstream list(
        "| 7 |abc|300|-1|-129|65536|4294967295|-2147483649|18446744073709551615|"
        "1e40|1e-50|1e999|-1e-400|inf|nan(0x1)|1,2|1 2 3|#fff|0x10|TRUE|"
        "1 2 3 0 0 0 1 1e39");
    for (std::string edge; std::getline(list, edge, '|');)
        edges.push_back(edge);
    std::size_t documents = 0, kept = 0, variants = 0;
    for (const fs::path& path : Documents()) {
        const std::string text = testfiles::ReadFile(path);
        ++documents;
        kept += Compare(text, path.string());
        const XmlParseResult parsed = ParseXmlDocument(text, false);
        std::vector<XmlElem*> pending{parsed.root.get()};
        while (parsed && !pending.empty()) {
            XmlElem* element = pending.back();
            pending.pop_back();
            for (std::size_t i = 0; i < element->GetChildCount(); ++i)
                pending.push_back(element->GetChild(i));
            if (element->GetName() != Names().property || element->GetChildCount() != 0)
                continue;
            const std::size_t value = element->FindAttribute(Names().value);
            const std::string original =
                value == XmlElem::npos ? element->GetText() : element->GetAttributeText(value);
            auto set = [&](const std::string& text) {
                if (value == XmlElem::npos)
                    element->SetText(text);
                else
                    element->SetAttribute(Names().value, text);
            };
            for (const std::string& edge : edges) {
                set(edge);
                Compare(WriteXml(*parsed.root), path.string() + " with " + edge);
            }
            set(original);
            variants += edges.size();
        }
    }
    EXPECT_GT(documents, 30u);
    EXPECT_GT(kept, 10u);
    EXPECT_GT(variants, 1000u);
}

}  // namespace
