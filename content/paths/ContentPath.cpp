#include "kestrel/paths/ContentPath.h"

#include <string_view>
#include <vector>

#include "kernel/SerializedContentElement.h"

namespace kestrel::paths {

namespace {

std::vector<std::string> Segments(const SerializedContentElement& top, const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = path.empty() || path[0] != '/' ? 0 : 1;
    while (start <= path.size() && start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (!segments.empty() && top.GetName() == segments.front() && !top.FindChild(segments[0])) {
        segments.erase(segments.begin());
    }
    return segments;
}

}  // namespace

SerializedContentElement* FindElement(SerializedContentElement& top, const std::string& path) {
    SerializedContentElement* current = &top;
    for (const std::string& segment : Segments(top, path)) {
        current = current->FindChild(Symbol(segment));
        if (!current)
            return nullptr;
    }
    return current;
}

SerializedContentElement* MakeElement(SerializedContentElement& top, const std::string& path) {
    SerializedContentElement* current = &top;
    for (const std::string& segment : Segments(top, path)) {
        SerializedContentElement* child = current->FindChild(Symbol(segment));
        if (!child) {
            child = current->StartContent(Symbol(segment));
            child->EndContent();
        }
        current = child;
    }
    return current;
}

std::string PathOf(const SerializedContentElement& element) {
    // Gathered leaf first and joined once, so that deep trees cost no more than their depth.
    std::vector<std::string_view> names;
    for (const SerializedContentElement* at = &element; at; at = at->GetParent())
        names.push_back(at->GetName().view());
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (name != names.rbegin())
            path += '/';
        path += *name;
    }
    return path;
}

PathTarget Resolve(SerializedContentElement& top, const std::string& path) {
    PathTarget target;
    const std::size_t at = path.rfind('@');
    const std::string elementPath = path.substr(0, at);
    SerializedContentElement* element = FindElement(top, elementPath);
    if (!element) {
        target.error.code = Error::NotFound;
        target.error.message = "no element at '" + elementPath + "'";
        return target;
    }
    target.element = element;
    if (at != std::string::npos) {
        const std::string name = path.substr(at + 1);
        const auto& properties = element->GetProperties();
        for (std::size_t i = 0; i < properties.size(); ++i) {
            if (properties[i].name.view() == name) {
                target.property = &properties[i];
                target.propertyIndex = i;
                break;
            }
        }
        if (!target.property) {
            target.error.code = Error::NotFound;
            target.error.message = "'" + PathOf(*element) + "' has no property '" + name + "'";
            return target;
        }
    }
    return target;
}

}  // namespace kestrel::paths
