#include "geometry/ShapeVisitor.h"

namespace orbg {

ShapeVisitor::~ShapeVisitor() = default;

State ShapeVisitor::Visit(const DatumPoint*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const DatumAxis*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const DatumPlane*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const DatumCSys*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const Markup*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const Edge*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const Face*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const Shell*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const Region*) {
    return State::Continue;
}
State ShapeVisitor::Visit(const Body*) {
    return State::Continue;
}
State ShapeVisitor::Leave(const Shell*) {
    return State::Continue;
}
State ShapeVisitor::Leave(const Region*) {
    return State::Continue;
}
State ShapeVisitor::Leave(const Body*) {
    return State::Continue;
}

}  // namespace orbg
