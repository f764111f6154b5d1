#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"

#include <functional>
#include <optional>
#include <string>

namespace ns {

// An image for the interface: a bitmap shown at a size in points. It shares the bitmap rather
// than copying it.
class Image {
public:
    Image(cg::ImageRef cgImage, cg::Size size);

    // Null for an image made without a bitmap.
    const cg::ImageRef& cgImage() const { return cgImage_; }
    cg::Size size() const { return size_; }

    // The images of the app's asset catalogue, by name. The app adds its own artwork before it
    // looks an image up; a name without an image gives none.
    static void registerNamed(std::string name, std::function<Image()> make);
    static std::optional<Image> named(const std::string& name);

private:
    cg::ImageRef cgImage_;
    cg::Size size_;
};

}  // namespace ns
