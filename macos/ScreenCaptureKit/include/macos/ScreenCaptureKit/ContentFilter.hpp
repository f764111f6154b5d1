#pragma once

#include "macos/ScreenCaptureKit/ShareableContent.hpp"

namespace sc {

// What a capture shows: here, one window on its own, whatever lies above or below it.
class ContentFilter {
public:
    explicit ContentFilter(Window desktopIndependentWindow) : window_(std::move(desktopIndependentWindow)) {}

    const Window& window() const { return window_; }
    // The captured area in points, with its origin at 0.
    cg::Rect contentRect() const { return cg::Rect(0, 0, window_.frame.width(), window_.frame.height()); }

private:
    Window window_;
};

}  // namespace sc
