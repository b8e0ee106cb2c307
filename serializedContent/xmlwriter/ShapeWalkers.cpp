#include "serializedContent/xmlwriter/ShapeWalkers.h"

namespace serializedContent {

ShapeVisitor::ShapeVisitor() : polyForm(nullptr) {}

ShapeVisitor::~ShapeVisitor() = default;

orbg::ShapeVisitor::State ShapeVisitor::Visit(const Face* face) {
    if (const PolyForm* found = face->GetPolyForm())
        polyForm = found;
    return State(0);
}

TriangleLoader::TriangleLoader(std::uint32_t* buffer, std::size_t capacity)
    : indexBuffer(buffer), nextIndex(0), capacity_(capacity) {}

TriangleLoader::~TriangleLoader() = default;

bool TriangleLoader::Visit(std::uint32_t first, std::uint32_t second, std::uint32_t third) {
    if (capacity_ - nextIndex < 3)
        return false;
    indexBuffer[nextIndex] = first;
    indexBuffer[nextIndex + 1] = second;
    indexBuffer[nextIndex + 2] = third;
    nextIndex += 3;
    return true;
}

}  // namespace serializedContent
