#include "kestrel/diff/ContentDiff.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>
#include <type_traits>
#include <variant>

#include <nlohmann/json.hpp>

#include "geometry/MeshBuilder.h"
#include "geometry/ValueComponents.h"
#include "geometry/ValueText.h"
#include "kernel/SerializedContentElement.h"
#include "kestrel/values/ValueFormat.h"
#include "kestrel/values/ValueTraits.h"

namespace kestrel::diff {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Names listed when an order changed, from the first place it does.
constexpr std::size_t kOrderNamesShown = 4;

using values::TypeName;
using values::ValueSummary;
using values::ValueTraits;

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// How two sequences of items compare: their lengths, and over their common part how many items
// differ and where the first one is.
struct SequenceDiff {
    std::size_t countA = 0, countB = 0;
    std::size_t differing = 0;
    std::size_t first = kNone;

    bool Same() const { return countA == countB && differing == 0; }
};

template <class SameAt>
SequenceDiff CompareSequences(std::size_t countA, std::size_t countB, SameAt sameAt) {
    SequenceDiff diff{countA, countB};
    for (std::size_t i = 0, common = std::min(countA, countB); i < common; ++i) {
        if (!sameAt(i)) {
            if (diff.differing++ == 0)
                diff.first = i;
        }
    }
    return diff;
}

// "1 of 3 items differ, first [1]: 0.3 -> 0.35", "3 -> 4 items", or "3 -> 4 items, 1 of the
// first 3 differ, first [1]: ..."; firstDetail describes the first differing item.
std::string DescribeSequence(const SequenceDiff& diff, const char* one, const char* many,
                             const std::string& firstDetail) {
    std::string out;
    const std::size_t common = std::min(diff.countA, diff.countB);
    if (diff.countA == diff.countB) {
        out = std::to_string(diff.differing) + " of " + Plural(common, one, many) + " differ";
    } else {
        out = std::to_string(diff.countA) + " -> " + Plural(diff.countB, one, many);
        if (diff.differing)
            out += ", " + std::to_string(diff.differing) + " of the first " +
                   std::to_string(common) + " differ";
    }
    if (diff.differing)
        out += ", first [" + std::to_string(diff.first) + "]: " + firstDetail;
    return out;
}

std::string PixelText(const std::uint8_t* pixel, std::size_t bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "#";
    for (std::size_t i = 0; i < bytes; ++i) {
        out += kDigits[pixel[i] >> 4];
        out += kDigits[pixel[i] & 15];
    }
    return out;
}

// The outcome of comparing two values of one type: equal, or not with an optional description
// (empty when the two summaries show the difference by themselves).
struct Verdict {
    bool same = true;
    std::string detail;
};

class ValueComparer {
public:
    explicit ValueComparer(double eps) : eps_(eps) {}

    template <class F>
    bool SameNumber(F a, F b) const {
        if (std::memcmp(&a, &b, sizeof a) == 0)
            return true;
        if (!(eps_ > 0))
            return false;
        if (std::isnan(a) || std::isnan(b))
            return std::isnan(a) && std::isnan(b);
        return std::fabs(static_cast<double>(a) - static_cast<double>(b)) <= eps_;
    }

    template <class T>
    Verdict Compare(const T& a, const T& b) const {
        if constexpr (ValueTraits<T>::isArray) {
            return CompareArrays(a, b);
        } else if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
            if (!a || !b)
                return {!a && !b, {}};
            std::string detail = MeshDetail(ExtractMesh(*a), ExtractMesh(*b));
            return {detail.empty(), detail};
        } else if constexpr (std::is_same_v<T, SmartPtr<Image>>) {
            if (!a || !b)
                return {!a && !b, {}};
            if (a->GetWidth() != b->GetWidth() || a->GetHeight() != b->GetHeight() ||
                a->GetFormat() != b->GetFormat())
                return {false, {}};
            std::string detail = PixelDetail(*a, *b);
            return {detail.empty(), detail};
        } else if constexpr (std::is_floating_point_v<T>) {
            return {SameNumber(a, b), {}};
        } else if constexpr (ValueTraits<T>::isCompound) {
            const auto x = Components(a);
            const auto y = Components(b);
            for (std::size_t i = 0; i < x.size(); ++i) {
                if (!SameNumber(*x[i], *y[i]))
                    return {false, {}};
            }
            return {};
        } else if constexpr (std::is_same_v<T, Color>) {
            return {a.GetAsHex() == b.GetAsHex(), {}};
        } else {
            // Integers, bool, DHex and strings (interned: equal bytes, equal Symbols).
            return {a == b, {}};
        }
    }

private:
    template <class T>
    static std::string ItemText(const T& item) {
        return ValueSummary(PropertyValue(std::in_place_type<T>, item));
    }

