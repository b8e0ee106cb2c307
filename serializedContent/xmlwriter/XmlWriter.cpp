#include "serializedContent/xmlwriter/XmlWriter.h"

#include <string>

#include "geometry/Mesh.h"
#include "geometry/PolyForm.h"
#include "geometry/VertexPool.h"
#include "geometry/XmlElem.h"
#include "kernel/ImageModules.h"
#include "kernel/Loader.h"
#include "serializedContent/xmlwriter/NameTable.h"
#include "serializedContent/xmlwriter/PropertyTypes.h"
#include "serializedContent/xmlwriter/ShapePayload.h"
#include "serializedContent/xmlwriter/ShapeWalkers.h"
#include "utilities/Base64.h"

namespace serializedContent {

namespace {

// Appends a new element named name to parent at once, before it gets attributes, so that
// properties stand in the order of the visitor's calls.
XmlElem* AppendElement(XmlElem* parent, const Symbol& name) {
    XmlElem* element = NewXmlElem(name, false);
    parent->AddChild(element);
    return element;
}

// One single-valued property: "type", "name", then the value in the element text, except for
// strings, whose text goes into a "value" attribute.
template <class T>
void WriteProperty(XmlElem* parent, const Symbol& name, const T& value) {
    using Traits = PropertyTraits<T>;
    using Kind = typename Traits::KindType;
    XmlElem* element = AppendElement(parent, writerNames.property);
    element->SetAttribute(writerNames.type, std::string(writerNames.*Traits::name));
    element->SetAttribute(writerNames.name, std::string(name));
    if constexpr (std::is_same_v<T, Symbol>) {
        element->SetAttribute(writerNames.value, Traits::ToKind(value));
    } else {
        (element->*Kind::set)(Traits::ToKind(value));
    }
}

// One array property: "type", "name", "count", then one bare item element per value, each
// appended once its value is set.
template <class T, class Setter>
void WritePropertyArray(XmlElem* parent, const Symbol& typeName, const Symbol& name,
                        const std::vector<T>& values, Setter setter) {
    XmlElem* array = AppendElement(parent, writerNames.propertyArray);
    array->SetAttribute(writerNames.arrayType, std::string(typeName));
    array->SetAttribute(writerNames.arrayName, std::string(name));
    array->SetAttribute(writerNames.arrayCount, static_cast<std::uint32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        XmlElem* item = NewXmlElem(writerNames.property, false);
        (item->*setter)(PropertyTraits<T>::ToKind(values[i]));
        array->AddChild(item);
    }
}

template <class T>
void WriteArray(XmlElem* parent, const Symbol& name, const std::vector<T>& values) {
    using Traits = PropertyTraits<T>;
    WritePropertyArray(parent, writerNames.*Traits::name, name, values, Traits::KindType::set);
}

}  // namespace

XmlWriter::XmlWriter(XmlElem* parent) : currentElement(parent) {}

XmlWriter::XmlWriter(const XmlWriter& other)
    : SerializedContentVisitor(other), currentElement(other.currentElement) {}

XmlWriter& XmlWriter::operator=(const XmlWriter& other) {
    SerializedContentVisitor::operator=(other);
    currentElement = other.currentElement;
    return *this;
}

XmlWriter::~XmlWriter() = default;

bool XmlWriter::StartElement(const Symbol& name, const SerializedContentElement* /*element*/) {
    std::string elementName = "kestrel_sc:";
    elementName.append(name.safe_c_str(), name.length());
    currentElement = AppendElement(currentElement, Symbol(elementName));
    return true;
}

bool XmlWriter::EndElement(const Symbol& /*name*/) {
    if (currentElement && currentElement->GetParent())
        currentElement = currentElement->GetParent();
    return true;
}

// Arrays of value types the format has no array type name for are left out.
void XmlWriter::Visit(const Symbol&, const std::vector<DHex>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<Quaternion<float>>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<FVec3>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<DVec3>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<DVec2>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<FPoint3D>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<DPoint3D>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<std::int64_t>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<std::int32_t>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<std::int16_t>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<std::int8_t>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<std::uint64_t>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<std::uint16_t>&) {}
void XmlWriter::Visit(const Symbol&, const std::vector<std::uint8_t>&) {}
void XmlWriter::Visit(const Symbol&, const DHex&) {}

void XmlWriter::Visit(const Symbol& name, const std::vector<Color>& values) {
    WriteArray(currentElement, name, values);
}
void XmlWriter::Visit(const Symbol& name, const std::vector<DPoint2D>& values) {
    WriteArray(currentElement, name, values);
}
void XmlWriter::Visit(const Symbol& name, const std::vector<Symbol>& values) {
    WriteArray(currentElement, name, values);
}
void XmlWriter::Visit(const Symbol& name, const std::vector<std::uint32_t>& values) {
    WriteArray(currentElement, name, values);
}
void XmlWriter::Visit(const Symbol& name, const std::vector<float>& values) {
    WriteArray(currentElement, name, values);
}
void XmlWriter::Visit(const Symbol& name, const std::vector<double>& values) {
    WriteArray(currentElement, name, values);
}
void XmlWriter::Visit(const Symbol& name, const std::vector<bool>& values) {
    WriteArray(currentElement, name, values);
}

void XmlWriter::Visit(const Symbol& name, const std::vector<SmartPtr<Shape>>& values) {
    XmlElem* array = AppendElement(currentElement, writerNames.propertyArray);
    array->SetAttribute(writerNames.arrayType, std::string(writerNames.shapeType));
    array->SetAttribute(writerNames.arrayName, std::string(name));
    array->SetAttribute(writerNames.arrayCount, static_cast<std::uint32_t>(values.size()));
    for (const SmartPtr<Shape>& shape : values) {
        XmlElem* item = NewXmlElem(writerNames.property, false);
        // Through the visitor table, so the shape lands after the array, not inside it.
        SerializedContentVisitor& self = *this;
        self.Visit(name, shape);
        array->AddChild(item);
    }
}

void XmlWriter::Visit(const Symbol& name, const SmartPtr<Shape>& value) {
    if (!value)
        return;
    ShapeVisitor visitor;
    value->Accept(visitor);
    if (!visitor.polyForm)
        return;
    const VertexPool* pool = visitor.polyForm->GetVertexPool();
    if (!pool)
        return;

    XmlElem* element = AppendElement(currentElement, writerNames.property);
    element->SetAttribute(writerNames.type, std::string(writerNames.shapeType));
    element->SetAttribute(writerNames.name, std::string(name));

    const Symbol count("count");
    XmlElem* vertices = AppendElement(element, Symbol("vertices"));
    const std::uint32_t vertexCount = pool->GetVertexCount();
    const std::size_t recordLength = pool->GetRecordLength();
    vertices->SetAttribute(count, vertexCount);
    // The position is the last three floats of each record, whatever else the record holds.
    std::vector<float> positions;
    positions.reserve(std::size_t{3} * vertexCount);
    const float* data = pool->Vertices();
    if (data && recordLength >= 3) {
        for (std::size_t i = 0; i < vertexCount; ++i) {
            const float* position = data + i * recordLength + (recordLength - 3);
            positions.insert(positions.end(), position, position + 3);
        }
    }
    positions.resize(std::size_t{3} * vertexCount);
    std::string vertexText = EncodeRecords(positions.data(), positions.size());
    vertices->SetAttribute(Symbol("vertices"), std::string("base64"));
    vertices->SetText(vertexText);

    XmlElem* triangles = AppendElement(element, Symbol("triangles"));
    // A PolyForm without a mesh is written with no triangles, so the shape still reads back.
    const Mesh* mesh = visitor.polyForm->GetMeshes().GetHead();
    const std::uint32_t triangleCount = mesh ? mesh->GetNumTriangles() : 0;
    std::vector<std::uint32_t> indices(std::size_t{3} * triangleCount, 0);
    if (mesh) {
        TriangleLoader loader(indices.data(), indices.size());
        mesh->Accept(loader);
    }
    std::string triangleText = EncodeRecords(indices.data(), indices.size());
    triangles->SetAttribute(count, triangleCount);
    triangles->SetAttribute(Symbol("triangles"), std::string("base64"));
    triangles->SetText(triangleText);
}
void XmlWriter::Visit(const Symbol& name, const SmartPtr<Image>& value) {
    XmlElem* element = AppendElement(currentElement, writerNames.property);
    element->SetAttribute(writerNames.type, std::string(writerNames.imageType));
    element->SetAttribute(writerNames.name, std::string(name));
    // Each stop below leaves the element with "type" and "name" only.
    SmartPtr<Loader> loader = Loader::GetLoader();
    if (!loader)
        return;
    SmartPtr<RefCounted> module;
    if (!loader->LoadModule(Symbol("saver"), Symbol("image"), Symbol("bmp"), module))
        return;
    auto* saver = dynamic_cast<ImageWriter*>(module.get());
    if (!saver)
        return;
    std::uint64_t byteCount = 0;
    const char* bytes = nullptr;
    if (!saver->Write(value, byteCount, bytes))
        return;
    std::string encoded = Base64::Encode(bytes, static_cast<std::size_t>(byteCount));
    element->SetAttribute(Symbol("format"), std::string("bmp"));
    element->SetText(encoded);
}

void XmlWriter::Visit(const Symbol& name, const Color& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const Quaternion<float>& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const FVec3& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const DVec3& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const DVec2& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const FPoint3D& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const DPoint3D& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const DPoint2D& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const Location& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, const Symbol& value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::int64_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::int32_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::int16_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::int8_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::uint64_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::uint32_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::uint16_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, std::uint8_t value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, float value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, double value) {
    WriteProperty(currentElement, name, value);
}
void XmlWriter::Visit(const Symbol& name, bool value) {
    WriteProperty(currentElement, name, value);
}

}  // namespace serializedContent
