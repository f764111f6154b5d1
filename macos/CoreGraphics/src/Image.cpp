#include "macos/CoreGraphics/Image.hpp"

namespace cg {

std::shared_ptr<const ColorSpace> ColorSpace::deviceRGB() {
    static const auto space = std::make_shared<const ColorSpace>("kCGColorSpaceDeviceRGB");
    return space;
}

Image::Image(std::size_t width, std::size_t height, std::size_t bitsPerComponent, ColorSpaceRef colorSpace,
             ImageAlphaInfo alphaInfo, std::vector<std::uint8_t> pixels)
    : width_(width),
      height_(height),
      bitsPerComponent_(bitsPerComponent),
      colorSpace_(std::move(colorSpace)),
      alphaInfo_(alphaInfo),
      pixels_(std::move(pixels)) {
    pixels_.resize(bytesPerRow() * height_);
}

ImageRef Image::filled(std::size_t width, std::size_t height, std::uint32_t rgba, ColorSpaceRef colorSpace) {
    std::vector<std::uint8_t> pixels(width * height * 4);
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) {
        pixels[i] = static_cast<std::uint8_t>(rgba >> 24);
        pixels[i + 1] = static_cast<std::uint8_t>(rgba >> 16);
        pixels[i + 2] = static_cast<std::uint8_t>(rgba >> 8);
        pixels[i + 3] = static_cast<std::uint8_t>(rgba);
    }
    return std::make_shared<const Image>(width, height, 8, std::move(colorSpace), ImageAlphaInfo::premultipliedLast,
                                         std::move(pixels));
}

}  // namespace cg
