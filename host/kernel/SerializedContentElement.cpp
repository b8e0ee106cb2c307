#include "kernel/SerializedContentElement.h"

#include <utility>

namespace {

using Property = SerializedContentElement::Property;

// Room for one more property. Elements mostly hold several, so the first allocation takes four
// rather than one, two and then four.
void MakeRoom(std::vector<Property>& properties) {
    if (properties.size() == properties.capacity())
        properties.reserve(properties.empty() ? 4 : 2 * properties.size());
}

}  // namespace

SerializedContentElement::SerializedContentElement(const Symbol& name,
                                                   SerializedContentElement* parent)
    : name_(name), parent_(parent) {}

SerializedContentElement::~SerializedContentElement() {
    // Descendants are taken apart from a work list so that no depth can exhaust the stack.
    std::vector<SerializedContentElement*> pending = std::move(children_);
    while (!pending.empty()) {
        SerializedContentElement* element = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), element->children_.begin(), element->children_.end());
        element->children_.clear();
        delete element;
    }
}

SerializedContentElement* SerializedContentElement::CreateTopElement(const Symbol& name) {
    return new SerializedContentElement(name, nullptr);
}

SerializedContentElement* SerializedContentElement::StartContent(const Symbol& name) {
    auto* child = new SerializedContentElement(name, this);
    child->open_ = true;
    children_.push_back(child);
    return child;
}

void SerializedContentElement::EndContent() {
    open_ = false;
}

void SerializedContentElement::AddPropertyValue(const Symbol& name, PropertyValue value) {
    MakeRoom(properties_);
    properties_.push_back(Property{name, std::move(value)});
}

bool SerializedContentElement::SetPropertyValue(std::size_t index, PropertyValue value) {
    if (index >= properties_.size())
        return false;
    properties_[index].value = std::move(value);
    return true;
}

bool SerializedContentElement::RemoveProperty(std::size_t index) {
    if (index >= properties_.size())
        return false;
    properties_.erase(properties_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

SmartPtr<SerializedContentElement> SerializedContentElement::RemoveChild(std::size_t index) {
    if (index >= children_.size())
        return {};
    SerializedContentElement* child = children_[index];
    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
    // Without a parent its release deletes it, as for any top element.
    child->parent_ = nullptr;
    child->open_ = false;
    return SmartPtr<SerializedContentElement>(child);
}

// The overloads differ only in the value type; each makes its value in the property's place as
// that alternative.
#define KESTREL_ADD_PROPERTY(Parameter, Alternative)                                           \
    void SerializedContentElement::AddProperty(const Symbol& name, Parameter value) {          \
        MakeRoom(properties_);                                                                 \
        properties_.push_back(                                                                 \
            Property{name, PropertyValue(std::in_place_type<Alternative>, std::move(value))}); \
    }
KESTREL_ADD_PROPERTY(bool, bool)
KESTREL_ADD_PROPERTY(std::int8_t, std::int8_t)
KESTREL_ADD_PROPERTY(std::uint8_t, std::uint8_t)
KESTREL_ADD_PROPERTY(std::int16_t, std::int16_t)
KESTREL_ADD_PROPERTY(std::uint16_t, std::uint16_t)
KESTREL_ADD_PROPERTY(std::int32_t, std::int32_t)
KESTREL_ADD_PROPERTY(std::uint32_t, std::uint32_t)
KESTREL_ADD_PROPERTY(std::int64_t, std::int64_t)
KESTREL_ADD_PROPERTY(std::uint64_t, std::uint64_t)
KESTREL_ADD_PROPERTY(float, float)
KESTREL_ADD_PROPERTY(double, double)
KESTREL_ADD_PROPERTY(const Symbol&, Symbol)
KESTREL_ADD_PROPERTY(const Color&, Color)
KESTREL_ADD_PROPERTY(const DPoint2D&, DPoint2D)
KESTREL_ADD_PROPERTY(const DPoint3D&, DPoint3D)
KESTREL_ADD_PROPERTY(const FPoint3D&, FPoint3D)
KESTREL_ADD_PROPERTY(const DVec2&, DVec2)
KESTREL_ADD_PROPERTY(const DVec3&, DVec3)
KESTREL_ADD_PROPERTY(const FVec3&, FVec3)
KESTREL_ADD_PROPERTY(const Location&, Location)
KESTREL_ADD_PROPERTY(const Quaternion<float>&, Quaternion<float>)
KESTREL_ADD_PROPERTY(const SmartPtr<Shape>&, SmartPtr<Shape>)
KESTREL_ADD_PROPERTY(const SmartPtr<Image>&, SmartPtr<Image>)
KESTREL_ADD_PROPERTY(std::vector<std::uint32_t>, std::vector<std::uint32_t>)
KESTREL_ADD_PROPERTY(std::vector<float>, std::vector<float>)
KESTREL_ADD_PROPERTY(std::vector<double>, std::vector<double>)
KESTREL_ADD_PROPERTY(std::vector<bool>, std::vector<bool>)
KESTREL_ADD_PROPERTY(std::vector<Color>, std::vector<Color>)
KESTREL_ADD_PROPERTY(std::vector<DPoint2D>, std::vector<DPoint2D>)
KESTREL_ADD_PROPERTY(std::vector<Symbol>, std::vector<Symbol>)
#undef KESTREL_ADD_PROPERTY

const SerializedContentElement::Property* SerializedContentElement::FindProperty(
    const Symbol& name) const noexcept {
    for (const Property& property : properties_) {
        if (property.name == name)
            return &property;
    }
    return nullptr;
}

SerializedContentElement* SerializedContentElement::GetChild(std::size_t index) const noexcept {
    return index < children_.size() ? children_[index] : nullptr;
}

SerializedContentElement* SerializedContentElement::FindChild(const Symbol& name) const noexcept {
    for (SerializedContentElement* child : children_) {
        if (child->name_ == name)
            return child;
    }
    return nullptr;
}

bool SerializedContentElement::ZeroReferenceCountHook() {
    return parent_ == nullptr;
}
