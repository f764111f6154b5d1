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
// One component of a premultiplied pixel with `source` (of a pixel whose alpha is `sourceAlpha`)
// drawn over `destination` (source over), rounded to the nearest byte: source + destination *
// (255 - sourceAlpha) / 255, in integers. A sum past 255 (a source brighter than its alpha) is 255.
constexpr std::uint8_t sourceOver(std::uint8_t source, std::uint8_t sourceAlpha, std::uint8_t destination) {
    // A product of two bytes over 255 never ends in exactly one half, so adding 127 rounds it.
    const unsigned kept = (unsigned{destination} * (255u - sourceAlpha) + 127u) / 255u;
    const unsigned sum = source + kept;
    return static_cast<std::uint8_t>(sum > 255u ? 255u : sum);
}

// A solid image of the colour, with premultiplied RGBA bytes; null when a side is 0.
ImageRef filledImage(std::size_t width, std::size_t height, const Color& color);

}  // namespace cg
