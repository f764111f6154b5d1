#pragma once

#include "macos/CoreFoundation/Value.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/sim/Screen.hpp"
#include "macos/sim/SystemNotifications.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ns {

using EdgeInsets = sim::EdgeInsets;

// Posted on the default notification centre when the screen configuration changes.
inline constexpr const char* applicationDidChangeScreenParametersNotification =
    sim::notification::screenParametersChanged;

// One screen as read at the moment the list was taken: a value that keeps what it read when
// the configuration changes later. Rectangles are in screen space (origin at the bottom-left of
// the primary screen, y up, points).
class Screen {
public:
    explicit Screen(std::shared_ptr<const sim::Screen> screen) : screen_(std::move(screen)) {}

    // The attached screens; the first is the primary one. Main executor only.
    static std::vector<Screen> screens();
    // The same list, for the one reader that takes it on any executor: the conversions between
    // screen and window-server space, which a scan calls on the scanner's executor.
    static std::vector<Screen> screensOnAnyExecutor();
    // The screen with keyboard focus, which need not be the first; none without screens.
    // Main executor only.
    static std::optional<Screen> main();

    cg::Rect frame() const { return spec().frame; }
    cg::Rect visibleFrame() const { return spec().visibleFrame; }
    EdgeInsets safeAreaInsets() const { return spec().safeAreaInsets; }
    // The unobscured parts of the top edge on either side of a camera housing; none elsewhere.
    std::optional<cg::Rect> auxiliaryTopLeftArea() const { return spec().auxiliaryTopLeftArea; }
    std::optional<cg::Rect> auxiliaryTopRightArea() const { return spec().auxiliaryTopRightArea; }
    // Carries the display number under "NSScreenNumber", when the screen has one.
    cf::Value::Dictionary deviceDescription() const { return spec().effectiveDeviceDescription(); }
    std::string localizedName() const { return spec().localizedName; }
    double backingScaleFactor() const { return spec().backingScaleFactor; }

    // Two values read from the same physical screen, whatever it looked like each time.
    bool isSameScreen(const Screen& other) const { return screen_->key() == other.screen_->key(); }

private:
    const sim::ScreenSpec& spec() const { return screen_->spec(); }

    std::shared_ptr<const sim::Screen> screen_;
};

}  // namespace ns
