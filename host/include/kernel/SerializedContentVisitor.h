// SerializedContentVisitor: the host's visitor over a content tree.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/Image.h"
#include "geometry/Shape.h"
#include "geometry/ValueTypes.h"
#include "kernel/Export.h"
#include "utilities/SmartPtr.h"
#include "utilities/Symbol.h"

class SerializedContentElement;

// Receives a content tree element by element: StartElement, one Visit per property in order,
// EndAttributes, the children, EndElement. Every operation of this base does nothing (the
// element operations answer true, the modify operations 0).
class KERNEL_API SerializedContentVisitor {
public:
    SerializedContentVisitor();
    SerializedContentVisitor(const SerializedContentVisitor&);
    SerializedContentVisitor& operator=(const SerializedContentVisitor&);
    virtual ~SerializedContentVisitor();

    // Called before an element's properties and children; false skips them and its EndElement.
    virtual bool StartElement(const Symbol& name, const SerializedContentElement* element);
    // Called after an element's properties, before its children.
    virtual bool EndAttributes(const Symbol& name);
    // Called after an element's children.
    virtual bool EndElement(const Symbol& name);
    // Called by modifying walks (not by WalkContent).
    virtual int StartModifyElement(const Symbol& name, SerializedContentElement* element);
    virtual int EndModifyElement(const Symbol& name);
    virtual int EndModifyAttributes(const Symbol& name);

    // One array property each.
    virtual void Visit(const Symbol& name, const std::vector<DHex>& values);
    virtual void Visit(const Symbol& name, const std::vector<SmartPtr<Shape>>& values);
    virtual void Visit(const Symbol& name, const std::vector<Color>& values);
    virtual void Visit(const Symbol& name, const std::vector<Quaternion<float>>& values);
    virtual void Visit(const Symbol& name, const std::vector<FVec3>& values);
    virtual void Visit(const Symbol& name, const std::vector<DVec3>& values);
    virtual void Visit(const Symbol& name, const std::vector<DVec2>& values);
    virtual void Visit(const Symbol& name, const std::vector<FPoint3D>& values);
    virtual void Visit(const Symbol& name, const std::vector<DPoint3D>& values);
    virtual void Visit(const Symbol& name, const std::vector<DPoint2D>& values);
    virtual void Visit(const Symbol& name, const std::vector<Location>& values);
    virtual void Visit(const Symbol& name, const std::vector<Symbol>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::int64_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::int32_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::int16_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::int8_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::uint64_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::uint32_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::uint16_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<std::uint8_t>& values);
    virtual void Visit(const Symbol& name, const std::vector<float>& values);
    virtual void Visit(const Symbol& name, const std::vector<double>& values);
    virtual void Visit(const Symbol& name, const std::vector<bool>& values);

    // One single-valued property each.
    virtual void Visit(const Symbol& name, const DHex& value);
    virtual void Visit(const Symbol& name, const SmartPtr<Shape>& value);
    virtual void Visit(const Symbol& name, const Color& value);
    virtual void Visit(const Symbol& name, const Quaternion<float>& value);
    virtual void Visit(const Symbol& name, const FVec3& value);
    virtual void Visit(const Symbol& name, const DVec3& value);
    virtual void Visit(const Symbol& name, const DVec2& value);
    virtual void Visit(const Symbol& name, const FPoint3D& value);
    virtual void Visit(const Symbol& name, const DPoint3D& value);
    virtual void Visit(const Symbol& name, const DPoint2D& value);
    virtual void Visit(const Symbol& name, const Location& value);
    virtual void Visit(const Symbol& name, const SmartPtr<Image>& value);
    virtual void Visit(const Symbol& name, const Symbol& value);
    virtual void Visit(const Symbol& name, std::int64_t value);
    virtual void Visit(const Symbol& name, std::int32_t value);
    virtual void Visit(const Symbol& name, std::int16_t value);
    virtual void Visit(const Symbol& name, std::int8_t value);
    virtual void Visit(const Symbol& name, std::uint64_t value);
    virtual void Visit(const Symbol& name, std::uint32_t value);
    virtual void Visit(const Symbol& name, std::uint16_t value);
    virtual void Visit(const Symbol& name, std::uint8_t value);
    virtual void Visit(const Symbol& name, float value);
    virtual void Visit(const Symbol& name, double value);
    virtual void Visit(const Symbol& name, bool value);
};

// Whether a walk reports the element it starts at.
enum class WalkTop {
    Include,       // StartElement and EndElement for the element itself too
    ContentsOnly,  // only its properties and its children's subtrees
};

// Drives visitor over element and everything below it, in order, without recursion.
KERNEL_API void WalkContent(const SerializedContentElement& element,
                            SerializedContentVisitor& visitor, WalkTop top = WalkTop::Include);
