// Bit-for-bit comparison of content values and trees for round-trip tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "geometry/MeshBuilder.h"
#include "kernel/SerializedContentElement.h"

namespace contentcompare {

template <class T>
bool SameBits(const T& a, const T& b);

// Shapes compare by what a file stores of them: positions bit for bit and triangles.
inline bool SameShape(const SmartPtr<Shape>& a, const SmartPtr<Shape>& b) {
    if (!a || !b)
        return !a && !b;
    MeshData x = ExtractMesh(*a), y = ExtractMesh(*b);
    return SameBits(x.positions, y.positions) && x.indices == y.indices;
}

// Images compare by size, pixel format and every pixel byte.
inline bool SameImage(const SmartPtr<Image>& a, const SmartPtr<Image>& b) {
    if (!a || !b)
        return !a && !b;
    return a->GetWidth() == b->GetWidth() && a->GetHeight() == b->GetHeight() &&
           a->GetFormat() == b->GetFormat() &&
           std::memcmp(a->GetPixels(), b->GetPixels(), a->GetPixelBytes()) == 0;
}

template <class T>
bool SameBits(const T& a, const T& b) {
    if constexpr (std::is_same_v<T, SmartPtr<Shape>>) {
        return SameShape(a, b);
    } else if constexpr (std::is_same_v<T, SmartPtr<Image>>) {
        return SameImage(a, b);
    } else if constexpr (std::is_same_v<T, Symbol>) {
        return a.view() == b.view();
    } else if constexpr (std::is_same_v<T, std::vector<bool>>) {
        return a == b;
    } else if constexpr (requires { a.begin(); }) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const auto& x, const auto& y) { return SameBits(x, y); });
    } else if constexpr (std::is_trivially_copyable_v<T>) {
        return std::memcmp(&a, &b, sizeof(T)) == 0;
    } else {
        return a == b;
    }
}

inline bool SameBits(const PropertyValue& a, const PropertyValue& b) {
    if (a.index() != b.index())
        return false;
    return std::visit([&b]<class T>(const T& value) { return SameBits(value, std::get<T>(b)); }, a);
}

// The first difference between two trees as a message, or "" when they are the same bit for bit.
inline std::string FirstDifference(const SerializedContentElement& a,
                                   const SerializedContentElement& b) {
    std::vector<std::pair<const SerializedContentElement*, const SerializedContentElement*>>
        pending{{&a, &b}};
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        const std::string where = x->GetName();
        if (!(x->GetName() == y->GetName()))
            return "name " + where + " vs " + std::string(y->GetName());
        if (x->GetProperties().size() != y->GetProperties().size()) {
            return where + ": " + std::to_string(x->GetProperties().size()) + " vs " +
                   std::to_string(y->GetProperties().size()) + " properties";
        }
        for (std::size_t i = 0; i < x->GetProperties().size(); ++i) {
            const auto& p = x->GetProperties()[i];
            const auto& q = y->GetProperties()[i];
            if (!(p.name == q.name))
                return where + ": property name " + std::string(p.name);
            if (!SameBits(p.value, q.value))
                return where + ": value of " + std::string(p.name);
        }
        if (x->GetChildCount() != y->GetChildCount())
            return where + ": child count";
        for (std::size_t i = 0; i < x->GetChildCount(); ++i)
            pending.emplace_back(x->GetChild(i), y->GetChild(i));
    }
    return "";
}

}  // namespace contentcompare
