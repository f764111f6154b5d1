#pragma once

#include "Interaction/ItemEventError.hpp"
#include "Interaction/TransientTap.hpp"
#include "Models/MenuBarItem.hpp"
#include "System/WindowListBridge.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/os/Logger.hpp"
#include "stashbay/runtime/Task.hpp"
#include "stashbay/runtime/Time.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace stashbay {

// The synthetic-event engine: clicks and moves other applications' status items with mouse
// events whose delivery it confirms through short-lived event taps. One instance, on the main
// executor; it keeps no state between calls and serialises nothing.
class MenuBarController {
public:
    static MenuBarController& shared();
    MenuBarController(const MenuBarController&) = delete;
    MenuBarController& operator=(const MenuBarController&) = delete;

    // The event field that carries the number of the window an event is aimed at; the platform
    // has no named constant for it.
    static constexpr auto windowIDField = static_cast<cg::EventField>(51);

    const os::Logger& logger() const { return logger_; }

    // Clicks the item's status window at its centre, both events confirmed, the pointer put back.
    // True when both were confirmed; false without a window number or frame, or on an error.
    runtime::Task<bool> clickItem(MenuBarItem item, cg::MouseButton mouseButton = cg::MouseButton::left);
    // Clicks an item that is not visible by first moving it into a free gap of the visible bar;
    // once moved, it is moved back after its menu has closed. True when the item was clicked.
    runtime::Task<bool> tempShowAndClick(MenuBarItem item, cg::MouseButton mouseButton = cg::MouseButton::left);

    // --- Delivery (internal; public for the engine's tests) ---

    // The entry of the menu-bar window list with this number, read afresh.
    std::optional<WindowListBridge::CGWindowEntry> windowEntry(std::uint32_t windowID) const;
    // Lets the user's own mouse, keyboard and system events through while posted events suppress
    // local input.
    static void permitAllEvents(const cg::EventSourceRef& source);
    // A mouse event aimed at one status window of one process, stamped with a tag unique for the
    // life of the process (field 42). Null when the platform cannot create it.
    static cg::EventRef makeItemEvent(cg::EventType type, cg::MouseButton button, cg::EventFlags flags,
                                      cg::Point location, std::uint32_t windowID, std::int32_t pid,
                                      const cg::EventSourceRef& source, bool isClick);
    // A fresh tag; never 0, never repeated.
    static std::int64_t nextEventTag();
    static void post(const cg::EventRef& event, TapPoint point);
    // Posts and waits until a listen-only tap at the same point has seen the event: throws
    // tapCreationFailed, or deliveryTimeout after 50 ms.
    runtime::Task<void> postAndConfirm(cg::EventRef event, TapPoint point);
    // Delivers the event into the process behind a sentinel: once the process's own stream
    // carries the sentinel, the event goes through the session and straight to the process.
    runtime::Task<void> relayEvent(cg::EventRef event, std::int32_t pid);

    // --- Moves (internal; public for the engine's tests) ---

    std::optional<cg::Rect> currentFrame(std::uint32_t windowID) const;
    std::vector<WindowListBridge::CGWindowEntry> onScreenStatusWindows() const;
    bool isMenuOpen(std::int32_t pid) const;
    runtime::Task<void> waitForFrameChange(std::uint32_t windowID, std::optional<cg::Rect> start,
                                           runtime::Duration timeout);
    runtime::Task<void> performMove(std::uint32_t windowID, std::int32_t pid, WindowListBridge::CGWindowEntry target);
    runtime::Task<void> wakeUpItem(std::uint32_t windowID, std::int32_t pid);
    runtime::Task<void> moveWithRetries(std::uint32_t windowID, std::int32_t pid,
                                        WindowListBridge::CGWindowEntry target);
    // Starts the move-back task and returns at once; the task is neither kept nor cancelled.
    void scheduleMoveBack(const MenuBarItem& item);

    // --- Clicks (internal; public for the engine's tests) ---

    runtime::Task<void> postClick(cg::Point location, std::uint32_t windowID, std::int32_t pid, cg::MouseButton button);
    std::optional<WindowListBridge::CGWindowEntry> findVisibleTarget(double itemWidth) const;

private:
    MenuBarController();
    runtime::Task<void> moveBack(MenuBarItem item);

    os::Logger logger_;
};

}  // namespace stashbay
