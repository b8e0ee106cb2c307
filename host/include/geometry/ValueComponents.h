// The components of the compound value types, in their documented order.
#pragma once

#include <array>

#include "geometry/ValueTypes.h"

// Pointers to the components of a compound value (DVec2 ... Location) in text order: x y (z (w)),
// and for a Location its position, orientation and scale. Constness follows the value's.
template <class V>
auto Components(V& v) {
    if constexpr (requires { v.orientation; }) {
        return std::array{&v.position.x,    &v.position.y,    &v.position.z,    &v.orientation.x,
                          &v.orientation.y, &v.orientation.z, &v.orientation.w, &v.scale};
    } else if constexpr (requires { v.w; }) {
        return std::array{&v.x, &v.y, &v.z, &v.w};
    } else if constexpr (requires { v.z; }) {
        return std::array{&v.x, &v.y, &v.z};
    } else {
        return std::array{&v.x, &v.y};
    }
}
