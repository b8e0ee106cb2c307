#include "serializedContent/xmlwriter/XmlParser.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/MemoryPool.h"
#include "geometry/Mesh.h"
#include "geometry/PolyForm.h"
#include "geometry/Shape.h"
#include "geometry/VertexPool.h"
#include "geometry/XmlElem.h"
#include "kernel/ImageModules.h"
#include "kernel/Loader.h"
#include "kernel/SerializedContentElement.h"
#include "serializedContent/xmlwriter/NameTable.h"
#include "serializedContent/xmlwriter/PropertyTypes.h"
#include "serializedContent/xmlwriter/ShapePayload.h"
#include "utilities/Base64.h"
#include "utilities/OrbTracer.h"

namespace serializedContent {

namespace {

// The content name of an XML element: its name after the first ':', or all of it.
Symbol ContentName(const XmlElem* element) {
    const Symbol& name = element->GetName();
    const char* text = name.safe_c_str();
    const std::size_t length = name.length();
    const void* colon = std::memchr(text, ':', length);
    if (!colon)
        return name;
    const char* after = static_cast<const char*>(colon) + 1;
    return Symbol(std::string(after, text + length));
}

// Reads the value of a property or array item through its kind's getter: from the "value"
// attribute at valueIndex when there is one, from the element text otherwise.
template <class T>
T ReadValue(const XmlElem* element, std::size_t valueIndex) {
    using Traits = PropertyTraits<T>;
    using Kind = typename Traits::KindType;
    if (valueIndex == XmlElem::npos)
        return Traits::FromKind((element->*Kind::text)());
    return Traits::FromKind((element->*Kind::attribute)(valueIndex));
}

// Appends the values of the array's item children to values; other children are passed over.
// The "count" attribute is not trusted: the items present decide.
template <class T, class TextGetter, class AttributeGetter>
void ParseArrayItems(const XmlElem* array, std::vector<T>& values, TextGetter textGetter,
                     AttributeGetter attributeGetter) {
    const std::size_t count = array->GetChildCount();
    if (count == 0)
        return;
    // Nearly every child is an item: one allocation instead of one per doubling.
    values.reserve(values.size() + count);
    for (std::size_t k = 0; k < count; ++k) {
        const XmlElem* item = array->GetChild(k);
        if (!(item->GetName() == readerNames.property))
            continue;
        std::size_t valueIndex = item->FindAttribute(readerNames.value);
        if (valueIndex == XmlElem::npos) {
            values.push_back(PropertyTraits<T>::FromKind((item->*textGetter)()));
        } else {
            values.push_back(PropertyTraits<T>::FromKind((item->*attributeGetter)(valueIndex)));
        }
    }
}

// The image branch: the element text is the Base64 of what the host's "bmp" loader module reads.
// Every stop adds nothing; the "format" attribute is not read.
void ReadImage(const XmlElem* element, SerializedContentElement* owner, const Symbol& name) {
    const std::string& text = element->GetText();
    std::vector<char> bytes;
    if (!text.empty())
        bytes = Base64::Decode(text.data(), text.size());
    SmartPtr<Loader> loader = Loader::GetLoader();
    if (!loader)
        return;
    SmartPtr<RefCounted> module;
    if (!loader->LoadModule(Symbol("loader"), Symbol("image"), Symbol("bmp"), module))
        return;
    auto* parser = dynamic_cast<ImageParser*>(module.get());
    if (!parser)
        return;
    SmartPtr<Image> image;
    if (!parser->Parse(image, bytes.size(), bytes.data()))
        return;
    owner->AddProperty(name, image);
}

// The records of one payload element ("vertices" or "triangles"): at most its "count" (0 when
// absent) and never more than its decoded text holds.
PayloadRecords ReadPayload(const XmlElem* payload) {
    std::uint32_t count = 0;
    const std::size_t countIndex = payload->FindAttribute(Symbol("count"));
    if (countIndex != XmlElem::npos) {
        count = static_cast<std::uint32_t>(payload->GetAttributeAsInt(countIndex));
    }
    const std::string& text = payload->GetText();
    if (text.empty())
        return {};
    return {Base64::Decode(text.data(), text.size()), count};
}

// The shape branch: rebuilds a one-body shape from the two payloads. Every malformed element
// stops without adding anything, and whatever was made before the stop is released.
void ReadShape(const XmlElem* element, SerializedContentElement* owner, const Symbol& name) {
    if (element->GetChildCount() != 2)
        return;
    const XmlElem* vertices = element->GetChild(0);
    if (!vertices || !(vertices->GetName() == Symbol("vertices")))
        return;
    PayloadRecords positions = ReadPayload(vertices);
    const XmlElem* triangles = element->GetChild(1);
    if (!triangles || !(triangles->GetName() == Symbol("triangles")))
        return;
    const PayloadRecords indices = ReadPayload(triangles);
    const auto vertexCount = static_cast<std::uint32_t>(positions.count);
    const std::size_t triangleCount = indices.count;

    std::unique_ptr<PolyForm> polyForm(new (std::nothrow) PolyForm);
    if (!polyForm)
        return;
    std::unique_ptr<VertexPool> pool(VertexPool::Construct(VertexType(1), vertexCount));
    if (!pool)
        return;
    float* data = pool->Vertices();
    const std::size_t recordLength = pool->GetRecordLength();
    if (!data || recordLength < 3)
        return;
    for (std::size_t i = 0; i < vertexCount; ++i) {
        float position[3];
        positions.Get(i, position);
        std::memcpy(data + i * recordLength + (recordLength - 3), position, sizeof position);
    }
    positions = {};
    if (!polyForm->SetVertexPool(pool.get()))
        return;
    pool.release();
    std::unique_ptr<Mesh> mesh(new (std::nothrow) Mesh);
    if (!mesh)
        return;
    mesh->SetVertexType(VertexType(1));
    if (!polyForm->AddMesh(mesh.get()))
        return;
    Mesh* added = mesh.release();
    for (std::size_t t = 0; t < triangleCount; ++t) {
        std::uint32_t triangle[3];
        indices.Get(t, triangle);
        added->AddTriangles(triangle, 3);
    }
    added->Flush();
    polyForm->GenerateVertexNormals();

    SmartPtr<Face> face(new (std::nothrow) Face);
    if (!face || !face->SetPolyForm(polyForm.get()))
        return;
    polyForm.release();
    Shell* shell = new (MemoryPool::Allocate(sizeof(Shell), nullptr)) Shell;
    if (!shell)
        return;
    if (!shell->AddFace(face.get())) {
        delete shell;
        return;
    }
    Region* region = new (MemoryPool::Allocate(sizeof(Region), nullptr)) Region;
    if (!region || !region->AddShell(shell)) {
        delete shell;
        delete region;
        return;
    }
    std::unique_ptr<Body> body(new (std::nothrow) Body);
    if (!body || !body->AddRegion(region)) {
        delete region;
        return;
    }
    SmartPtr<Shape> shape(new (std::nothrow) Shape);
    if (!shape || !shape->AddBody(body.get()))
        return;
    body.release();
    owner->AddProperty(name, shape);
}

}  // namespace

XmlParser::XmlParser() = default;
XmlParser& XmlParser::operator=(const XmlParser&) = default;
XmlParser::~XmlParser() = default;

bool XmlParser::Parse(const XmlElem* root, SerializedContentElement* top) {
    if (!root || !top)
        return true;
    const int count = static_cast<int>(root->GetChildCount());
    for (int i = 0; i < count; ++i) {
        ParseItem(root->GetChild(static_cast<std::size_t>(i)), top);
    }
    return true;
}

bool XmlParser::ParseItem(const XmlElem* element, SerializedContentElement* parent) {
    // Nesting is followed with an explicit stack rather than recursion, so that documents nested
    // a million levels deep cannot exhaust the thread's stack. Each frame is one open content
    // element; it is ended once all of its XML children have been dispatched, so the host sees
    // StartContent and EndContent properly nested and in document order.
    struct Frame {
        const XmlElem* xml;
        SerializedContentElement* content;
        std::uint64_t nextChild;
        std::uint64_t childCount;
    };
    std::vector<Frame> stack;
    auto open = [&stack](const XmlElem* xml, SerializedContentElement* into) {
        std::uint64_t childCount = xml->GetChildCount();
        stack.push_back({xml, into->StartContent(ContentName(xml)), 0, childCount});
    };
    open(element, parent);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextChild == frame.childCount) {
            frame.content->EndContent();
            stack.pop_back();
            continue;
        }
        const XmlElem* child = frame.xml->GetChild(frame.nextChild++);
        SerializedContentElement* content = frame.content;
        const Symbol& name = child->GetName();
        if (name == readerNames.property) {
            ParseProperty(child, content);
        } else if (name == readerNames.propertyArray) {
            ParsePropertyArray(child, content);
        } else {
            open(child, content);
        }
    }
    return true;
}

