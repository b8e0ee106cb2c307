// The geometric and colour value types that content properties carry.
#pragma once

#include <cstdint>

#include "geometry/Export.h"

// A 2-D vector of doubles.
struct DVec2 {
    double x = 0, y = 0;
    friend bool operator==(const DVec2&, const DVec2&) = default;
};

// A 3-D vector of doubles.
struct DVec3 {
    double x = 0, y = 0, z = 0;
    friend bool operator==(const DVec3&, const DVec3&) = default;
};

// A 3-D vector of floats.
struct FVec3 {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const FVec3&, const FVec3&) = default;
};

// A 2-D point of doubles.
struct DPoint2D {
    double x = 0, y = 0;
    friend bool operator==(const DPoint2D&, const DPoint2D&) = default;
};

// A 3-D point of doubles.
struct DPoint3D {
    double x = 0, y = 0, z = 0;
    friend bool operator==(const DPoint3D&, const DPoint3D&) = default;
};

// A 3-D point of floats.
struct FPoint3D {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const FPoint3D&, const FPoint3D&) = default;
};

// A quaternion x i + y j + z k + w; the identity rotation is (0, 0, 0, 1).
template <class T>
struct Quaternion {
    T x = 0, y = 0, z = 0, w = 1;
    friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

// A placement in space: a uniform scale, then a rotation, then a translation to position.
struct Location {
    DPoint3D position;
    Quaternion<double> orientation;
    double scale = 1;
    friend bool operator==(const Location&, const Location&) = default;
};

// A 64-bit value shown in hexadecimal; the content model knows it, the file format does not.
struct DHex {
    std::uint64_t value = 0;
    friend bool operator==(const DHex&, const DHex&) = default;
};

// An RGBA colour of 8-bit channels, packed as 0xRRGGBBAA.
class Color {
public:
    constexpr Color() noexcept = default;
    constexpr Color(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) noexcept
        : r_(r), g_(g), b_(b), a_(a) {}
    // Unpacks 0xRRGGBBAA.
    constexpr explicit Color(unsigned int packed) noexcept
        : r_(static_cast<std::uint8_t>(packed >> 24)),
          g_(static_cast<std::uint8_t>(packed >> 16)),
          b_(static_cast<std::uint8_t>(packed >> 8)),
          a_(static_cast<std::uint8_t>(packed)) {}
    // Packs the channels as 0xRRGGBBAA.
    constexpr unsigned int GetAsHex() const noexcept {
        return (unsigned(r_) << 24) | (unsigned(g_) << 16) | (unsigned(b_) << 8) | unsigned(a_);
    }
    constexpr std::uint8_t Red() const noexcept { return r_; }
    constexpr std::uint8_t Green() const noexcept { return g_; }
    constexpr std::uint8_t Blue() const noexcept { return b_; }
    constexpr std::uint8_t Alpha() const noexcept { return a_; }
    friend bool operator==(const Color&, const Color&) = default;

private:
    std::uint8_t r_ = 0, g_ = 0, b_ = 0, a_ = 255;
};
