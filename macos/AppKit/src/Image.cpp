#include "macos/AppKit/Image.hpp"

namespace ns {

Image::Image(cg::ImageRef cgImage, cg::Size size) : cgImage_(std::move(cgImage)), size_(size) {}

}  // namespace ns
