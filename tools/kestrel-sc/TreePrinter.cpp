#include "TreePrinter.h"

#include <algorithm>
#include <set>
#include <vector>

#include "kestrel/paths/ContentPath.h"
#include "kestrel/values/ValueFormat.h"

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
        out += kestrel::values::PropertyLine(property, options.maxItems, !options.typesOnly);
        out += '\n';
    }
}

std::size_t CountBelow(const SerializedContentElement& element) {
    std::size_t count = 0;
    std::vector<const SerializedContentElement*> pending{&element};
    while (!pending.empty()) {
        const SerializedContentElement* current = pending.back();
        pending.pop_back();
        count += current->GetChildCount();
        for (std::size_t i = 0; i < current->GetChildCount(); ++i) {
            pending.push_back(current->GetChild(i));
        }
    }
    return count;
}

}  // namespace

bool FormatTree(SerializedContentElement& element, const TreeOptions& options, std::string& out,
                std::string& error) {
    // With masks, the masked elements open their whole subtree; their ancestors show only the
    // way to them.
    std::set<const SerializedContentElement*> opened, onTheWay;
    for (const std::string& mask : options.masks) {
        SerializedContentElement* found = kestrel::paths::FindElement(element, mask);
        if (!found) {
            error = "no element at '" + mask + "'";
            return false;
        }
        opened.insert(found);
        for (const SerializedContentElement* up = found; up; up = up->GetParent()) {
            onTheWay.insert(up);
        }
    }
    // Pre-order with an explicit stack: (element, depth, inside an opened subtree).
    struct Entry {
        const SerializedContentElement* element;
        std::size_t depth;
        bool open;
    };
    std::vector<Entry> pending{{&element, 0, options.masks.empty()}};
    while (!pending.empty()) {
        Entry entry = pending.back();
        pending.pop_back();
        const bool open = entry.open || opened.count(entry.element) != 0;
        if (!open && !onTheWay.count(entry.element))
            continue;
        AppendLines(out, *entry.element, entry.depth, options);
        if (options.maxDepth >= 0 && entry.depth >= static_cast<std::size_t>(options.maxDepth)) {
            if (const std::size_t hidden = CountBelow(*entry.element)) {
                Indent(out, entry.depth + 1, options);
                out += "... " + std::to_string(hidden) + " more element" +
                       (hidden == 1 ? "" : "s") + "\n";
            }
            continue;
        }
        for (std::size_t i = entry.element->GetChildCount(); i-- > 0;) {
            pending.push_back({entry.element->GetChild(i), entry.depth + 1, open});
        }
    }
    return true;
}

}  // namespace kestrelsc
