// SerializedContentElement: a node of the host's content tree.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "kernel/Export.h"
#include "kernel/PropertyValue.h"
#include "utilities/RefCounted.h"
#include "utilities/SmartPtr.h"
#include "utilities/Symbol.h"

// A named content element holding typed properties, in the order added, and child elements, in
// the order started. A top element is held by SmartPtr; children belong to their parent and live
// as long as it does (a SmartPtr taken on a child never frees it). Destroying a tree of any depth
// does not recurse.
class KERNEL_API SerializedContentElement : public RefCounted {
public:
    // One property: a name (not necessarily unique) and its value.
    struct Property {
        Symbol name;
        PropertyValue value;
    };

    // A new top element named name, with no reference yet (hold it in a SmartPtr).
    static SerializedContentElement* CreateTopElement(const Symbol& name);

    // A new child named name, appended after the existing children and open until EndContent.
    SerializedContentElement* StartContent(const Symbol& name);
    // Closes this element (it was started by StartContent); closing twice changes nothing.
    void EndContent();

    // Appends a property named name (names need not be unique) holding value; one overload per
    // type a content file carries. Arrays are taken by value, so that a moved one is not copied.
    void AddProperty(const Symbol& name, bool value);
    void AddProperty(const Symbol& name, std::int8_t value);
    void AddProperty(const Symbol& name, std::uint8_t value);
    void AddProperty(const Symbol& name, std::int16_t value);
    void AddProperty(const Symbol& name, std::uint16_t value);
    void AddProperty(const Symbol& name, std::int32_t value);
    void AddProperty(const Symbol& name, std::uint32_t value);
    void AddProperty(const Symbol& name, std::int64_t value);
    void AddProperty(const Symbol& name, std::uint64_t value);
    void AddProperty(const Symbol& name, float value);
    void AddProperty(const Symbol& name, double value);
    void AddProperty(const Symbol& name, const Symbol& value);
    void AddProperty(const Symbol& name, const Color& value);
    void AddProperty(const Symbol& name, const DPoint2D& value);
    void AddProperty(const Symbol& name, const DPoint3D& value);
    void AddProperty(const Symbol& name, const FPoint3D& value);
    void AddProperty(const Symbol& name, const DVec2& value);
    void AddProperty(const Symbol& name, const DVec3& value);
    void AddProperty(const Symbol& name, const FVec3& value);
    void AddProperty(const Symbol& name, const Location& value);
    void AddProperty(const Symbol& name, const Quaternion<float>& value);
    void AddProperty(const Symbol& name, const SmartPtr<Shape>& value);
    void AddProperty(const Symbol& name, const SmartPtr<Image>& value);
    void AddProperty(const Symbol& name, std::vector<std::uint32_t> values);
    void AddProperty(const Symbol& name, std::vector<float> values);
    void AddProperty(const Symbol& name, std::vector<double> values);
    void AddProperty(const Symbol& name, std::vector<bool> values);
    void AddProperty(const Symbol& name, std::vector<Color> values);
    void AddProperty(const Symbol& name, std::vector<DPoint2D> values);
    void AddProperty(const Symbol& name, std::vector<Symbol> values);
    // A C string would otherwise become a bool; text values are Symbols.
    void AddProperty(const Symbol& name, const char* value) = delete;
    // Appends a property holding any value a property can hold, the types no file carries
    // included.
    void AddPropertyValue(const Symbol& name, PropertyValue value);

    // Replaces the value of the property at index, keeping its name and place; false (nothing
    // changed) for an index out of range.
    bool SetPropertyValue(std::size_t index, PropertyValue value);
    // Removes the property at index, the later ones moving up; false for an index out of range.
    bool RemoveProperty(std::size_t index);
    // Takes the child at index out of this element, the later ones moving up, and hands it back
    // with its subtree as a top element of its own (freed when the last SmartPtr to it goes);
    // null for an index out of range.
    SmartPtr<SerializedContentElement> RemoveChild(std::size_t index);

    // The element name.
    const Symbol& GetName() const noexcept { return name_; }
    // The parent; null for a top element.
    SerializedContentElement* GetParent() const noexcept { return parent_; }
    // True between StartContent and EndContent (always false for a top element).
    bool IsOpen() const noexcept { return open_; }
    // The properties in the order added.
    const std::vector<Property>& GetProperties() const noexcept { return properties_; }
    // The first property called name, or null.
    const Property* FindProperty(const Symbol& name) const noexcept;
    // Number of children.
    std::size_t GetChildCount() const noexcept { return children_.size(); }
    // Child at index; null when index is out of range.
    SerializedContentElement* GetChild(std::size_t index) const noexcept;
    // The first child called name, or null.
    SerializedContentElement* FindChild(const Symbol& name) const noexcept;

    // A child stays alive while its parent does, whatever its own count says.
    bool ZeroReferenceCountHook() override;

protected:
    ~SerializedContentElement() override;

private:
    explicit SerializedContentElement(const Symbol& name, SerializedContentElement* parent);

    Symbol name_;
    SerializedContentElement* parent_;
    bool open_ = false;
    std::vector<Property> properties_;
    std::vector<SerializedContentElement*> children_;
};
