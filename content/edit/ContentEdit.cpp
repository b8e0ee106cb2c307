#include "kestrel/edit/ContentEdit.h"

#include <string>
#include <utility>
#include <vector>

#include "kestrel/values/ValueTraits.h"

namespace kestrel::edit {

namespace {

Error OutOfRange(const char* what, std::size_t index, std::size_t count) {
    Error error;
    error.code = Error::InvalidArgument;
    error.message = std::string(what) + " index " + std::to_string(index) + " is not below " +
                    std::to_string(count);
    return error;
}

}  // namespace

Error SetPropertyValue(SerializedContentElement& element, std::size_t index, PropertyValue value,
                       bool anyType) {
    const auto& properties = element.GetProperties();
    if (index >= properties.size())
        return OutOfRange("property", index, properties.size());
    const PropertyValue& current = properties[index].value;
    if (!anyType && current.index() != value.index()) {
        Error error;
        error.code = Error::InvalidArgument;
        error.message = "property '" + std::string(properties[index].name.view()) + "' holds " +
                        std::string(values::FactsOf(current).typeName) + ", not " +
                        std::string(values::FactsOf(value).typeName);
        return error;
    }
    element.SetPropertyValue(index, std::move(value));
    return {};
}

Error RemoveProperty(SerializedContentElement& element, std::size_t index) {
    if (!element.RemoveProperty(index))
        return OutOfRange("property", index, element.GetProperties().size());
    return {};
}

RemovedChild RemoveChild(SerializedContentElement& parent, std::size_t index) {
    RemovedChild removed;
    removed.element = parent.RemoveChild(index);
    if (!removed.element)
        removed.error = OutOfRange("child", index, parent.GetChildCount());
    return removed;
}

}  // namespace kestrel::edit
