#include "TreePrinter.h"

#include <algorithm>
#include <vector>

#include "ValueFormat.h"
#include "kernel/SerializedContentElement.h"

namespace kestrelsc {

namespace {

constexpr std::size_t kMaxIndentDepth = 64;

void Indent(std::string& out, std::size_t depth, const TreeOptions& options) {
    out.append(std::min(depth, kMaxIndentDepth) * static_cast<std::size_t>(options.indent), ' ');
    if (depth > kMaxIndentDepth)
        out += "[depth " + std::to_string(depth) + "] ";
}

void AppendLines(std::string& out, const SerializedContentElement& element, std::size_t depth,
                 const TreeOptions& options) {
    Indent(out, depth, options);
    out += element.GetName().view();
    out += '\n';
    for (const SerializedContentElement::Property& property : element.GetProperties()) {
        Indent(out, depth + 1, options);
        out += '@';
        out += property.name.view();
        out += ": ";
        out += TypeName(property.value);
        out += " = ";
        out += ValueSummary(property.value, options.maxItems);
        out += '\n';
    }
}

}  // namespace

std::string FormatTree(const SerializedContentElement& element, const TreeOptions& options) {
    std::string out;
    // Pre-order with an explicit stack: (element, depth), children pushed last-first.
    std::vector<std::pair<const SerializedContentElement*, std::size_t>> pending{{&element, 0}};
    while (!pending.empty()) {
        auto [current, depth] = pending.back();
        pending.pop_back();
        AppendLines(out, *current, depth, options);
        for (std::size_t i = current->GetChildCount(); i-- > 0;) {
            pending.emplace_back(current->GetChild(i), depth + 1);
        }
    }
    return out;
}

}  // namespace kestrelsc
