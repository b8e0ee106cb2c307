// PropertyValue: every value type a content property can hold.
#pragma once

#include <cstdint>
#include <type_traits>
#include <variant>
#include <vector>

#include "geometry/Image.h"
#include "geometry/Shape.h"
#include "geometry/ValueTypes.h"
#include "utilities/SmartPtr.h"
#include "utilities/Symbol.h"

// The value of one property: a single value or an array of one value type.
using PropertyValue = std::variant<
    // single values
    bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t, std::uint32_t,
    std::int64_t, std::uint64_t, float, double, Symbol, Color, DPoint2D, DPoint3D, FPoint3D, DVec2,
    DVec3, FVec3, Location, Quaternion<float>, DHex, SmartPtr<Shape>, SmartPtr<Image>,
    // arrays
    std::vector<bool>, std::vector<std::int8_t>, std::vector<std::uint8_t>,
    std::vector<std::int16_t>, std::vector<std::uint16_t>, std::vector<std::int32_t>,
    std::vector<std::uint32_t>, std::vector<std::int64_t>, std::vector<std::uint64_t>,
    std::vector<float>, std::vector<double>, std::vector<Symbol>, std::vector<Color>,
    std::vector<DPoint2D>, std::vector<DPoint3D>, std::vector<FPoint3D>, std::vector<DVec2>,
    std::vector<DVec3>, std::vector<FVec3>, std::vector<Location>, std::vector<Quaternion<float>>,
    std::vector<DHex>, std::vector<SmartPtr<Shape>>>;

namespace detail {
template <class T, class Variant>
struct IsAlternative;
template <class T, class... Ts>
struct IsAlternative<T, std::variant<Ts...>> : std::bool_constant<(std::is_same_v<T, Ts> || ...)> {
};
}  // namespace detail

// True for exactly the types a property can hold.
template <class T>
inline constexpr bool IsPropertyValueType = detail::IsAlternative<T, PropertyValue>::value;
