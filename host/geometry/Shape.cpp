#include "geometry/Shape.h"

#include <algorithm>
#include <new>

namespace {

// Appends child to list unless memory runs out.
template <class T>
bool Append(std::vector<T>& list, T child) noexcept {
    try {
        list.push_back(std::move(child));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

template <class T>
bool Erase(std::vector<T*>& list, const T* child) noexcept {
    auto found = std::find(list.begin(), list.end(), child);
    if (found == list.end())
        return false;
    list.erase(found);
    return true;
}

template <class T>
T* At(const std::vector<T*>& list, std::size_t index) noexcept {
    return index < list.size() ? list[index] : nullptr;
}

// Continue and SkipChildren let a walk go on; every other value ends it.
bool Ends(orbg::State state) noexcept {
    return state != orbg::State::Continue && state != orbg::State::SkipChildren;
}

}  // namespace

Face::Face() noexcept = default;

Face::~Face() {
    if (polyForm_) {
        polyForm_->owner_ = nullptr;
        delete polyForm_;
    }
}

bool Face::SetPolyForm(PolyForm* polyForm) noexcept {
    if (polyForm == polyForm_)
        return true;
    if (polyForm && polyForm->owner_)
        return false;
    if (polyForm_) {
        polyForm_->owner_ = nullptr;
        delete polyForm_;
    }
    polyForm_ = polyForm;
    if (polyForm_)
        polyForm_->owner_ = this;
    return true;
}

Shell::Shell() noexcept = default;

Shell::~Shell() {
    if (parent_)
        parent_->RemoveShell(this);
}

void* Shell::operator new(std::size_t size) {
    if (void* memory = MemoryPool::Allocate(size, nullptr))
        return memory;
    throw std::bad_alloc();
}

void Shell::operator delete(void* memory, std::size_t size) noexcept {
    MemoryPool::Free(memory, size);
}

bool Shell::AddFace(Face* face) noexcept {
    return face && Append(faces_, SmartPtr<Face>(face));
}

bool Shell::RemoveFace(const Face* face) noexcept {
    auto found = std::find_if(faces_.begin(), faces_.end(),
                              [face](const SmartPtr<Face>& held) { return held.get() == face; });
    if (!face || found == faces_.end())
        return false;
    faces_.erase(found);
    return true;
}

Face* Shell::GetFace(std::size_t index) const noexcept {
    return index < faces_.size() ? faces_[index].get() : nullptr;
}

Region::Region() noexcept = default;

Region::~Region() {
    for (Shell* shell : shells_) {
        shell->parent_ = nullptr;
        delete shell;
    }
    if (parent_)
        parent_->RemoveRegion(this);
}

void* Region::operator new(std::size_t size) {
    if (void* memory = MemoryPool::Allocate(size, nullptr))
        return memory;
    throw std::bad_alloc();
}

void Region::operator delete(void* memory, std::size_t size) noexcept {
    MemoryPool::Free(memory, size);
}

bool Region::AddShell(Shell* shell) noexcept {
    if (!shell || shell->parent_ || !Append(shells_, shell))
        return false;
    shell->parent_ = this;
    return true;
}

bool Region::RemoveShell(Shell* shell) noexcept {
    if (!shell || shell->parent_ != this || !Erase(shells_, shell))
        return false;
    shell->parent_ = nullptr;
    return true;
}

Shell* Region::GetShell(std::size_t index) const noexcept {
    return At(shells_, index);
}

Body::Body() noexcept = default;

Body::~Body() {
    for (Region* region : regions_) {
        region->parent_ = nullptr;
        delete region;
    }
    if (parent_)
        parent_->RemoveBody(this);
}

bool Body::AddRegion(Region* region) noexcept {
    if (!region || region->parent_ || !Append(regions_, region))
        return false;
    region->parent_ = this;
    return true;
}

bool Body::RemoveRegion(Region* region) noexcept {
    if (!region || region->parent_ != this || !Erase(regions_, region))
        return false;
    region->parent_ = nullptr;
    return true;
}

Region* Body::GetRegion(std::size_t index) const noexcept {
    return At(regions_, index);
}

Shape::Shape() noexcept = default;

Shape::~Shape() {
    for (Body* body : bodies_) {
        body->parent_ = nullptr;
        delete body;
    }
}

bool Shape::AddBody(Body* body) noexcept {
    if (!body || body->parent_ || !Append(bodies_, body))
        return false;
    body->parent_ = this;
    return true;
}

bool Shape::RemoveBody(Body* body) noexcept {
    if (!body || body->parent_ != this || !Erase(bodies_, body))
        return false;
    body->parent_ = nullptr;
    return true;
}

Body* Shape::GetBody(std::size_t index) const noexcept {
    return At(bodies_, index);
}

orbg::State Shape::Accept(orbg::ShapeVisitor& visitor) const {
    using orbg::State;
    // Indexes rather than iterators, and sizes read afresh, so that a visitor that appends
    // (against the rules) cannot make the walk read freed memory.
    for (std::size_t b = 0; b < bodies_.size(); ++b) {
        const Body* body = bodies_[b];
        State state = visitor.Visit(body);
        if (Ends(state))
            return state;
        for (std::size_t r = 0; state == State::Continue && r < body->GetRegionCount(); ++r) {
            const Region* region = body->GetRegion(r);
            State regionState = visitor.Visit(region);
            if (Ends(regionState))
                return regionState;
            for (std::size_t s = 0; regionState == State::Continue && s < region->GetShellCount();
                 ++s) {
                const Shell* shell = region->GetShell(s);
                State shellState = visitor.Visit(shell);
                if (Ends(shellState))
                    return shellState;
                for (std::size_t f = 0; shellState == State::Continue && f < shell->GetFaceCount();
                     ++f) {
                    State faceState = visitor.Visit(static_cast<const Face*>(shell->GetFace(f)));
                    if (Ends(faceState))
                        return faceState;
                }
                if (State left = visitor.Leave(shell); Ends(left))
                    return left;
            }
            if (State left = visitor.Leave(region); Ends(left))
                return left;
        }
        if (State left = visitor.Leave(body); Ends(left))
            return left;
    }
    return State::Continue;
}
