#include "kernel/SerializedContentElement.h"

#include <utility>

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
    properties_.push_back(Property{name, std::move(value)});
}

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
