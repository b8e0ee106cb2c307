#include "kernel/SerializedContentVisitor.h"

#include <variant>

#include "kernel/SerializedContentElement.h"

SerializedContentVisitor::SerializedContentVisitor() = default;
SerializedContentVisitor::SerializedContentVisitor(const SerializedContentVisitor&) = default;
SerializedContentVisitor& SerializedContentVisitor::operator=(const SerializedContentVisitor&) =
    default;
SerializedContentVisitor::~SerializedContentVisitor() = default;

bool SerializedContentVisitor::StartElement(const Symbol&, const SerializedContentElement*) {
    return true;
}
bool SerializedContentVisitor::EndAttributes(const Symbol&) {
    return true;
}
bool SerializedContentVisitor::EndElement(const Symbol&) {
    return true;
}
int SerializedContentVisitor::StartModifyElement(const Symbol&, SerializedContentElement*) {
    return 0;
}
int SerializedContentVisitor::EndModifyElement(const Symbol&) {
    return 0;
}
int SerializedContentVisitor::EndModifyAttributes(const Symbol&) {
    return 0;
}

void SerializedContentVisitor::Visit(const Symbol&, const std::vector<DHex>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<SmartPtr<Shape>>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<Color>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<Quaternion<float>>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<FVec3>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<DVec3>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<DVec2>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<FPoint3D>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<DPoint3D>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<DPoint2D>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<Location>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<Symbol>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::int64_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::int32_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::int16_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::int8_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::uint64_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::uint32_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::uint16_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<std::uint8_t>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<float>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<double>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const std::vector<bool>&) {}

void SerializedContentVisitor::Visit(const Symbol&, const DHex&) {}
void SerializedContentVisitor::Visit(const Symbol&, const SmartPtr<Shape>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const Color&) {}
void SerializedContentVisitor::Visit(const Symbol&, const Quaternion<float>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const FVec3&) {}
void SerializedContentVisitor::Visit(const Symbol&, const DVec3&) {}
void SerializedContentVisitor::Visit(const Symbol&, const DVec2&) {}
void SerializedContentVisitor::Visit(const Symbol&, const FPoint3D&) {}
void SerializedContentVisitor::Visit(const Symbol&, const DPoint3D&) {}
void SerializedContentVisitor::Visit(const Symbol&, const DPoint2D&) {}
void SerializedContentVisitor::Visit(const Symbol&, const Location&) {}
void SerializedContentVisitor::Visit(const Symbol&, const SmartPtr<Image>&) {}
void SerializedContentVisitor::Visit(const Symbol&, const Symbol&) {}
void SerializedContentVisitor::Visit(const Symbol&, std::int64_t) {}
void SerializedContentVisitor::Visit(const Symbol&, std::int32_t) {}
void SerializedContentVisitor::Visit(const Symbol&, std::int16_t) {}
void SerializedContentVisitor::Visit(const Symbol&, std::int8_t) {}
void SerializedContentVisitor::Visit(const Symbol&, std::uint64_t) {}
void SerializedContentVisitor::Visit(const Symbol&, std::uint32_t) {}
void SerializedContentVisitor::Visit(const Symbol&, std::uint16_t) {}
void SerializedContentVisitor::Visit(const Symbol&, std::uint8_t) {}
void SerializedContentVisitor::Visit(const Symbol&, float) {}
void SerializedContentVisitor::Visit(const Symbol&, double) {}
void SerializedContentVisitor::Visit(const Symbol&, bool) {}

namespace {

void VisitProperties(const SerializedContentElement& element, SerializedContentVisitor& visitor) {
    for (const SerializedContentElement::Property& property : element.GetProperties()) {
        std::visit([&](const auto& value) { visitor.Visit(property.name, value); }, property.value);
    }
}

}  // namespace

void WalkContent(const SerializedContentElement& element, SerializedContentVisitor& visitor,
                 WalkTop top) {
    // One frame per open element: the element and the index of its next child to walk.
    struct Frame {
        const SerializedContentElement* element;
        std::size_t nextChild;
        bool reported;  // whether StartElement was called and EndElement is owed
    };
    std::vector<Frame> stack;
    if (top == WalkTop::Include) {
        if (!visitor.StartElement(element.GetName(), &element))
            return;
        VisitProperties(element, visitor);
        visitor.EndAttributes(element.GetName());
        stack.push_back({&element, 0, true});
    } else {
        VisitProperties(element, visitor);
        stack.push_back({&element, 0, false});
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextChild == frame.element->GetChildCount()) {
            if (frame.reported)
                visitor.EndElement(frame.element->GetName());
            stack.pop_back();
            continue;
        }
        const SerializedContentElement* child = frame.element->GetChild(frame.nextChild++);
        if (!visitor.StartElement(child->GetName(), child))
            continue;
        VisitProperties(*child, visitor);
        visitor.EndAttributes(child->GetName());
        stack.push_back({child, 0, true});
    }
}
