#pragma once

#include "macos/CoreGraphics/Image.hpp"

#include <cstddef>
#include <cstdint>

namespace cg {

// A colour of the device RGB space, each component from 0 to 1.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static Color clear() { return Color{0, 0, 0, 0}; }
    static Color black() { return Color{0, 0, 0, 1}; }
    static Color white() { return Color{1, 1, 1, 1}; }
    // From 0xRRGGBBAA.
    static Color fromRGBA(std::uint32_t rgba);
    // To 0xRRGGBBAA, each component clamped and rounded.
    std::uint32_t rgba() const;

    friend bool operator==(const Color&, const Color&) = default;
};

// `top` drawn over `bottom` (source over).
Color over(const Color& top, const Color& bottom);
// A solid image of the colour, with premultiplied RGBA bytes; null when a side is 0.
ImageRef filledImage(std::size_t width, std::size_t height, const Color& color);

}  // namespace cg
