#include "geometry/Mesh.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "utilities/LargeBuffer.h"

TriangleIndexVisitor::~TriangleIndexVisitor() = default;

Mesh::Mesh() noexcept = default;

Mesh::Mesh(VertexType type) noexcept : type_(type) {}

Mesh::~Mesh() {
    if (list_)
        list_->Remove(this);
}

bool Mesh::AddTriangles(const std::uint32_t* indices, std::uint32_t count) noexcept {
    constexpr std::size_t kMaxIndices = std::size_t{std::numeric_limits<std::uint32_t>::max()} * 3;
    // One triangle where there is room for it, as readers add them a million times over.
    if (count == 3 && indices && indices_.capacity() - indices_.size() >= 3 &&
        indices_.size() <= kMaxIndices - 3) {
        indices_.push_back(indices[0]);
        indices_.push_back(indices[1]);
        indices_.push_back(indices[2]);
        return true;
    }
    const std::size_t whole = count - count % 3;
    if (whole == 0)
        return true;
    if (!indices)
        return false;
    if (whole > kMaxIndices - indices_.size())
        return false;
    try {
        // Meshes are mostly filled one triangle at a time, up to millions: the storage doubles
        // as it fills, with huge pages once it is large, so that each triangle costs a copy of
        // its indices and little else.
        if (whole > indices_.capacity() - indices_.size())
            ReserveLargeBuffer(indices_,
                               std::max(indices_.size() + whole, 2 * indices_.capacity()));
        // insert gives the strong guarantee for integers: on failure nothing was added.
        indices_.insert(indices_.end(), indices, indices + whole);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool Mesh::Flush() noexcept {
    // Large buffers are mapped: the tail past the last triangle was never written and holds no
    // memory, while giving it back would copy every index once more.
    constexpr std::size_t kMappedBytes = std::size_t{1} << 20;
    if (indices_.capacity() * sizeof(std::uint32_t) < kMappedBytes) {
        // libstdc++ and libc++ both swallow allocation failure here and keep the old buffer.
        indices_.shrink_to_fit();
    }
    return true;
}

bool Mesh::Reserve(std::uint32_t triangles) noexcept {
    try {
        ReserveLargeBuffer(indices_, std::size_t{triangles} * 3);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void Mesh::Clear() noexcept {
    indices_.clear();
}

bool Mesh::Accept(TriangleIndexVisitor& visitor) const {
    const std::uint32_t* index = indices_.data();
    const std::size_t triangles = indices_.size() / 3;
    for (std::size_t t = 0; t < triangles; ++t, index += 3) {
        if (!visitor.Visit(index[0], index[1], index[2]))
            return false;
    }
    return true;
}

NodeListImpl::~NodeListImpl() {
    Clear();
}

bool NodeListImpl::Append(Mesh* mesh) noexcept {
    if (!mesh || mesh->list_)
        return false;
    mesh->list_ = this;
    mesh->previous_ = tail_;
    mesh->next_ = nullptr;
    if (tail_)
        tail_->next_ = mesh;
    else
        head_ = mesh;
    tail_ = mesh;
    ++count_;
    return true;
}

bool NodeListImpl::Remove(Mesh* mesh) noexcept {
    if (!mesh || mesh->list_ != this)
        return false;
    if (mesh->previous_)
        mesh->previous_->next_ = mesh->next_;
    else
        head_ = mesh->next_;
    if (mesh->next_)
        mesh->next_->previous_ = mesh->previous_;
    else
        tail_ = mesh->previous_;
    mesh->list_ = nullptr;
    mesh->previous_ = mesh->next_ = nullptr;
    --count_;
    return true;
}

void NodeListImpl::Clear() noexcept {
    Mesh* mesh = head_;
    head_ = tail_ = nullptr;
    count_ = 0;
    while (mesh) {
        Mesh* next = mesh->next_;
        mesh->list_ = nullptr;
        mesh->previous_ = mesh->next_ = nullptr;
        delete mesh;
        mesh = next;
    }
}
