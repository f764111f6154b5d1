#pragma once

#include "Models/MenuBarItem.hpp"
#include "System/EventTapBridge.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/os/Logger.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Task.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace stashbay {

// The drag tracker: watches the left mouse button system-wide through an event tap at the HID
// point and recognises a press on a detected status item in the menu-bar strip that turns into
// a drag. It reports the drag's start, every movement and the drop through three awaited
// callbacks, and it only observes: no event is altered, swallowed or posted.
//
// An actor: its fields live on its own serial executor and every operation is asynchronous.
// Owned by one std::shared_ptr; the event-processing task holds it weakly.
class EventTapManager : public std::enable_shared_from_this<EventTapManager> {
public:
    // Callbacks run off the tracker's executor and are awaited before the next event is handled;
    // they may call back into the tracker meanwhile. Never make them capturing coroutine lambdas:
    // let a plain lambda call a coroutine function with its captures as arguments.
    using DragStartedCallback = std::function<runtime::Task<void>(MenuBarItem)>;
    using DragMovedCallback = std::function<runtime::Task<void>(cg::Point)>;
    using DragEndedCallback = std::function<runtime::Task<void>(MenuBarItem, cg::Point)>;

    struct Tracking {
        cg::Point startPoint;
        MenuBarItem item;
    };
    struct Dragging {
        MenuBarItem item;
        cg::Point currentPoint;
    };
    struct Dropped {
        MenuBarItem item;
        cg::Point dropPoint;
    };
    struct Idle {};
    using DragState = std::variant<Tracking, Dragging, Dropped, Idle>;

    static constexpr double dragThreshold = 3.0;
    static constexpr double menuBarHeight = 39.0;
    // Left mouse down (1), up (2) and dragged (6).
    static constexpr cg::EventMask eventsOfInterest = cg::eventMaskBit(cg::EventType::leftMouseDown) |
                                                      cg::eventMaskBit(cg::EventType::leftMouseUp) |
                                                      cg::eventMaskBit(cg::EventType::leftMouseDragged);

    static std::shared_ptr<EventTapManager> create();
    EventTapManager(const EventTapManager&) = delete;
    EventTapManager& operator=(const EventTapManager&) = delete;

    runtime::Task<void> setOnDragStarted(DragStartedCallback callback);
    runtime::Task<void> setOnDragMoved(DragMovedCallback callback);
    runtime::Task<void> setOnDragEnded(DragEndedCallback callback);
    // Installs the tap and starts processing its events; logs and does nothing when installed
    // already, and logs and stays uninstalled when the tap cannot be made.
    runtime::Task<void> install();
    // Stops processing, removes the tap and forgets any press; safe at any time.
    runtime::Task<void> uninstall();
    runtime::Task<void> updateMenuBarItems(std::vector<MenuBarItem> items);
    // The index of the first item whose horizontal middle lies strictly left of `x`; the list's
    // length when none does.
    runtime::Task<std::int64_t> computeInsertionIndex(double x, std::vector<MenuBarItem> items);
    // The rule itself, for callers that need no hop.
    static std::int64_t insertionIndex(double x, const std::vector<MenuBarItem>& items);

    // Read-only views of the state.
    runtime::Task<DragState> dragState();
    runtime::Task<bool> isInstalled();
    // Installed and not switched off by the system.
    runtime::Task<bool> isTapEnabled();

private:
    EventTapManager();

    static runtime::Task<void> processEvents(EventTapBridge::EventStream stream, std::weak_ptr<EventTapManager> weak);
    runtime::Task<void> processEvent(cg::EventRef event);
    void handleMouseDown(cg::Point p);
    runtime::Task<void> handleMouseDragged(cg::Point p);
    runtime::Task<void> handleMouseUp(cg::Point p);
    std::optional<MenuBarItem> hitTest(cg::Point p) const;
    bool isInMenuBarRegion(cg::Point p) const;

    runtime::SerialExecutor executor_{"EventTapManager"};
    std::optional<EventTapBridge::TapHandle> tapHandle_;
    runtime::TaskHandle<void> processTask_;
    DragState dragState_ = Idle{};
    const os::Logger& logger_;
    std::vector<MenuBarItem> menuBarItems_;
    DragStartedCallback onDragStarted_;
    DragMovedCallback onDragMoved_;
    DragEndedCallback onDragEnded_;
};

}  // namespace stashbay
