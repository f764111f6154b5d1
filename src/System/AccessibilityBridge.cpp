#include "System/AccessibilityBridge.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/Accessibility/Trust.hpp"
#include "macos/Accessibility/Value.hpp"
#include "macos/AppKit/Workspace.hpp"

#include <algorithm>
#include <typeinfo>

namespace stashbay {

namespace {

// Reads into `value`, which one caller reuses for many reads; null on any failure.
cf::Value* read(const ax::UIElementRef& element, std::string_view attribute, std::optional<cf::Value>& value) {
    if (ax::copyAttributeValue(element, attribute, value) != ax::Error::success || !value) return nullptr;
    return &*value;
}

// The object of type T a value carries. Both object types are final, so the type test is exact
// and spares a cast's search of the hierarchy.
template <class T>
const T* objectOf(const cf::Value& value) {
    const auto* object = value.asObject();
    if (!object || !*object) return nullptr;
    const auto& held = **object;
    if (typeid(held) != typeid(T)) return nullptr;
    return static_cast<const T*>(&held);
}

ax::UIElementRef elementOf(const cf::Value& value) {
    const auto* element = objectOf<ax::UIElement>(value);
    if (!element) return nullptr;
    return ax::UIElementRef(*value.asObject(), element);
}

template <class Geometry>
std::optional<Geometry> geometryOf(const cf::Value* value, ax::ValueType type) {
    const auto* axValue = value ? objectOf<ax::Value>(*value) : nullptr;
    Geometry out;
    if (!axValue || !ax::valueGetValue(*axValue, type, out)) return std::nullopt;
    return out;
}

std::optional<std::string> stringOf(cf::Value* value) {
    auto* text = value ? value->asString() : nullptr;
    if (!text) return std::nullopt;
    return std::move(*text);
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
    // The children are read where the answer holds them: only the kept items copy their element.
    std::optional<cf::Value> childrenValue;
    const auto* childrenRead = read(*extrasBar, "AXChildren", childrenValue);
    const auto* children = childrenRead ? childrenRead->asArray() : nullptr;
    if (!children || !std::all_of(children->begin(), children->end(),
                                  [](const cf::Value& member) { return objectOf<ax::UIElement>(member) != nullptr; }))
        return {};

    std::vector<AXMenuBarItem> items;
    items.reserve(children->size());
    // One value holds each read in turn.
    std::optional<cf::Value> value;
    for (const auto& member : *children) {
        auto child = elementOf(member);
        // An item without a place cannot be matched or acted on; nothing more is read from it.
        auto position = geometryOf<cg::Point>(read(child, "AXPosition", value), ax::ValueType::cgPoint);
        if (!position) continue;
        auto size = geometryOf<cg::Size>(read(child, "AXSize", value), ax::ValueType::cgSize);
        if (!size) continue;
        auto title = stringOf(read(child, "AXTitle", value));
        const auto* enabledValue = read(child, "AXEnabled", value);
        bool enabled = (enabledValue ? enabledValue->truthValue() : std::nullopt).value_or(true);
        auto subrole = stringOf(read(child, "AXSubrole", value));
        // Filled in place: a record moved into the list would copy its texts' bytes once more.
        auto& item = items.emplace_back();
        item.pid = pid;
        item.title = std::move(title);
        item.position = *position;
        item.size = *size;
        item.axElement = AXUIElementSendable{std::move(child)};
        item.isEnabled = enabled;
        item.subrole = std::move(subrole);
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
    std::optional<cf::Value> value;
    const auto* read = stashbay::read(element, attribute, value);
    auto e = read ? elementOf(*read) : nullptr;
    if (!e) return std::nullopt;
    return e;
}

std::optional<std::vector<ax::UIElementRef>> AccessibilityBridge::copyAttributeValues(const ax::UIElementRef& element,
                                                                                      std::string_view attribute) {
    std::optional<cf::Value> value;
    const auto* read = stashbay::read(element, attribute, value);
    const auto* array = read ? read->asArray() : nullptr;
    if (!array) return std::nullopt;
    std::vector<ax::UIElementRef> out;
    out.reserve(array->size());
    for (const auto& member : *array) {
        auto e = elementOf(member);
        if (!e) return std::nullopt;
        out.push_back(std::move(e));
    }
    return out;
}

std::optional<std::string> AccessibilityBridge::copyStringValue(const ax::UIElementRef& element,
                                                                std::string_view attribute) {
    std::optional<cf::Value> value;
    return stringOf(read(element, attribute, value));
}

std::optional<bool> AccessibilityBridge::copyBoolValue(const ax::UIElementRef& element, std::string_view attribute) {
    std::optional<cf::Value> value;
    const auto* read = stashbay::read(element, attribute, value);
    if (!read) return std::nullopt;
    return read->truthValue();
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
