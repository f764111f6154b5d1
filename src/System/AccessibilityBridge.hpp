#pragma once

#include "macos/Accessibility/UIElement.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/CoreGraphics/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stashbay {

// Stateless operations over the accessibility interface: trust, the status items an application
// puts into the menu bar, pressing them or opening their menus, and reading those menus. Every
// operation may run on any executor except allMenuBarItems(), which reads the workspace.
class AccessibilityBridge {
public:
    AccessibilityBridge() = delete;

    // An element that may cross executors with the records that carry it; the element itself is
    // shared, not copied.
    struct AXUIElementSendable {
        ax::UIElementRef element;
    };

    // One status item as the accessibility interface reports it. Window-server space.
    struct AXMenuBarItem {
        std::int32_t pid = 0;
        std::optional<std::string> title;
        cg::Point position;
        cg::Size size;
        AXUIElementSendable axElement;
        bool isEnabled = true;
        std::optional<std::string> subrole;

        cg::Rect bounds() const { return cg::Rect{position, size}; }
    };

    // One entry of a status item's menu; only top-level entries carry their submenu's entries.
    struct AXMenuSnapshot {
        std::string title;
        bool isEnabled = true;
        bool isSeparator = false;
        std::optional<std::string> markChar;
        std::vector<AXMenuSnapshot> children;
        AXUIElementSendable element;
    };

    static bool isAccessibilityGranted();
    // Whether the process is trusted now; with `prompt` the system asks the user when it is not,
    // without waiting for the answer.
    static bool requestAccessibility(bool prompt);

    // The application's status items in the order its tree lists them; empty on any failure.
    static std::vector<AXMenuBarItem> menuBarItems(const ns::RunningApplication& application);
    // The items of every running application that has finished launching, by x ascending.
    // Main executor only.
    static std::vector<AXMenuBarItem> allMenuBarItems();

    static bool performPress(const ax::UIElementRef& element);
    static bool performShowMenu(const ax::UIElementRef& element);

    // The entries of a status item's menu, two levels deep; none when it has no menu or the menu
    // has no entries.
    static std::optional<std::vector<AXMenuSnapshot>> menuSnapshot(const ax::UIElementRef& element);

private:
    // The only readers of attributes: any failure or a missing value reads as absent.
    static std::optional<ax::UIElementRef> copyAttributeValue(const ax::UIElementRef& element,
                                                              std::string_view attribute);
    static std::optional<std::vector<ax::UIElementRef>> copyAttributeValues(const ax::UIElementRef& element,
                                                                            std::string_view attribute);
    static std::optional<std::string> copyStringValue(const ax::UIElementRef& element, std::string_view attribute);
    static std::optional<bool> copyBoolValue(const ax::UIElementRef& element, std::string_view attribute);

    static std::optional<ax::UIElementRef> firstMenuChild(const ax::UIElementRef& element);
    static AXMenuSnapshot snapshot(const ax::UIElementRef& menuItem, int depth);
};

}  // namespace stashbay
