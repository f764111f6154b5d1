#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cg {

// How images are resampled when drawn at another size, by the platform's raw values.
enum class InterpolationQuality : std::int32_t { defaultQuality = 0, none = 1, low = 2, high = 3, medium = 4 };

// The parts of a bitmap-info value: the alpha layout in the low bits, the byte order above.
inline constexpr std::uint32_t bitmapAlphaInfoMask = 0x1F;
inline constexpr std::uint32_t bitmapFloatComponents = 1u << 8;
inline constexpr std::uint32_t bitmapByteOrderMask = 0x7000;
inline constexpr std::uint32_t bitmapByteOrder32Big = 4u << 12;

// An offscreen canvas that images are drawn into, then read back as an image. Its user space
// has the origin at the bottom-left corner, y up, one unit per pixel, as the platform's does.
// Resampling is Qt's: smooth scaling unless the interpolation quality is none.
class BitmapContext {
public:
    // The platform's bitmap-context creation with the context owning its memory. Null when the
    // parameters are not supported: a zero or oversized width or height, anything but 8 bits
    // per component, a row length (0 = chosen here) shorter than a row's pixels, no colour space,
    // or a layout other than RGBA with premultiplied or skipped alpha in big-endian byte order.
    // Also null when the world's bitmapContextCreationFails fault is on.
    ~BitmapContext();
    BitmapContext(const BitmapContext&) = delete;
    BitmapContext& operator=(const BitmapContext&) = delete;

    static std::shared_ptr<BitmapContext> create(std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                                                 std::size_t bytesPerRow, ColorSpaceRef colorSpace,
                                                 std::uint32_t bitmapInfo);

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t bitsPerComponent() const { return 8; }
    std::size_t bytesPerRow() const { return bytesPerRow_; }
    const ColorSpaceRef& colorSpace() const { return colorSpace_; }
    ImageAlphaInfo alphaInfo() const { return alphaInfo_; }

    void setInterpolationQuality(InterpolationQuality quality) { quality_ = quality; }
    InterpolationQuality interpolationQuality() const { return quality_; }

    // Draws the whole image scaled into `rect` (user space), over what is there. Images of a
    // layout this context cannot read, and rectangles that are empty, not finite or further than
    // 2^24 from the origin, draw nothing.
    void draw(const ImageRef& image, const Rect& rect);
    // A copy of the canvas as an image with this context's layout and colour space; null when
    // the world's bitmapContextImageFails fault is on.
    ImageRef makeImage() const;

private:
    struct Canvas;
    BitmapContext(std::size_t width, std::size_t height, std::size_t bytesPerRow, ColorSpaceRef colorSpace,
                  ImageAlphaInfo alphaInfo, std::unique_ptr<Canvas> canvas);

    std::size_t width_;
    std::size_t height_;
    std::size_t bytesPerRow_;
    ColorSpaceRef colorSpace_;
    ImageAlphaInfo alphaInfo_;
    InterpolationQuality quality_ = InterpolationQuality::defaultQuality;
    std::unique_ptr<Canvas> canvas_;
};
using BitmapContextRef = std::shared_ptr<BitmapContext>;

}  // namespace cg
