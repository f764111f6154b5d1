#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"

namespace ns {

// An image for the interface: a bitmap shown at a size in points. It shares the bitmap rather
// than copying it.
class Image {
public:
    Image(cg::ImageRef cgImage, cg::Size size);

    // Null for an image made without a bitmap.
    const cg::ImageRef& cgImage() const { return cgImage_; }
    cg::Size size() const { return size_; }

private:
    cg::ImageRef cgImage_;
    cg::Size size_;
};

}  // namespace ns
