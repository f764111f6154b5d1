#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cg {

// A colour space. Only the device RGB space exists here.
class ColorSpace {
public:
    static std::shared_ptr<const ColorSpace> deviceRGB();
    explicit ColorSpace(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    std::size_t components() const { return 3; }

private:
    std::string name_;
};
using ColorSpaceRef = std::shared_ptr<const ColorSpace>;

// The alpha layouts of a bitmap, by the platform's raw values.
enum class ImageAlphaInfo : std::uint32_t {
    none = 0,
    premultipliedLast = 1,
    premultipliedFirst = 2,
    last = 3,
    first = 4,
    noneSkipLast = 5,
    noneSkipFirst = 6,
    only = 7,
};

// An immutable bitmap image, shared rather than copied. Pixels are rows of RGBA bytes at
// eight bits per component unless the image says otherwise.
class Image {
public:
    Image(std::size_t width, std::size_t height, std::size_t bitsPerComponent, ColorSpaceRef colorSpace,
          ImageAlphaInfo alphaInfo, std::vector<std::uint8_t> pixels);

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t bitsPerComponent() const { return bitsPerComponent_; }
    std::size_t bitsPerPixel() const { return bitsPerComponent_ * 4; }
    std::size_t bytesPerRow() const { return width_ * bitsPerPixel() / 8; }
    const ColorSpaceRef& colorSpace() const { return colorSpace_; }
    ImageAlphaInfo alphaInfo() const { return alphaInfo_; }
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

    // A solid image of one RGBA colour, for the simulated windows' contents.
    static std::shared_ptr<const Image> filled(std::size_t width, std::size_t height, std::uint32_t rgba,
                                               ColorSpaceRef colorSpace = ColorSpace::deviceRGB());

private:
    std::size_t width_;
    std::size_t height_;
    std::size_t bitsPerComponent_;
    ColorSpaceRef colorSpace_;
    ImageAlphaInfo alphaInfo_;
    std::vector<std::uint8_t> pixels_;
};
using ImageRef = std::shared_ptr<const Image>;

}  // namespace cg
