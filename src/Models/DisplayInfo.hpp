#pragma once

#include "System/ScreenGeometry.hpp"
#include "macos/CoreGraphics/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace stashbay {

// One attached screen as the app needs it: its display number, frame (screen space), menu-bar and
// notch geometry, whether it is the built-in panel and whether it carries the menu bar. An
// immutable value that may travel to any executor. Lists of displays are rebuilt and replaced
// whole, so it has no equality.
class DisplayInfo {
public:
    using ID = std::uint32_t;

    DisplayInfo(ID id, cg::Rect frame, ScreenGeometry screenGeometry, bool isBuiltIn, bool isMain,
                std::string displayName)
        : id_(id),
          frame_(frame),
          screenGeometry_(std::move(screenGeometry)),
          isBuiltIn_(isBuiltIn),
          isMain_(isMain),
          displayName_(std::move(displayName)) {}

    // One record per screen with a display number ("NSScreenNumber" in its device description),
    // in the platform's order; the first screen of that order is the main one. Each measured
    // screen writes its notch record. Main executor only.
    static std::vector<DisplayInfo> allDisplays();
    // The record of the first screen; none when it has no display number or there are no
    // screens. Main executor only.
    static std::optional<DisplayInfo> menuBarDisplay();

    ID id() const { return id_; }
    const cg::Rect& frame() const { return frame_; }
    const ScreenGeometry& screenGeometry() const { return screenGeometry_; }
    bool isBuiltIn() const { return isBuiltIn_; }
    bool isMain() const { return isMain_; }
    const std::string& displayName() const { return displayName_; }
    bool hasNotch() const { return screenGeometry_.hasNotch(); }

private:
    ID id_;
    cg::Rect frame_;
    ScreenGeometry screenGeometry_;
    bool isBuiltIn_;
    bool isMain_;
    std::string displayName_;
};

}  // namespace stashbay
