#include "System/AccessibilityBridge.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/Accessibility/Trust.hpp"
#include "macos/Accessibility/Value.hpp"
#include "macos/AppKit/Workspace.hpp"

#include <algorithm>

namespace stashbay {

namespace {

std::optional<cf::Value> read(const ax::UIElementRef& element, std::string_view attribute) {
    std::optional<cf::Value> value;
    if (ax::copyAttributeValue(element, attribute, value) != ax::Error::success) return std::nullopt;
    return value;
}

}  // namespace

bool AccessibilityBridge::isAccessibilityGranted() { return ax::isProcessTrusted(); }

bool AccessibilityBridge::requestAccessibility(bool prompt) {
    cf::Dictionary options{{ax::trustedCheckOptionPrompt, cf::Value(prompt)}};
    return ax::isProcessTrustedWithOptions(options);
}

std::vector<AccessibilityBridge::AXMenuBarItem> AccessibilityBridge::menuBarItems(
    const ns::RunningApplication& application) {
    auto pid = application.processIdentifier();
    auto app = ax::createApplication(pid);
    auto extrasBar = copyAttributeValue(app, "AXExtrasMenuBar");
    if (!extrasBar) return {};
    auto children = copyAttributeValues(*extrasBar, "AXChildren");
    if (!children) return {};

    std::vector<AXMenuBarItem> items;
    items.reserve(children->size());
    for (const auto& child : *children) {
        // An item without a place cannot be matched or acted on; nothing more is read from it.
        auto position = copyPointValue(child, "AXPosition");
        if (!position) continue;
        auto size = copySizeValue(child, "AXSize");
        if (!size) continue;
        auto title = copyStringValue(child, "AXTitle");
        bool enabled = copyBoolValue(child, "AXEnabled").value_or(true);
        auto subrole = copyStringValue(child, "AXSubrole");
        items.push_back(AXMenuBarItem{.pid = pid,
                                      .title = std::move(title),
                                      .position = *position,
                                      .size = *size,
                                      .axElement = AXUIElementSendable{child},
                                      .isEnabled = enabled,
                                      .subrole = std::move(subrole)});
    }
    if (os::isLogLevelRead(os::LogLevel::debug)) {
        auto name = application.localizedName().value_or("unknown");
        log::accessibility().debug("Found %ld menu bar items for PID %d (%{public}s)", static_cast<long>(items.size()),
                                   pid, name);
    }
    return items;
}

std::vector<AccessibilityBridge::AXMenuBarItem> AccessibilityBridge::allMenuBarItems() {
    std::vector<AXMenuBarItem> all;
    for (const auto& application : ns::Workspace::shared().runningApplications()) {
        if (!application->isFinishedLaunching() || application->isTerminated()) continue;
        auto items = menuBarItems(*application);
        all.insert(all.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
    }
    std::sort(all.begin(), all.end(),
              [](const AXMenuBarItem& a, const AXMenuBarItem& b) { return a.position.x < b.position.x; });
    log::accessibility().info("Enumerated %ld total menu bar items across all apps.", static_cast<long>(all.size()));
    return all;
}

bool AccessibilityBridge::performPress(const ax::UIElementRef& element) {
    auto result = ax::performAction(element, "AXPress");
    if (result != ax::Error::success) log::accessibility().error("AXPress failed with error: %d", ax::code(result));
    return result == ax::Error::success;
}

bool AccessibilityBridge::performShowMenu(const ax::UIElementRef& element) {
    auto result = ax::performAction(element, "AXShowMenu");
    if (result != ax::Error::success) log::accessibility().error("AXShowMenu failed with error: %d", ax::code(result));
    return result == ax::Error::success;
}

std::optional<std::vector<AccessibilityBridge::AXMenuSnapshot>> AccessibilityBridge::menuSnapshot(
    const ax::UIElementRef& element) {
    auto menu = firstMenuChild(element);
    if (!menu) return std::nullopt;
    auto entries = copyAttributeValues(*menu, "AXChildren");
    if (!entries || entries->empty()) return std::nullopt;
    std::vector<AXMenuSnapshot> out;
    out.reserve(entries->size());
    for (const auto& entry : *entries) out.push_back(snapshot(entry, 0));
    return out;
}

std::optional<ax::UIElementRef> AccessibilityBridge::copyAttributeValue(const ax::UIElementRef& element,
                                                                        std::string_view attribute) {
    auto value = read(element, attribute);
    if (!value) return std::nullopt;
    auto e = value->as<ax::UIElement>();
    if (!e) return std::nullopt;
    return e;
}

std::optional<std::vector<ax::UIElementRef>> AccessibilityBridge::copyAttributeValues(const ax::UIElementRef& element,
                                                                                      std::string_view attribute) {
    auto value = read(element, attribute);
    if (!value) return std::nullopt;
    const auto* array = value->asArray();
    if (!array) return std::nullopt;
    std::vector<ax::UIElementRef> out;
    out.reserve(array->size());
    for (const auto& member : *array) {
        auto e = member.as<ax::UIElement>();
        if (!e) return std::nullopt;
        out.push_back(std::move(e));
    }
    return out;
}

std::optional<cg::Point> AccessibilityBridge::copyPointValue(const ax::UIElementRef& element,
                                                             std::string_view attribute) {
    auto value = read(element, attribute);
    if (!value) return std::nullopt;
    auto axValue = value->as<ax::Value>();
    cg::Point point;
    if (!axValue || !ax::valueGetValue(*axValue, ax::ValueType::cgPoint, point)) return std::nullopt;
    return point;
}

std::optional<cg::Size> AccessibilityBridge::copySizeValue(const ax::UIElementRef& element,
                                                           std::string_view attribute) {
    auto value = read(element, attribute);
    if (!value) return std::nullopt;
    auto axValue = value->as<ax::Value>();
    cg::Size size;
    if (!axValue || !ax::valueGetValue(*axValue, ax::ValueType::cgSize, size)) return std::nullopt;
    return size;
}

std::optional<std::string> AccessibilityBridge::copyStringValue(const ax::UIElementRef& element,
                                                                std::string_view attribute) {
    auto value = read(element, attribute);
    if (!value) return std::nullopt;
    auto* text = value->asString();
    if (!text) return std::nullopt;
    return std::move(*text);
}

std::optional<bool> AccessibilityBridge::copyBoolValue(const ax::UIElementRef& element, std::string_view attribute) {
    auto value = read(element, attribute);
    if (!value) return std::nullopt;
    return value->truthValue();
}

std::optional<ax::UIElementRef> AccessibilityBridge::firstMenuChild(const ax::UIElementRef& element) {
    auto children = copyAttributeValues(element, "AXChildren");
    if (!children) return std::nullopt;
    for (const auto& child : *children) {
        if (copyStringValue(child, "AXRole") == "AXMenu") return child;
    }
    return std::nullopt;
}

AccessibilityBridge::AXMenuSnapshot AccessibilityBridge::snapshot(const ax::UIElementRef& menuItem, int depth) {
    auto title = copyStringValue(menuItem, "AXTitle");
    auto subrole = copyStringValue(menuItem, "AXSubrole");
    bool enabled = copyBoolValue(menuItem, "AXEnabled").value_or(true);
    auto markChar = copyStringValue(menuItem, "AXMenuItemMarkChar");
    bool separator = subrole == "AXSeparatorMenuItem" || !title || title->empty();

    std::vector<AXMenuSnapshot> children;
    // Only the top level reads its submenus, so a snapshot is never more than two levels deep.
    if (depth < 1) {
        if (auto submenu = firstMenuChild(menuItem)) {
            if (auto entries = copyAttributeValues(*submenu, "AXChildren")) {
                children.reserve(entries->size());
                for (const auto& entry : *entries) children.push_back(snapshot(entry, depth + 1));
            }
        }
    }
    return AXMenuSnapshot{.title = title.value_or(std::string()),
                          .isEnabled = enabled,
                          .isSeparator = separator,
                          .markChar = std::move(markChar),
                          .children = std::move(children),
                          .element = AXUIElementSendable{menuItem}};
}

}  // namespace stashbay
