#include "geometry/PolyForm.h"

#include "geometry/Shape.h"
#include "utilities/LargeBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

PolyForm::PolyForm() noexcept = default;

PolyForm::~PolyForm() {
    if (owner_)
        owner_->polyForm_ = nullptr;
    if (pool_) {
        pool_->owner_ = nullptr;
        delete pool_;
    }
}

bool PolyForm::SetVertexPool(VertexPool* pool) noexcept {
    if (pool == pool_)
        return true;
    if (pool && pool->owner_)
        return false;
    if (pool_) {
        pool_->owner_ = nullptr;
        delete pool_;
    }
    pool_ = pool;
    if (pool_)
        pool_->owner_ = this;
    return true;
}

bool PolyForm::AddMesh(Mesh* mesh) noexcept {
    if (!meshes_.Append(mesh))
        return false;
    // Meshes are filled one triangle at a time. A closed surface has about twice as many
    // triangles as vertices, so an empty mesh gets room for that many at once; what it does not
    // use is never written and, once large, holds no memory (see Mesh::Flush).
    if (pool_ && mesh->GetNumTriangles() == 0)
        mesh->Reserve(static_cast<std::uint32_t>(
            std::min<std::uint64_t>(2 * std::uint64_t{pool_->GetVertexCount()}, UINT32_MAX)));
    return true;
}

bool PolyForm::GenerateVertexNormals() noexcept {
    if (!pool_ || !pool_->GetVertexType().HasNormals())
        return false;
    const std::uint32_t vertexCount = pool_->GetVertexCount();
    const std::size_t length = pool_->GetRecordLength();
    const std::size_t positionOffset = pool_->GetVertexType().PositionOffset();
    const std::size_t normalOffset = pool_->GetVertexType().NormalOffset();
    float* records = pool_->Vertices();

    // Sums in double: float cross products of large coordinates would overflow or lose the
    // small triangles next to big ones.
    std::vector<double> sums;
    try {
        ReserveLargeBuffer(sums, std::size_t{vertexCount} * 3);
        sums.assign(std::size_t{vertexCount} * 3, 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }

    auto position = [&](std::uint32_t vertex, int axis) {
        return static_cast<double>(records[vertex * length + positionOffset + axis]);
    };
    for (const Mesh* mesh = meshes_.GetHead(); mesh; mesh = mesh->GetNext()) {
        const std::vector<std::uint32_t>& indices = mesh->GetIndices();
        for (std::size_t i = 0; i + 2 < indices.size(); i += 3) {
            const std::uint32_t a = indices[i], b = indices[i + 1], c = indices[i + 2];
            if (a >= vertexCount || b >= vertexCount || c >= vertexCount)
                continue;
            double u[3], v[3];
            for (int axis = 0; axis < 3; ++axis) {
                u[axis] = position(b, axis) - position(a, axis);
                v[axis] = position(c, axis) - position(a, axis);
            }
            const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                 u[0] * v[1] - u[1] * v[0]};
            if (!std::isfinite(n[0]) || !std::isfinite(n[1]) || !std::isfinite(n[2]))
                continue;
            for (std::uint32_t corner : {a, b, c}) {
                for (int axis = 0; axis < 3; ++axis)
                    sums[std::size_t{corner} * 3 + axis] += n[axis];
            }
        }
    }

    for (std::size_t vertex = 0; vertex < vertexCount; ++vertex) {
        const double* sum = &sums[vertex * 3];
        const double norm = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
        float* normal = records + vertex * length + normalOffset;
        for (int axis = 0; axis < 3; ++axis) {
            normal[axis] =
                norm > 0 && std::isfinite(norm) ? static_cast<float>(sum[axis] / norm) : 0.0f;
        }
    }
    return true;
}
