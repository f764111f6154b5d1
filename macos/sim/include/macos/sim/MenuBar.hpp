#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/sim/Screen.hpp"
#include "macos/sim/StatusItem.hpp"

#include <optional>
#include <vector>

namespace sim {

// How the bar is laid out on the primary screen.
struct MenuBarSpec {
    // Items that do not fit right of this x are off the bar. By default the camera housing's left
    // edge, or 40% of the screen's width on a screen without one.
    std::optional<double> leftLimit;
    // Room kept free at the right edge.
    double rightInset = 0;
    // Room between two items.
    double spacing = 0;
    friend bool operator==(const MenuBarSpec&, const MenuBarSpec&) = default;
};

// The one right-to-left order of every status item and its layout on the primary screen's bar.
// The camera housing stays where it is: an item under it is on the bar but cannot be seen.
class MenuBar {
public:
    struct Slot {
        cg::Rect frame;
        bool onBar = false;
    };

    explicit MenuBar(MenuBarSpec spec = {}) : spec_(spec) {}

    const MenuBarSpec& spec() const { return spec_; }
    void setSpec(MenuBarSpec spec) { spec_ = spec; }

    // Right to left: the first is the rightmost.
    const std::vector<StatusItemID>& order() const { return order_; }
    // A new item enters at the left end.
    void insertAtLeftEnd(StatusItemID id) { order_.push_back(id); }
    void remove(StatusItemID id);
    // Puts `id` just left of `target`. False when either is not in the bar.
    bool moveLeftOf(StatusItemID id, StatusItemID target);
    // Puts `id` back at `index` of the order (clamped).
    void placeAt(StatusItemID id, std::size_t index);
    std::optional<std::size_t> indexOf(StatusItemID id) const;

    // The bar's height on a screen: the strip above its visible frame, at least 24 points.
    static double height(const ScreenSpec& primary);
    double leftLimit(const ScreenSpec& primary) const;
    // One slot per item of the order, for items of the given widths (same order). Items that do
    // not fit are off the bar: placed at negative x, right to left from 0.
    std::vector<Slot> layout(const std::optional<ScreenSpec>& primary, const std::vector<double>& widths) const;

private:
    MenuBarSpec spec_;
    std::vector<StatusItemID> order_;
};

}  // namespace sim
