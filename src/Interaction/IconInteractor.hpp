#pragma once

#include "Models/MenuBarItem.hpp"
#include "System/AccessibilityBridge.hpp"
#include "macos/Accessibility/UIElement.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/os/Logger.hpp"
#include "stashbay/runtime/Task.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace stashbay {

// Acts on another application's status item when the user activates its tile in the panel:
// Accessibility actions and clicks for a visible item, the activation chain for a hidden one, and
// the item's Accessibility menu for the panel's mirrored menus. One instance for the process, on
// the main executor; it keeps nothing between calls and does not serialise overlapping ones.
class IconInteractor {
public:
    static IconInteractor& shared();

    IconInteractor(const IconInteractor&) = delete;
    IconInteractor& operator=(const IconInteractor&) = delete;

    // Left and right activation. True for a visible item whatever happened; for a hidden item the
    // activation chain's result.
    runtime::Task<bool> clickItem(MenuBarItem item);
    runtime::Task<bool> rightClickItem(MenuBarItem item);

    // The entries of the item's live menu; none when no live element is found or it has no menu.
    std::optional<std::vector<AccessibilityBridge::AXMenuSnapshot>> menuSnapshot(const MenuBarItem& item) const;
    // Presses an entry's element as the snapshot captured it, without looking it up again.
    bool pressMenuItem(const ax::UIElementRef& element) const;

    std::optional<ax::UIElementRef> findCurrentAXElementForTesting(const MenuBarItem& item) const {
        return findCurrentAXElement(item);
    }

private:
    IconInteractor();

    runtime::Task<bool> activateHiddenItem(MenuBarItem item, cg::MouseButton button);
    bool axShowMenu(const MenuBarItem& item) const;
    bool axPress(const MenuBarItem& item) const;
    void syntheticClick(cg::Point point, cg::MouseButton button) const;
    static std::set<std::uint32_t> onScreenWindowIDs(std::int32_t pid);
    static bool newWindowAppeared(std::int32_t pid, const std::set<std::uint32_t>& before);

    // The item's element among the status items its application publishes now.
    std::optional<ax::UIElementRef> findCurrentAXElement(const MenuBarItem& item) const;

    const os::Logger& logger_;
};

}  // namespace stashbay
