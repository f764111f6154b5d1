#pragma once

#include "macos/CoreGraphics/Image.hpp"
#include "macos/Foundation/Error.hpp"
#include "macos/ScreenCaptureKit/ContentFilter.hpp"
#include "macos/ScreenCaptureKit/StreamConfiguration.hpp"

#include <functional>
#include <optional>

namespace sc {

class ScreenshotManager {
public:
    using Completion = std::function<void(cg::ImageRef, std::optional<ns::Error>)>;

    // Takes one picture of the filter's window at the configured size, after the world's
    // screenshot latency, and hands it to `completion` as a job on the main loop, never inline.
    // The window's content as the window server draws it (a status window: its item's drawing;
    // another: its colour) fills the picture over the background colour. Fails
    // without Screen Recording access (StreamError::userDeclined), with the world's
    // screenshotFails fault or a window that cannot be captured (StreamError::failedToStart),
    // when the window is gone (StreamError::noCaptureSource), and for a size with a side of more
    // than cg::maximumWindowImageSide pixels (StreamError::invalidParameter). Nothing is called
    // when the world goes away first.
    static void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                             Completion completion);
};

}  // namespace sc
