// Deterministic content trees of a chosen serialized size, for the benchmarks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kernel/SerializedContentElement.h"
#include "utilities/SmartPtr.h"

namespace kestrelbench {

// What a generated document is made of.
enum class DocumentKind {
    Property,  // deep and wide element trees carrying every property and array type
    Mesh,      // a few large triangle-mesh shapes
    Image,     // a few large images, RGBA and RGB
};

// "property", "mesh", "image".
const char* KindName(DocumentKind kind) noexcept;
// The kind called name, or nothing.
std::optional<DocumentKind> ParseKind(std::string_view name) noexcept;

// Bytes in "4MB", "64KiB", "1GB", "1.5MB", "123": K, M, G are powers of 1000, Ki, Mi, Gi of 1024;
// the B and the letter case are optional. Nothing for anything else or zero.
std::optional<std::uint64_t> ParseSize(std::string_view text) noexcept;

// The splitmix64 generator: tiny, fast, and the same sequence for a seed everywhere.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t Next() noexcept {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound); bound must not be 0.
    std::uint64_t Below(std::uint64_t bound) noexcept { return Next() % bound; }
    // Uniform in [low, high].
    std::int64_t Between(std::int64_t low, std::int64_t high) noexcept {
        return low + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(high - low) + 1));
    }
    // Uniform in [0, 1).
    double Unit() noexcept { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    // True with the given probability.
    bool Chance(double probability) noexcept { return Unit() < probability; }

private:
    std::uint64_t state_;
};

// What GenerateDocument made.
struct GeneratedDocument {
    SmartPtr<SerializedContentElement> tree;  // the top element "figure"
    std::uint64_t estimatedBytes = 0;         // the expected size of its XML text
    std::uint64_t elements = 0;               // content elements below the top
    std::uint64_t properties = 0;             // properties and arrays
    std::uint64_t triangles = 0;              // in all shapes
    std::uint64_t pixels = 0;                 // in all images
};

// A content tree of the kind whose XML text, as the module's writer lays it out (two spaces per
// level), is about targetBytes long. The same kind, size and seed give the same tree.
GeneratedDocument GenerateDocument(DocumentKind kind, std::uint64_t targetBytes,
                                   std::uint64_t seed);

}  // namespace kestrelbench
