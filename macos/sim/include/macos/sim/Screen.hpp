#pragma once

#include "macos/CoreFoundation/Value.hpp"
#include "macos/CoreGraphics/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

// Distances in points from each edge of a screen that the camera housing or rounded corners
// make unusable.
struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

// How a screen looks to the frameworks. Rectangles are in screen space: origin at the bottom-left
// corner of the primary screen, y growing up, in points.
struct ScreenSpec {
    std::string localizedName = "Display";
    cg::Rect frame;
    cg::Rect visibleFrame;
    EdgeInsets safeAreaInsets;
    std::optional<cg::Rect> auxiliaryTopLeftArea;
    std::optional<cg::Rect> auxiliaryTopRightArea;
    // The display's identifier for the display queries; none for a screen the display queries do
    // not know.
    std::optional<std::uint32_t> displayNumber;
    // When set, the device description exactly as given ("NSScreenNumber" may be missing or not
    // a number); otherwise one that carries the display number.
    std::optional<cf::Value::Dictionary> deviceDescription;
    bool builtIn = false;
    double backingScaleFactor = 1.0;

    cf::Value::Dictionary effectiveDeviceDescription() const;
    // The same screen moved by (dx, dy): every rectangle moves with it.
    ScreenSpec offsetBy(double dx, double dy) const;
};

// What is wrong with a spec, if anything: the field by its scenario name ("frame.width") and a
// message.
struct FieldProblem {
    std::string field;
    std::string message;
};
std::optional<FieldProblem> findProblem(const ScreenSpec& spec);

// One attached screen: a spec with an identity that stays the same while the screen is moved or
// reconfigured. Immutable; a change replaces it.
class Screen {
public:
    using Key = std::uint64_t;
    Screen(Key key, ScreenSpec spec) : key_(key), spec_(std::move(spec)) {}
    Key key() const { return key_; }
    const ScreenSpec& spec() const { return spec_; }

private:
    Key key_;
    ScreenSpec spec_;
};

}  // namespace sim
