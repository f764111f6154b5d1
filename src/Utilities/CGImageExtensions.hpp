#pragma once

#include "macos/AppKit/Image.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"

namespace stashbay {

// The image scaled by one factor to fit `toFit` (pixels), keeping its aspect ratio; it may grow.
// Each side is truncated to whole pixels. Null when a side comes to less than one pixel, when the
// image is null or has no pixels, when the scale is not a finite number, or when the platform
// cannot make the bitmap.
cg::ImageRef scaled(const cg::ImageRef& image, cg::Size toFit);

// The image for the interface, one point per pixel (no scaling for the screen's resolution).
// A null image gives an empty one.
ns::Image nsImage(const cg::ImageRef& image);

}  // namespace stashbay
