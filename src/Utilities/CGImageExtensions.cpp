#include "Utilities/CGImageExtensions.hpp"

#include "macos/CoreGraphics/BitmapContext.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace stashbay {

namespace {

// Premultiplied alpha stored last, the platform's raw value.
constexpr std::uint32_t premultipliedLast = 1;
// 2^63: the first value a signed 64-bit integer cannot hold.
constexpr double int64Limit = 9223372036854775808.0;

// A scaled side truncated toward zero; none when it is not a whole positive number of pixels.
std::optional<std::size_t> pixels(double side) {
    if (!std::isfinite(side) || side >= int64Limit || side < -int64Limit) return std::nullopt;
    auto whole = static_cast<std::int64_t>(side);
    if (whole <= 0) return std::nullopt;
    return static_cast<std::size_t>(whole);
}

}  // namespace

cg::ImageRef scaled(const cg::ImageRef& image, cg::Size toFit) {
    if (!image || image->width() == 0 || image->height() == 0) return nullptr;
    double width = static_cast<double>(image->width());
    double height = static_cast<double>(image->height());
    double widthRatio = toFit.width / width;
    double heightRatio = toFit.height / height;
    if (std::isnan(widthRatio) || std::isnan(heightRatio)) return nullptr;
    double scale = std::min(widthRatio, heightRatio);
    if (!std::isfinite(scale)) return nullptr;

    auto newWidth = pixels(width * scale);
    auto newHeight = pixels(height * scale);
    if (!newWidth || !newHeight) return nullptr;

    cg::ColorSpaceRef colorSpace = image->colorSpace() ? image->colorSpace() : cg::ColorSpace::deviceRGB();
    auto context =
        cg::BitmapContext::create(*newWidth, *newHeight, image->bitsPerComponent(), 0, colorSpace, premultipliedLast);
    if (!context) return nullptr;
    context->setInterpolationQuality(cg::InterpolationQuality::high);
    context->draw(image, cg::Rect(0, 0, static_cast<double>(*newWidth), static_cast<double>(*newHeight)));
    return context->makeImage();
}

ns::Image nsImage(const cg::ImageRef& image) {
    if (!image) return ns::Image(nullptr, cg::Size{});
    return ns::Image(image, cg::Size{static_cast<double>(image->width()), static_cast<double>(image->height())});
}

}  // namespace stashbay