    template <class T>
    Verdict CompareArrays(const std::vector<T>& a, const std::vector<T>& b) const {
        // vector<bool> hands out proxies; every other item is compared in place.
        auto item = [](const std::vector<T>& values, std::size_t i) -> decltype(auto) {
            if constexpr (std::is_same_v<T, bool>) {
                return static_cast<bool>(values[i]);
            } else {
                return (values[i]);
            }
        };
        const SequenceDiff diff = CompareSequences(a.size(), b.size(), [&](std::size_t i) {
            return Compare<T>(item(a, i), item(b, i)).same;
        });
        if (diff.Same())
            return {};
        std::string firstDetail;
        if (diff.differing) {
            const std::size_t i = diff.first;
            firstDetail = Compare<T>(item(a, i), item(b, i)).detail;
            if (firstDetail.empty())
                firstDetail = ItemText<T>(item(a, i)) + " -> " + ItemText<T>(item(b, i));
        }
        return {false, DescribeSequence(diff, "item", "items", firstDetail)};
    }

    // "" when the meshes are the same; otherwise how their vertices and triangles differ.
    std::string MeshDetail(const MeshData& a, const MeshData& b) const {
        const SequenceDiff vertices =
            CompareSequences(a.positions.size() / 3, b.positions.size() / 3, [&](std::size_t i) {
                for (std::size_t k = 3 * i; k < 3 * i + 3; ++k) {
                    if (!SameNumber(a.positions[k], b.positions[k]))
                        return false;
                }
                return true;
            });
        const SequenceDiff triangles =
            CompareSequences(a.indices.size() / 3, b.indices.size() / 3, [&](std::size_t i) {
                return std::equal(a.indices.begin() + 3 * i, a.indices.begin() + 3 * i + 3,
                                  b.indices.begin() + 3 * i);
            });
        auto vertex = [](const MeshData& mesh, std::size_t i) {
            return ValueToText(FPoint3D{mesh.positions[3 * i], mesh.positions[3 * i + 1],
                                        mesh.positions[3 * i + 2]});
        };
        auto triangle = [](const MeshData& mesh, std::size_t i) {
            return std::to_string(mesh.indices[3 * i]) + " " +
                   std::to_string(mesh.indices[3 * i + 1]) + " " +
                   std::to_string(mesh.indices[3 * i + 2]);
        };
        std::string out;
        if (!vertices.Same()) {
            std::string first;
            if (vertices.differing)
                first = vertex(a, vertices.first) + " -> " + vertex(b, vertices.first);
            out = DescribeSequence(vertices, "vertex", "vertices", first);
        }
        if (!triangles.Same()) {
            std::string first;
            if (triangles.differing)
                first = triangle(a, triangles.first) + " -> " + triangle(b, triangles.first);
            out += (out.empty() ? "" : "; ") +
                   DescribeSequence(triangles, "triangle", "triangles", first);
        }
        return out;
    }

    // "" when the pixels of two images of one size and format are the same.
    static std::string PixelDetail(const Image& a, const Image& b) {
        const std::size_t bytes = BytesPerPixel(a.GetFormat());
        const std::size_t pixels = std::min(a.GetPixelBytes(), b.GetPixelBytes()) / bytes;
        std::size_t differing = 0, first = kNone;
        for (std::size_t i = 0; i < pixels; ++i) {
            if (std::memcmp(a.GetPixels() + i * bytes, b.GetPixels() + i * bytes, bytes) != 0) {
                if (differing++ == 0)
                    first = i;
            }
        }
        if (!differing)
            return {};
        const std::size_t width = a.GetWidth();
        return std::to_string(differing) + " of " + Plural(pixels, "pixel", "pixels") +
               " differ, first (" + std::to_string(first % width) + ", " +
               std::to_string(first / width) +
               "): " + PixelText(a.GetPixels() + first * bytes, bytes) + " -> " +
               PixelText(b.GetPixels() + first * bytes, bytes);
    }

