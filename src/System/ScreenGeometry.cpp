#include "System/ScreenGeometry.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/AppKit/Screen.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <algorithm>

namespace stashbay {

namespace {

// Below this the menu bar is never drawn, whatever the visible frame says.
constexpr double minimumMenuBarHeight = 24.0;
// Width of the notch guessed when the screen reports a housing but not the areas around it.
constexpr double estimatedNotchWidth = 220.0;
// How far right of the notch an item's centre must lie to be in sight.
constexpr double hiddenItemMargin = 20.0;
// How far left of the notch a rectangle's centre may lie and still count as behind it.
constexpr double behindNotchLeftMargin = 50.0;

}  // namespace

ScreenGeometry ScreenGeometry::forScreen(const ns::Screen& screen) {
    runtime::assertMainExecutor("ScreenGeometry.forScreen");
    const os::Logger& logger = log::display();

    cg::Rect frame = screen.frame();
    cg::Rect visibleFrame = screen.visibleFrame();
    double height = std::max(frame.maxY() - visibleFrame.maxY(), minimumMenuBarHeight);
    cg::Rect menuBarRect(frame.origin.x, frame.maxY() - height, frame.width(), height);

    std::optional<cg::Rect> notchRect;
    if (screen.safeAreaInsets().top > 0) {
        auto left = screen.auxiliaryTopLeftArea();
        auto right = screen.auxiliaryTopRightArea();
        if (left && right) {
            cg::Rect notch(left->maxX(), frame.maxY() - height, right->minX() - left->maxX(), height);
            logger.debug("Notch detected: x=%{public}f, width=%{public}f", notch.origin.x, notch.width());
            notchRect = notch;
        } else {
            notchRect =
                cg::Rect(frame.midX() - estimatedNotchWidth / 2, frame.maxY() - height, estimatedNotchWidth, height);
            logger.error("Notch detected via safeAreaInsets but auxiliaryTopAreas unavailable. Using estimate.");
        }
    } else {
        logger.debug("No notch detected for screen at origin (%{public}f, %{public}f).", frame.origin.x,
                     frame.origin.y);
    }
    return ScreenGeometry(notchRect, menuBarRect, frame, height);
}

bool ScreenGeometry::isPointBehindNotch(cg::Point point) const { return notchRect_ && notchRect_->contains(point); }

bool ScreenGeometry::isRectBehindNotch(const cg::Rect& rect) const {
    if (!notchRect_) return false;
    if (rect.intersects(*notchRect_)) return true;
    double mid = rect.midX();
    return mid < notchRect_->maxX() && (mid > screenFrame_.midX() || mid > notchRect_->minX() - behindNotchLeftMargin);
}

bool ScreenGeometry::isMenuExtraHiddenByNotch(const cg::Rect& bounds) const {
    if (!notchRect_) return false;
    return bounds.midX() < notchRect_->maxX() + hiddenItemMargin;
}

std::optional<MenuBarZones> ScreenGeometry::menuBarZones() const {
    if (!notchRect_) return std::nullopt;
    const cg::Rect& notch = *notchRect_;
    const cg::Rect& bar = menuBarRect_;
    return MenuBarZones{
        cg::Rect(bar.origin.x, bar.origin.y, notch.origin.x - bar.origin.x, bar.height()),
        cg::Rect(notch.maxX(), bar.origin.y, bar.maxX() - notch.maxX(), bar.height()),
    };
}

double ScreenGeometry::cocoaToCGScreenY(double y, double height) {
    auto primaryHeight = primaryScreenHeight();
    if (!primaryHeight) return y;
    return *primaryHeight - y - height;
}

// The stored width and height are kept as they are, signs included, so that a rectangle with a
// negative size covers the same area in both spaces.
cg::Rect ScreenGeometry::cocoaRectToCG(const cg::Rect& rect) {
    return cg::Rect(rect.origin.x, cocoaToCGScreenY(rect.origin.y, rect.size.height), rect.size.width,
                    rect.size.height);
}

// The height of the primary screen's frame: the first of the screen list. None without screens.
// A screen the display queries do not know (no display number) still has its frame.
std::optional<double> ScreenGeometry::primaryScreenHeight() {
    auto screens = ns::Screen::screensOnAnyExecutor();
    if (screens.empty()) return std::nullopt;
    return screens.front().frame().height();
}

cg::Rect ScreenGeometry::cgRectToCocoa(const cg::Rect& rect) { return cgRectToCocoa(rect, primaryScreenHeight()); }

cg::Rect ScreenGeometry::cgRectToCocoa(const cg::Rect& rect, std::optional<double> primaryHeight) {
    if (!primaryHeight) return rect;
    return cg::Rect(rect.origin.x, *primaryHeight - rect.origin.y - rect.size.height, rect.size.width,
                    rect.size.height);
}

}  // namespace stashbay
