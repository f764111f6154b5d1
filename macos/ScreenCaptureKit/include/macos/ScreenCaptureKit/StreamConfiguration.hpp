#pragma once

#include "macos/CoreGraphics/Color.hpp"

#include <cstddef>

namespace sc {

// How a capture is rendered: 1920 by 1080 pixels unless set. A width or height of 0 takes the
// content's own size in pixels (its points at the primary screen's backing scale).
struct StreamConfiguration {
    std::size_t width = 1920;
    std::size_t height = 1080;
    // Nothing here draws a cursor; the flag is kept for those who read it.
    bool showsCursor = true;
    // What shows where the content is transparent.
    cg::Color backgroundColor = cg::Color::black();
};

}  // namespace sc
