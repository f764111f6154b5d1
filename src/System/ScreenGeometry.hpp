#pragma once

#include "macos/AppKit/Screen.hpp"
#include "macos/CoreGraphics/Geometry.hpp"

#include <optional>

namespace stashbay {

// The two parts of the menu bar on either side of the camera housing, in screen space.
struct MenuBarZones {
    cg::Rect leftOfNotch;
    cg::Rect rightOfNotch;
    friend bool operator==(const MenuBarZones&, const MenuBarZones&) = default;
};

// The menu bar of one screen: the strip across its top, its height and the part of it the camera
// housing (the notch) covers. Every rectangle is in screen space (origin at the bottom-left of
// the primary screen, y up, points). An immutable value, safe to hand to any executor.
//
// Window-server space (window-list bounds, accessibility positions, mouse locations) has its
// origin at the top-left of the primary screen with y down; the conversions below map between
// the two.
class ScreenGeometry {
public:
    ScreenGeometry(std::optional<cg::Rect> notchRect, cg::Rect menuBarRect, cg::Rect screenFrame, double menuBarHeight)
        : notchRect_(notchRect), menuBarRect_(menuBarRect), screenFrame_(screenFrame), menuBarHeight_(menuBarHeight) {}

    // Measures one screen and logs what it found about the notch in the "display" category.
    // Main executor only, like every reading of the screen list.
    static ScreenGeometry forScreen(const ns::Screen& screen);

    const std::optional<cg::Rect>& notchRect() const { return notchRect_; }
    const cg::Rect& menuBarRect() const { return menuBarRect_; }
    const cg::Rect& screenFrame() const { return screenFrame_; }
    double menuBarHeight() const { return menuBarHeight_; }

    bool hasNotch() const { return notchRect_.has_value(); }

    // Containment as the platform has it: left and bottom edges inside, right and top outside.
    bool isPointBehindNotch(cg::Point point) const;
    // Overlapping the notch, or centred left of its right edge and either right of the screen's
    // centre or less than 50 points left of the notch.
    bool isRectBehindNotch(const cg::Rect& rect) const;
    // Whether a status item (its bounds in screen space) is out of sight: its centre lies left of
    // a line 20 points right of the notch. Items left of the notch count as hidden, too.
    bool isMenuExtraHiddenByNotch(const cg::Rect& bounds) const;
    // The menu bar split at the notch; none without a notch.
    std::optional<MenuBarZones> menuBarZones() const;

    // The conversions between screen space and window-server space: x, width and height stay,
    // y becomes H - y - height, H being the primary screen's height. With no primary screen
    // known to the display queries they return their input. They keep nothing between calls and
    // may be called on any executor.
    static double cocoaToCGScreenY(double y, double height);
    static cg::Rect cocoaRectToCG(const cg::Rect& rect);
    static cg::Rect cgRectToCocoa(const cg::Rect& rect);
    // The same with the primary screen's height read once, for a caller converting many
    // rectangles: none when there is no primary screen, which leaves the rectangle as it is.
    static std::optional<double> primaryScreenHeight();
    static cg::Rect cgRectToCocoa(const cg::Rect& rect, std::optional<double> primaryHeight);

    friend bool operator==(const ScreenGeometry&, const ScreenGeometry&) = default;

private:
    std::optional<cg::Rect> notchRect_;
    cg::Rect menuBarRect_;
    cg::Rect screenFrame_;
    double menuBarHeight_;
};

}  // namespace stashbay
