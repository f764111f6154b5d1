#include "macos/CoreGraphics/Color.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace cg {

namespace {
std::uint32_t byte(double component) {
    return static_cast<std::uint32_t>(
        std::lround(std::clamp(std::isnan(component) ? 0.0 : component, 0.0, 1.0) * 255.0));
}
}  // namespace

Color Color::fromRGBA(std::uint32_t rgba) {
    return Color{((rgba >> 24) & 0xFF) / 255.0, ((rgba >> 16) & 0xFF) / 255.0, ((rgba >> 8) & 0xFF) / 255.0,
                 (rgba & 0xFF) / 255.0};
}

std::uint32_t Color::rgba() const { return byte(red) << 24 | byte(green) << 16 | byte(blue) << 8 | byte(alpha); }

Color over(const Color& top, const Color& bottom) {
    double a = top.alpha + bottom.alpha * (1 - top.alpha);
    if (a <= 0) return Color::clear();
    auto mix = [&](double t, double b) { return (t * top.alpha + b * bottom.alpha * (1 - top.alpha)) / a; };
    return Color{mix(top.red, bottom.red), mix(top.green, bottom.green), mix(top.blue, bottom.blue), a};
}

ImageRef filledImage(std::size_t width, std::size_t height, const Color& color) {
    if (width == 0 || height == 0) return nullptr;
    const Color premultiplied{color.red * color.alpha, color.green * color.alpha, color.blue * color.alpha,
                              color.alpha};
    const std::uint32_t rgba = premultiplied.rgba();
    std::vector<std::uint8_t> pixels(width * height * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = static_cast<std::uint8_t>(rgba >> 24);
        pixels[i + 1] = static_cast<std::uint8_t>(rgba >> 16);
        pixels[i + 2] = static_cast<std::uint8_t>(rgba >> 8);
        pixels[i + 3] = static_cast<std::uint8_t>(rgba);
    }
    return std::make_shared<const Image>(width, height, 8, ColorSpace::deviceRGB(), ImageAlphaInfo::premultipliedLast,
                                         std::move(pixels));
}

}  // namespace cg
