// XmlWriter: writes a content tree as XML elements below an element of the caller's.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/SerializedContentVisitor.h"
#include "serializedContent/Export.h"

class XmlElem;

namespace serializedContent {

// A visitor that appends one "kestrel_sc:" element per content element and one property element
// per property below the element it was constructed on. It never frees, serializes or returns
// the tree, which stays the caller's. Value types the format has no name for (DHex, and arrays
// of most types) are left out.
class SERIALIZEDCONTENT_API XmlWriter : public SerializedContentVisitor {
public:
    using SerializedContentVisitor::Visit;

    // A writer appending below parent, which must exist.
    explicit XmlWriter(XmlElem* parent);
    // A writer appending where other does.
    XmlWriter(const XmlWriter& other);
    XmlWriter& operator=(const XmlWriter& other);
    // Leaves the XML tree alone.
    ~XmlWriter() override;

    // Appends an element "kestrel_sc:" + name and makes it current; always true.
    bool StartElement(const Symbol& name, const SerializedContentElement* element) override;
    // Makes the current element's parent current, if there is one; always true.
    bool EndElement(const Symbol& name) override;

    void Visit(const Symbol& name, const std::vector<DHex>& values) final;
    // Appends a "shape" array element with empty items, then each shape as a sibling property.
    void Visit(const Symbol& name, const std::vector<SmartPtr<Shape>>& values) override;
    void Visit(const Symbol& name, const std::vector<Color>& values) override;
    void Visit(const Symbol& name, const std::vector<Quaternion<float>>& values) final;
    void Visit(const Symbol& name, const std::vector<FVec3>& values) final;
    void Visit(const Symbol& name, const std::vector<DVec3>& values) final;
    void Visit(const Symbol& name, const std::vector<DVec2>& values) final;
    void Visit(const Symbol& name, const std::vector<FPoint3D>& values) final;
    void Visit(const Symbol& name, const std::vector<DPoint3D>& values) final;
    void Visit(const Symbol& name, const std::vector<DPoint2D>& values) override;
    void Visit(const Symbol& name, const std::vector<Symbol>& values) override;
    void Visit(const Symbol& name, const std::vector<std::int64_t>& values) final;
    void Visit(const Symbol& name, const std::vector<std::int32_t>& values) final;
    void Visit(const Symbol& name, const std::vector<std::int16_t>& values) final;
    void Visit(const Symbol& name, const std::vector<std::int8_t>& values) final;
    void Visit(const Symbol& name, const std::vector<std::uint64_t>& values) final;
    void Visit(const Symbol& name, const std::vector<std::uint32_t>& values) override;
    void Visit(const Symbol& name, const std::vector<std::uint16_t>& values) final;
    void Visit(const Symbol& name, const std::vector<std::uint8_t>& values) final;
    void Visit(const Symbol& name, const std::vector<float>& values) override;
    void Visit(const Symbol& name, const std::vector<double>& values) override;
    void Visit(const Symbol& name, const std::vector<bool>& values) override;

    void Visit(const Symbol& name, const DHex& value) final;
    // Appends a "shape" property with its vertex and triangle payloads; a null shape, or one
    // without a PolyForm holding a vertex pool, writes nothing.
    void Visit(const Symbol& name, const SmartPtr<Shape>& value) override;
    void Visit(const Symbol& name, const Color& value) override;
    void Visit(const Symbol& name, const Quaternion<float>& value) override;
    void Visit(const Symbol& name, const FVec3& value) override;
    void Visit(const Symbol& name, const DVec3& value) override;
    void Visit(const Symbol& name, const DVec2& value) override;
    void Visit(const Symbol& name, const FPoint3D& value) override;
    void Visit(const Symbol& name, const DPoint3D& value) override;
    void Visit(const Symbol& name, const DPoint2D& value) override;
    void Visit(const Symbol& name, const Location& value) override;
    // Appends an "image" property carrying the image saved by the host's "bmp" saver module.
    void Visit(const Symbol& name, const SmartPtr<Image>& value) override;
    void Visit(const Symbol& name, const Symbol& value) override;
    void Visit(const Symbol& name, std::int64_t value) override;
    void Visit(const Symbol& name, std::int32_t value) override;
    void Visit(const Symbol& name, std::int16_t value) override;
    void Visit(const Symbol& name, std::int8_t value) override;
    void Visit(const Symbol& name, std::uint64_t value) override;
    void Visit(const Symbol& name, std::uint32_t value) override;
    void Visit(const Symbol& name, std::uint16_t value) override;
    void Visit(const Symbol& name, std::uint8_t value) override;
    void Visit(const Symbol& name, float value) override;
    void Visit(const Symbol& name, double value) override;
    void Visit(const Symbol& name, bool value) override;

private:
    XmlElem* currentElement;
};

}  // namespace serializedContent
