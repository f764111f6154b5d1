#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"

#include <cstdint>

// The capture shim: window images from the window server's image function, which it finds by
// name in the process ("CGWindowListCreateImage") on first use and keeps for the life of the
// process, found or not. Null when the function is missing or gives no image. Any thread.

// The window's own frame at the best resolution, framing ignored.
cg::ImageRef SBCaptureWindowImage(std::uint32_t windowID);
// Every on-screen window within `rect` (window-server space), at the best resolution.
cg::ImageRef SBCaptureMenuBarStrip(cg::Rect rect);