    double eps_;
};

// Which items of two sibling lists match: the k-th of a name in A with the k-th of that name in
// B. Names are compared by their interned identity.
struct Matching {
    std::vector<std::size_t> matchOfA, matchOfB;        // the partner's index, or kNone
    std::vector<std::size_t> occurrenceA, occurrenceB;  // k: earlier siblings of the same name
};

void NumberOccurrences(const std::vector<const void*>& names, std::vector<std::size_t>& sorted,
                       std::vector<std::size_t>& occurrence) {
    sorted.resize(names.size());
    std::iota(sorted.begin(), sorted.end(), std::size_t{0});
    std::stable_sort(sorted.begin(), sorted.end(), [&](std::size_t i, std::size_t j) {
        return std::less<const void*>()(names[i], names[j]);
    });
    occurrence.assign(names.size(), 0);
    for (std::size_t p = 1; p < sorted.size(); ++p) {
        if (names[sorted[p]] == names[sorted[p - 1]])
            occurrence[sorted[p]] = occurrence[sorted[p - 1]] + 1;
    }
}

Matching MatchNames(const std::vector<const void*>& a, const std::vector<const void*>& b) {
    Matching m;
    m.matchOfA.assign(a.size(), kNone);
    m.matchOfB.assign(b.size(), kNone);
    if (a == b) {
        // The usual case: the same names in the same order.
        std::iota(m.matchOfA.begin(), m.matchOfA.end(), std::size_t{0});
        std::iota(m.matchOfB.begin(), m.matchOfB.end(), std::size_t{0});
        std::vector<std::size_t> sorted;
        NumberOccurrences(a, sorted, m.occurrenceA);
        m.occurrenceB = m.occurrenceA;
        return m;
    }
    std::vector<std::size_t> sortedA, sortedB;
    NumberOccurrences(a, sortedA, m.occurrenceA);
    NumberOccurrences(b, sortedB, m.occurrenceB);
    // Both lists are sorted by name, each name's items in document order: walk them together.
    std::size_t p = 0, q = 0;
    while (p < sortedA.size() && q < sortedB.size()) {
        const void* x = a[sortedA[p]];
        const void* y = b[sortedB[q]];
        if (x == y) {
            m.matchOfA[sortedA[p]] = sortedB[q];
            m.matchOfB[sortedB[q]] = sortedA[p];
            ++p, ++q;
        } else if (std::less<const void*>()(x, y)) {
            ++p;
        } else {
            ++q;
        }
    }
    return m;
}

// "name" for the first of its name among its siblings, "name[k]" for the k-th after it.
std::string Segment(const Symbol& name, std::size_t occurrence) {
    std::string out(name.view());
    if (occurrence)
        out += "[" + std::to_string(occurrence) + "]";
    return out;
}

// When the matched items stand in another order in B: their names in A's and in B's order,
// from the first place they part. False when the order is the same.
bool DescribeOrder(const Matching& m, const std::vector<std::string>& segmentsA, std::string& inA,
                   std::string& inB) {
    std::vector<std::size_t> orderA, orderB;  // A indices, in A's and in B's order
    for (std::size_t i = 0; i < m.matchOfA.size(); ++i) {
        if (m.matchOfA[i] != kNone)
            orderA.push_back(i);
    }
    for (std::size_t j = 0; j < m.matchOfB.size(); ++j) {
        if (m.matchOfB[j] != kNone)
            orderB.push_back(m.matchOfB[j]);
    }
    const auto parted = std::mismatch(orderA.begin(), orderA.end(), orderB.begin());
    if (parted.first == orderA.end())
        return false;
    const std::size_t start = static_cast<std::size_t>(parted.first - orderA.begin());
    auto list = [&](const std::vector<std::size_t>& order) {
        std::string out = start ? "..., " : "";
        const std::size_t end = std::min(order.size(), start + kOrderNamesShown);
        for (std::size_t i = start; i < end; ++i) {
            out += (i > start ? ", " : "") + segmentsA[order[i]];
        }
        if (end < order.size())
            out += ", ...";
        return out;
    };
    inA = list(orderA);
    inB = list(orderB);
    return true;
}

