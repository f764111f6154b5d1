#pragma once

#include "macos/CoreFoundation/Value.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "macos/CoreGraphics/WindowList.hpp"
#include "stashbay/runtime/Task.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace stashbay {

// The window server's window list, window images and the Screen Recording permission. Keeps no
// state: every call reads the window server afresh. The synchronous operations may be called on
// any executor; none throws, and every failure ends in an empty list, no image or false.
class WindowListBridge {
public:
    WindowListBridge() = delete;

    // One window of the window list. Bounds are in window-server space (origin at the top left
    // of the primary screen, y down), in points, as the list gives them.
    struct CGWindowEntry {
        std::uint32_t windowID = 0;
        std::int32_t ownerPID = 0;
        std::optional<std::string> ownerName;
        // An empty title is a title; absent only when the list has none.
        std::optional<std::string> windowName;
        cg::Rect bounds;
        std::int64_t layer = 0;
        bool isOnScreen = true;
    };

    // Whether entries carry the owner's and the window's names; a caller that reads neither
    // leaves them out and saves their copies.
    enum class WindowNames { copied, leftOut };

    // The windows of status items, on screen or not, rightmost first (equal x keep list order).
    static std::vector<CGWindowEntry> menuBarWindows(WindowNames names = WindowNames::copied);
    // Every on-screen window except desktop elements, front to back.
    static std::vector<CGWindowEntry> allOnScreenWindows();

    // The image of one window: the capture shim's, else one screenshot through the screen-capture
    // framework at twice the bounds' size in pixels. No image on any failure. Runs on the global
    // executor, whatever the caller's; the caller continues on its own.
    static runtime::Task<cg::ImageRef> captureWindowImage(std::uint32_t windowID, cg::Rect bounds);

    // Whether Screen Recording is granted: the platform's check, else whether another process's
    // window shows its name. Only reads.
    static bool isScreenRecordingGranted();
    // Asks the platform for Screen Recording; a later check tells the outcome.
    static void requestScreenRecording();

    // What one window-list query does with the window server's answer: the entries in list
    // order, leaving out dictionaries that lack a required key or hold it in another type; empty,
    // with the error record, when there is no answer or it is not a list of dictionaries.
    // Public so that tests can feed it answers the world never gives.
    static std::vector<CGWindowEntry> entriesFromWindowInfo(const std::optional<cf::Value>& windowInfo);

private:
    static constexpr std::int64_t menuBarExtrasLayer = 25;
    static constexpr double menuBarMaxHeight = 50.0;

    static std::vector<CGWindowEntry> queryWindowList(cg::WindowListOption options);
    static cg::ImageRef captureWindowCG(std::uint32_t windowID);
};

}  // namespace stashbay