bool XmlParser::ParseProperty(const XmlElem* element, SerializedContentElement* owner) {
    const std::size_t typeIndex = element->FindAttribute(readerNames.type);
    if (typeIndex == XmlElem::npos)
        return false;
    const std::string& typeText = element->GetAttributeText(typeIndex);
    const std::size_t nameIndex = element->FindAttribute(readerNames.name);
    if (nameIndex == XmlElem::npos)
        return false;
    const Symbol name(element->GetAttributeText(nameIndex));
    const std::size_t valueIndex = element->FindAttribute(readerNames.value);

    // Type names are compared as the table's text, the same bytes as its Symbols, without a call
    // into the host per comparison.
    const bool stored = AnyOf(SingleValueTypes{}, [&]<class T>() {
        if (typeText != std::string_view(PropertyTraits<T>::typeName))
            return false;
        owner->AddProperty(name, ReadValue<T>(element, valueIndex));
        return true;
    });
    if (stored)
        return true;
    if (typeText == std::string_view(PropertyTraits<SmartPtr<Image>>::typeName)) {
        ReadImage(element, owner, name);
        return true;
    }
    if (typeText == std::string_view(PropertyTraits<SmartPtr<Shape>>::typeName)) {
        ReadShape(element, owner, name);
        return true;
    }
    OrbTracer("serializedContent", "XmlParser")(
        TRACE_WARNING, "unhandled property type %s <----------------------------------- %d of %s\n",
        typeText.c_str(), __LINE__, "serializedContent/xmlwriter/XmlParser");
    return true;
}

bool XmlParser::ParsePropertyArray(const XmlElem* element, SerializedContentElement* owner) {
    const std::size_t typeIndex = element->FindAttribute(readerNames.arrayType);
    if (typeIndex == XmlElem::npos)
        return false;
    const std::string& typeText = element->GetAttributeText(typeIndex);
    const std::size_t nameIndex = element->FindAttribute(readerNames.arrayName);
    if (nameIndex == XmlElem::npos)
        return false;
    const std::string& nameText = element->GetAttributeText(nameIndex);

    // Any other type text, "shape" included, stores nothing and is not reported.
    AnyOf(ArrayValueTypes{}, [&]<class T>() {
        if (typeText != std::string_view(PropertyTraits<T>::typeName))
            return false;
        using Kind = typename PropertyTraits<T>::KindType;
        std::vector<T> values;
        ParseArrayItems(element, values, Kind::text, Kind::attribute);
        owner->AddProperty(Symbol(nameText), std::move(values));
        return true;
    });
    return true;
}

}  // namespace serializedContent
