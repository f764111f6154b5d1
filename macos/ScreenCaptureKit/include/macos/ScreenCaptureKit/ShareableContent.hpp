#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/WindowList.hpp"
#include "macos/Foundation/Error.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sc {

// An application as the capture framework lists it.
struct RunningApplication {
    std::int32_t processID = 0;
    std::string bundleIdentifier;
    std::string applicationName;
};

// A display that can be captured. The frame is in the window server's space.
struct Display {
    std::uint32_t displayID = 0;
    std::size_t width = 0;
    std::size_t height = 0;
    cg::Rect frame;
};

// A window that can be captured, as it was when the content was read.
struct Window {
    cg::WindowID windowID = 0;
    // Window-server space: origin at the top left of the primary screen, y down, in points.
    cg::Rect frame;
    std::optional<std::string> title;
    std::int64_t windowLayer = 0;
    // None for a window whose owner is not a running application.
    std::optional<RunningApplication> owningApplication;
    bool isOnScreen = true;
};

// What can be captured: windows front to back, displays, applications.
class ShareableContent {
public:
    using Completion = std::function<void(std::shared_ptr<const ShareableContent>, std::optional<ns::Error>)>;

    // Reads the content after the world's shareable-content latency and hands it to `completion`
    // as a job on the main loop, never inline. Desktop windows (the desktop picture and its icons)
    // are left out when asked, off-screen windows when asked. Fails without Screen Recording
    // access (StreamError::userDeclined) and with the world's shareableContentFails fault
    // (StreamError::noWindowList). Nothing is called when the world goes away first.
    static void getExcludingDesktopWindows(bool excludeDesktopWindows, bool onScreenWindowsOnly, Completion completion);

    ShareableContent(std::vector<Window> windows, std::vector<Display> displays,
                     std::vector<RunningApplication> applications)
        : windows_(std::move(windows)), displays_(std::move(displays)), applications_(std::move(applications)) {}

    const std::vector<Window>& windows() const { return windows_; }
    const std::vector<Display>& displays() const { return displays_; }
    const std::vector<RunningApplication>& applications() const { return applications_; }

private:
    std::vector<Window> windows_;
    std::vector<Display> displays_;
    std::vector<RunningApplication> applications_;
};

}  // namespace sc