class TreeDiffer {
public:
    TreeDiffer(const DiffOptions& options, std::vector<Difference>& out)
        : options_(options), values_(options.eps), out_(out) {}

    void Run(const SerializedContentElement& a, const SerializedContentElement& b) {
        // Pre-order with an explicit stack; path holds the path of the element being compared,
        // ends[d] where its first d + 1 segments end.
        struct Pending {
            const SerializedContentElement* a;
            const SerializedContentElement* b;
            std::size_t occurrence;
            std::size_t depth;
        };
        std::vector<Pending> pending{{&a, &b, 0, 0}};
        std::vector<std::size_t> ends;
        while (!pending.empty()) {
            const Pending current = pending.back();
            pending.pop_back();
            if (current.depth == 0) {
                path_.clear();
            } else {
                path_.resize(ends[current.depth - 1]);
                path_ += '/';
            }
            path_ += Segment(current.a->GetName(), current.occurrence);
            ends.resize(current.depth + 1);
            ends[current.depth] = path_.size();

            if (current.depth == 0 && !(a.GetName() == b.GetName())) {
                Difference& d = Add(DifferenceKind::Changed);
                d.a = std::string(a.GetName().view());
                d.b = std::string(b.GetName().view());
                d.detail = "top element name " + *d.a + " -> " + *d.b;
            }
            CompareProperties(*current.a, *current.b);
            const Matching m = CompareChildren(*current.a, *current.b);
            for (std::size_t i = current.a->GetChildCount(); i-- > 0;) {
                if (m.matchOfA[i] != kNone) {
                    pending.push_back({current.a->GetChild(i), current.b->GetChild(m.matchOfA[i]),
                                       m.occurrenceA[i], current.depth + 1});
                }
            }
        }
    }

private:
    Difference& Add(DifferenceKind kind) {
        Difference& d = out_.emplace_back();
        d.kind = kind;
        d.path = path_;
        return d;
    }

    Difference& AddProperty(DifferenceKind kind, const std::string& property,
                            const PropertyValue& value) {
        Difference& d = Add(kind);
        d.property = property;
        d.type = TypeName(value);
        return d;
    }

    void CompareValues(const std::string& property, const PropertyValue& a,
                       const PropertyValue& b) {
        if (a.index() != b.index()) {
            Difference& d = AddProperty(DifferenceKind::Type, property, a);
            d.typeB = TypeName(b);
            d.a = ValueSummary(a);
            d.b = ValueSummary(b);
            d.detail = d.type + " -> " + d.typeB;
            return;
        }
        std::visit(
            [&]<class T>(const T& x) {
                Verdict verdict = values_.Compare<T>(x, std::get<T>(b));
                if (verdict.same)
                    return;
                Difference& d = AddProperty(DifferenceKind::Changed, property, a);
                d.a = ValueSummary(a);
                d.b = ValueSummary(b);
                d.detail = std::move(verdict.detail);
            },
            a);
    }

    void CompareProperties(const SerializedContentElement& a, const SerializedContentElement& b) {
        const auto& pa = a.GetProperties();
        const auto& pb = b.GetProperties();
        if (pa.empty() && pb.empty())
            return;
        std::vector<const void*> namesA, namesB;
        for (const auto& property : pa)
            namesA.push_back(property.name.Identity());
        for (const auto& property : pb)
            namesB.push_back(property.name.Identity());
        const Matching m = MatchNames(namesA, namesB);
        std::vector<std::string> segments;
        for (std::size_t i = 0; i < pa.size(); ++i) {
            segments.push_back(Segment(pa[i].name, m.occurrenceA[i]));
            if (m.matchOfA[i] == kNone) {
                AddProperty(DifferenceKind::Removed, segments.back(), pa[i].value).a =
                    ValueSummary(pa[i].value);
            } else {
                CompareValues(segments.back(), pa[i].value, pb[m.matchOfA[i]].value);
            }
        }
        for (std::size_t j = 0; j < pb.size(); ++j) {
            if (m.matchOfB[j] == kNone) {
                AddProperty(DifferenceKind::Added, Segment(pb[j].name, m.occurrenceB[j]),
                            pb[j].value)
                    .b = ValueSummary(pb[j].value);
            }
        }
        AddOrderChange(m, segments, "property order");
    }

