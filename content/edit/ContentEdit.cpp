#include "kestrel/edit/ContentEdit.h"

#include <string>
#include <utility>
#include <vector>

#include "kestrel/values/ValueTraits.h"

namespace kestrel::edit {

namespace {

using Properties = std::vector<SerializedContentElement::Property>;

// The element hands out its properties read-only; the element itself is not const, so the
// vector may be changed through it.
Properties& PropertiesOf(SerializedContentElement& element) {
    return const_cast<Properties&>(element.GetProperties());
}

Error OutOfRange(const SerializedContentElement& element, std::size_t index) {
    Error error;
    error.code = Error::InvalidArgument;
    error.message = "property index " + std::to_string(index) + " is not below " +
                    std::to_string(element.GetProperties().size());
    return error;
}

}  // namespace

Error SetPropertyValue(SerializedContentElement& element, std::size_t index, PropertyValue value,
                       bool anyType) {
    Properties& properties = PropertiesOf(element);
    if (index >= properties.size())
        return OutOfRange(element, index);
    PropertyValue& current = properties[index].value;
    if (!anyType && current.index() != value.index()) {
        Error error;
        error.code = Error::InvalidArgument;
        error.message = "property '" + std::string(properties[index].name.view()) + "' holds " +
                        std::string(values::FactsOf(current).typeName) + ", not " +
                        std::string(values::FactsOf(value).typeName);
        return error;
    }
    current = std::move(value);
    return {};
}

Error RemoveProperty(SerializedContentElement& element, std::size_t index) {
    Properties& properties = PropertiesOf(element);
    if (index >= properties.size())
        return OutOfRange(element, index);
    properties.erase(properties.begin() + static_cast<std::ptrdiff_t>(index));
    return {};
}

}  // namespace kestrel::edit
