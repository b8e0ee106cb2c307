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

    const float* positions = records + positionOffset;
    for (const Mesh* mesh = meshes_.GetHead(); mesh; mesh = mesh->GetNext()) {
        const std::vector<std::uint32_t>& indices = mesh->GetIndices();
        const std::uint32_t* corners = indices.data();
        const std::size_t whole = indices.size() - indices.size() % 3;
        for (std::size_t i = 0; i < whole; i += 3) {
            const std::uint32_t a = corners[i], b = corners[i + 1], c = corners[i + 2];
            if (a >= vertexCount || b >= vertexCount || c >= vertexCount)
                continue;
            const float* pa = positions + std::size_t{a} * length;
            const float* pb = positions + std::size_t{b} * length;
            const float* pc = positions + std::size_t{c} * length;
            double u[3], v[3];
            for (int axis = 0; axis < 3; ++axis) {
                u[axis] = static_cast<double>(pb[axis]) - static_cast<double>(pa[axis]);
                v[axis] = static_cast<double>(pc[axis]) - static_cast<double>(pa[axis]);
            }
            const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                 u[0] * v[1] - u[1] * v[0]};
            // n * 0 is 0 for finite n and NaN otherwise: one test for all three.
            if (std::isnan(n[0] * 0.0 + n[1] * 0.0 + n[2] * 0.0))
                continue;
            for (std::uint32_t corner : {a, b, c}) {
                double* sum = &sums[std::size_t{corner} * 3];
                sum[0] += n[0];
                sum[1] += n[1];
                sum[2] += n[2];
            }
        }
    }

    for (std::size_t vertex = 0; vertex < vertexCount; ++vertex) {
        const double* sum = &sums[vertex * 3];
        const double norm = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
        float* normal = records + vertex * length + normalOffset;
        // One division per vertex rather than three: the normals differ from exact division by
        // at most an ulp of the double, well below a float's.
        const double scale = norm > 0 && std::isfinite(norm) ? 1.0 / norm : 0.0;
        for (int axis = 0; axis < 3; ++axis)
            normal[axis] = static_cast<float>(sum[axis] * scale);
    }
    return true;
}