    Matching CompareChildren(const SerializedContentElement& a, const SerializedContentElement& b) {
        std::vector<const void*> namesA, namesB;
        for (std::size_t i = 0; i < a.GetChildCount(); ++i)
            namesA.push_back(a.GetChild(i)->GetName().Identity());
        for (std::size_t j = 0; j < b.GetChildCount(); ++j)
            namesB.push_back(b.GetChild(j)->GetName().Identity());
        Matching m = MatchNames(namesA, namesB);
        if (m.matchOfA.empty() && m.matchOfB.empty())
            return m;
        std::vector<std::string> segments;
        for (std::size_t i = 0; i < namesA.size(); ++i)
            segments.push_back(Segment(a.GetChild(i)->GetName(), m.occurrenceA[i]));
        AddOrderChange(m, segments, "child order");
        // Only the top of an added or removed subtree is named.
        for (std::size_t i = 0; i < namesA.size(); ++i) {
            if (m.matchOfA[i] == kNone)
                Add(DifferenceKind::Removed).path += "/" + segments[i];
        }
        for (std::size_t j = 0; j < namesB.size(); ++j) {
            if (m.matchOfB[j] == kNone) {
                Add(DifferenceKind::Added).path +=
                    "/" + Segment(b.GetChild(j)->GetName(), m.occurrenceB[j]);
            }
        }
        return m;
    }

    void AddOrderChange(const Matching& m, const std::vector<std::string>& segmentsA,
                        const char* what) {
        std::string inA, inB;
        if (options_.ignoreOrder || !DescribeOrder(m, segmentsA, inA, inB))
            return;
        Difference& d = Add(DifferenceKind::Changed);
        d.detail = std::string(what) + ": " + inA + " -> " + inB;
        d.a = std::move(inA);
        d.b = std::move(inB);
    }

    const DiffOptions& options_;
    ValueComparer values_;
    std::vector<Difference>& out_;
    std::string path_;
};

const char* KindName(DifferenceKind kind) {
    switch (kind) {
        case DifferenceKind::Added:
            return "added";
        case DifferenceKind::Removed:
            return "removed";
        case DifferenceKind::Type:
            return "type";
        case DifferenceKind::Changed:
            break;
    }
    return "changed";
}

}  // namespace

std::vector<Difference> DiffContent(const SerializedContentElement& a,
                                    const SerializedContentElement& b, const DiffOptions& options) {
    std::vector<Difference> differences;
    TreeDiffer(options, differences).Run(a, b);
    return differences;
}

std::string FormatDifference(const Difference& d) {
    if (!d.property) {
        switch (d.kind) {
            case DifferenceKind::Added:
                return "+ " + d.path;
            case DifferenceKind::Removed:
                return "- " + d.path;
            default:
                return "! " + d.path + ": " + d.detail;
        }
    }
    const std::string where = d.path + "@" + *d.property + ": ";
    const std::string a = d.a.value_or(""), b = d.b.value_or("");
    switch (d.kind) {
        case DifferenceKind::Added:
            return "+ " + where + d.type + " " + b;
        case DifferenceKind::Removed:
            return "- " + where + d.type + " " + a;
        case DifferenceKind::Type:
            return "~ " + where + d.type + " " + a + " -> " + d.typeB + " " + b;
        case DifferenceKind::Changed:
            break;
    }
    if (!d.detail.empty())
        return "! " + where + d.type + " " + d.detail;
    return "~ " + where + d.type + " " + a + " -> " + b;
}

std::string DifferencesToJson(const std::vector<Difference>& differences) {
    auto optional = [](const std::optional<std::string>& text) {
        return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
    };
    // One difference a line, like the text form; names and strings are bytes, and what is not
    // UTF-8 shows as U+FFFD rather than failing.
    std::string out = "[";
    for (const Difference& d : differences) {
        nlohmann::ordered_json entry;
        entry["kind"] = KindName(d.kind);
        entry["path"] = d.path;
        entry["property"] = optional(d.property);
        entry["type"] = d.property ? nlohmann::ordered_json(d.type) : nullptr;
        entry["a"] = optional(d.a);
        entry["b"] = optional(d.b);
        entry["detail"] = d.detail;
        out += out.size() == 1 ? "\n  " : ",\n  ";
        out += entry.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    }
    return out + (differences.empty() ? "]\n" : "\n]\n");
}

}  // namespace kestrel::diff
