#pragma once

#include "macos/Accessibility/Error.hpp"
#include "macos/CoreFoundation/Value.hpp"
#include "macos/sim/StatusItem.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ax {

// One element of an application's accessibility tree. It is a value naming a place in the
// tree (the application, its extras menu bar, one of its status items, that item's menu or a
// menu entry) and is answered from the world at each call, so an element outlives what it names
// and then reads as invalid. Safe to hand between executors; the calls may run on any of them.
class UIElement final : public cf::Object {
public:
    enum class Kind { application, extrasMenuBar, statusItem, menu, menuItem };

    // `path` holds the entry indices from the item's top menu: empty for the top menu itself;
    // for an entry, its index in each menu down to it; for a submenu, its entry's path.
    UIElement(Kind kind, std::int32_t pid, sim::StatusItemID item = 0, std::vector<std::size_t> path = {})
        : kind_(kind), pid_(pid), item_(item), path_(std::move(path)) {}

    const char* typeName() const override { return "AXUIElement"; }

    Kind kind() const { return kind_; }
    std::int32_t pid() const { return pid_; }
    sim::StatusItemID statusItem() const { return item_; }
    const std::vector<std::size_t>& path() const { return path_; }

    // The same place of the same tree, as the platform's equality of elements has it.
    friend bool operator==(const UIElement& a, const UIElement& b) {
        return a.kind_ == b.kind_ && a.pid_ == b.pid_ && a.item_ == b.item_ && a.path_ == b.path_;
    }

private:
    Kind kind_;
    std::int32_t pid_;
    sim::StatusItemID item_;
    std::vector<std::size_t> path_;
};

using UIElementRef = std::shared_ptr<const UIElement>;

// The element of the application with that process id. Made for any pid; its calls fail with
// invalidUIElement while no such application runs.
UIElementRef createApplication(std::int32_t pid);

// Reads one attribute. On success `value` holds it: an element list as an array of element
// objects, a point or size as an AXValue object. On failure `value` is empty. Each call into a
// running application takes its scripted virtual time; a hung one answers cannotComplete after
// the messaging timeout. Without accessibility trust every call fails with apiDisabled.
Error copyAttributeValue(const UIElementRef& element, std::string_view attribute, std::optional<cf::Value>& value);

// Performs an action ("AXPress", "AXShowMenu") with the same rules for trust, time and hangs.
Error performAction(const UIElementRef& element, std::string_view action);

// The process id the element belongs to; answered locally, without a call into the application.
Error getPid(const UIElementRef& element, std::int32_t& pid);

}  // namespace ax
