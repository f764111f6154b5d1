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
    // Room a Mac keeps free right of the camera housing: an item whose centre lies within it is
    // not drawn beside the housing but goes under it, with every item further left.
    double housingMargin = 20;
    friend bool operator==(const MenuBarSpec&, const MenuBarSpec&) = default;
};

// The one right-to-left order of every status item and its layout on the primary screen's bar.
// The camera housing stays where it is: an item under it is on the bar but cannot be seen.
class MenuBar {
public:
    struct Slot {
        cg::Rect frame;
        bool onBar = false;
        // Beside the housing (or on a bar without one): drawn where a person sees it.
        bool shown = false;
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
    // The camera housing's part of the bar (window-server space, relative to the screen's left
    // edge): between the two auxiliary top areas, or 220 points centred on a screen that reports
    // a top inset without them. None without a top inset.
    static std::optional<cg::Rect> housing(const ScreenSpec& primary);
    // One slot per item of the order, for items of the given widths (same order). Right to left:
    // items beside the housing are shown; from the first that does not fit there (its centre
    // within the housing's margin, or its left edge under the housing) the rest go on from the
    // housing's right edge, under it, down to the left limit; items that do not fit at all are
    // off the bar: placed at negative x, right to left from 0.
    std::vector<Slot> layout(const std::optional<ScreenSpec>& primary, const std::vector<double>& widths) const;
    // Layouts computed, for tests that count them.
    std::size_t layoutCount() const { return layouts_; }

private:
    MenuBarSpec spec_;
    std::vector<StatusItemID> order_;
    mutable std::size_t layouts_ = 0;
};

}  // namespace sim
