#pragma once

#include "macos/CoreFoundation/MachPort.hpp"
#include "macos/CoreFoundation/RunLoop.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/CoreGraphics/EventTap.hpp"
#include "macos/sim/StatusItem.hpp"
#include "stashbay/runtime/Time.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace sim {

class World;

// Where a tap listens: a point of the window server's stream, or one process's stream.
struct TapPoint {
    enum class Kind { location, process };
    Kind kind = Kind::location;
    cg::EventTapLocation location = cg::EventTapLocation::hid;
    ProcessID pid = 0;

    static TapPoint at(cg::EventTapLocation l) { return {Kind::location, l, 0}; }
    static TapPoint process(ProcessID p) { return {Kind::process, cg::EventTapLocation::hid, p}; }
    friend bool operator==(const TapPoint&, const TapPoint&) = default;
};

// How an event came in: the user's own hardware, posted at one of the three points, or posted
// to a process.
enum class EventEntry { user, hid, session, annotatedSession, process };

// What became of one routed event, for tests.
struct EventRoute {
    enum class Outcome {
        // It reached the process's queue.
        delivered,
        // An active tap dropped it.
        dropped,
        // The user's own input, held back after events were posted: it never entered the stream.
        suppressed,
        // No running process was under it or named by it.
        noTarget,
    };
    // One per post or injection; an event posted twice has two.
    std::uint64_t serial = 0;
    EventEntry entry = EventEntry::hid;
    Outcome outcome = Outcome::delivered;
    // The receiving process (delivered), the one it was meant for (noTarget, 0 when none).
    ProcessID pid = 0;
    // The event as it was at the end of its route (a copy).
    cg::EventRef event;
    // The port id of the tap that dropped it.
    std::uint64_t droppedBy = 0;
};

// An event an application took out of its queue and acted on.
struct HandledEvent {
    ProcessID pid = 0;
    std::uint64_t serial = 0;
    cg::EventRef event;
};

// The window server's event routing, the taps on it, the pointer and the cursor, and how
// applications act on the events they receive. Owned by the World; the CoreGraphics,
// CoreFoundation and AppKit stand-ins answer from it.
//
// Routing runs as one job on the main loop per event: HID taps, session taps, annotated-session
// taps (from the point the event entered), then the target process's taps, then the process's
// queue. The target is field 40; for a keyboard event, else the frontmost application; for
// other events, else the owner of the window in field 51, else 91, else the process that took
// the mouse-down of a drag in progress, else the owner of the frontmost window under the
// location. An event posted to a process meets that process's taps only when the process takes
// it from its queue (never, while it hangs), and is counted delivered then. Posting needs the
// poster's Accessibility trust (checked by the CoreGraphics calls). Taps see copies and may post,
// create, enable, disable and invalidate taps from their callbacks; what they post is routed in
// a later job.
class EventSystem {
public:
    explicit EventSystem(World& world);
    ~EventSystem();
    EventSystem(const EventSystem&) = delete;
    EventSystem& operator=(const EventSystem&) = delete;

    // The pointer, in window-server space; it starts at the middle of the primary screen and
    // stays on the screens.
    cg::Point pointerLocation() const;
    void warpPointer(cg::Point location);
    void setMouseAssociated(bool associated);
    bool mouseAssociated() const { return associated_; }
    // Hides and unhides nest; an unhide without a hide does nothing.
    void hideCursor();
    void unhideCursor();
    int cursorHideCount() const { return hideCount_; }
    bool cursorVisible() const { return hideCount_ == 0; }

    // Whether a mouse button is down, as the events that entered the window server left it (the
    // user's and those posted at the three points; not those posted to one process).
    bool isButtonDown(cg::MouseButton button) const { return buttonsDown_.count(button) > 0; }

    // A Command-drag of a status item in progress, read-only: the item whose application took the
    // Command-press of it (Stashbay's own included), where the press was, the pointer now, and the
    // other item under the pointer, which a release there would move it next to. The system draws
    // the dragged item at the pointer; the application moves it only at the release.
    struct ItemDrag {
        StatusItemID item = 0;
        cg::Point pressedAt;
        cg::Point pointer;
        std::optional<StatusItemID> over;
    };
    // None while no such press is held (the left button went up, or the item is gone).
    std::optional<ItemDrag> itemDrag() const;

    // Posting, as the CoreGraphics calls do: the event is copied now and routed later.
    void post(cg::EventTapLocation location, const cg::EventRef& event);
    void postToProcess(ProcessID pid, const cg::EventRef& event);

    // The user's own input, entering at the HID point. A mouse event moves the pointer when mouse
    // and cursor are associated; otherwise it happens where the pointer stays.
    void injectUser(const cg::EventRef& event);
    void injectUserMouse(cg::EventType type, cg::Point location, cg::EventFlags flags = 0);
    // The user's keyboard: a key-down, key-up or flags change of a virtual key code (a physical
    // key position), with modifier flags and whether the key is repeating by itself.
    void injectUserKey(cg::EventType type, std::uint16_t keyCode, cg::EventFlags flags = 0, bool autorepeat = false);

    // An application that takes its events out of its queue itself (Stashbay's own AppKit) instead
    // of acting as the world's simulated applications do. An empty handler removes it.
    using ApplicationHandler = std::function<void(const cg::EventRef&)>;
    void setApplicationHandler(ProcessID pid, ApplicationHandler handler);
    // Told of every event delivered to a process's queue, after the delivery (what the platform's
    // global event monitors are fed from), and with process 0 of a mouse-down or move that no
    // window took (the wallpaper's). An empty observer removes it.
    using DeliveryObserver = std::function<void(ProcessID, const cg::EventRef&)>;
    void setDeliveryObserver(DeliveryObserver observer) { deliveryObserver_ = std::move(observer); }

    // Taps. Creation is refused (null) without accessibility trust, by the fault switch, or for a
    // null callback.
    cf::MachPortRef createTap(TapPoint point, cg::EventTapPlacement placement, cg::EventTapOptions options,
                              cg::EventMask mask, cg::EventTapCallBack callback, void* userInfo);
    void setTapEnabled(const cf::MachPort& port, bool enabled);
    bool isTapEnabled(const cf::MachPort& port) const;
    // Taps whose port is alive and valid.
    std::size_t liveTapCount() const;
    // The system switches the tap off and tells its callback, in a later job, with
    // cg::EventType::tapDisabledByTimeout or tapDisabledByUserInput. False for a port that is not
    // a live tap.
    bool disableTap(const cf::MachPortRef& port, cg::EventType reason);
    // disableTap for every live, enabled tap at `point`; returns how many it switched off.
    std::size_t disableTaps(TapPoint point, cg::EventType reason);
    // A callback that takes longer than this (in virtual time) gets its tap switched off by
    // time-out. One second by default.
    void setTapTimeout(runtime::Duration timeout) { tapTimeout_ = timeout; }
    // Whether input entering at the HID point is held back now: an enabled active HID tap lost its
    // process's Accessibility trust. The event waits there for the tap time-out; then the system
    // switches the tap off (tapDisabledByTimeout) and the event, with all that queued behind it,
    // goes on in order.
    bool holdingInput() const { return holdingInput_; }

    const cf::RunLoopRef& mainRunLoop() const { return mainRunLoop_; }

    // Every event source made, in order.
    void recordSource(const cg::EventSourceRef& source) { sources_.push_back(source); }
    const std::vector<cg::EventSourceRef>& sources() const { return sources_; }

    const std::vector<EventRoute>& routes() const { return routes_; }
    // Forgets the routes, handled events and sources recorded so far, so that a long run's
    // journal does not grow without end.
    void clearHistory() {
        routes_.clear();
        handled_.clear();
        sources_.clear();
    }
    std::vector<EventRoute> deliveries(std::optional<ProcessID> pid = std::nullopt) const;
    const std::vector<HandledEvent>& handled() const { return handled_; }
    // Delivered to the process but not yet taken out of its queue (a hung application's).
    std::vector<cg::EventRef> pendingEvents(ProcessID pid) const;

private:
    struct Tap {
        std::weak_ptr<cf::MachPort> port;
        TapPoint point;
        bool listenOnly = false;
        cg::EventMask mask = 0;
        cg::EventTapCallBack callback = nullptr;
        void* userInfo = nullptr;
        bool enabled = true;
    };
    struct Queued {
        std::uint64_t serial;
        EventEntry entry;
        cg::EventRef event;
        // Posted to the process: its taps run when the process takes it from the queue.
        bool tapsPending = false;
    };
    struct PendingPress {
        StatusItemID item;
        bool right;
        bool command;
    };
    struct Application {
        std::deque<Queued> queue;
        bool drainScheduled = false;
        std::optional<PendingPress> press;
    };
    using TapKey = std::pair<int, std::int64_t>;

    static TapKey keyOf(const TapPoint& point);
    void enqueue(EventEntry entry, ProcessID pid, cg::EventRef event);
    void route(std::uint64_t serial, EventEntry entry, ProcessID pid, cg::EventRef event);
    // False when an active tap dropped the event.
    bool runTaps(const TapPoint& point, cg::EventRef& event, std::uint64_t serial, EventEntry entry);
    void notifyDisabled(std::uint64_t tapId, cg::EventType reason);
    // The HID taps that would stall this event: active, enabled, interested, and untrusted.
    std::vector<std::uint64_t> stallingTaps(const cg::Event& event);
    void releaseHeldInput(const std::vector<std::uint64_t>& stalling);
    Tap* liveTap(std::uint64_t id);
    const Tap* liveTap(std::uint64_t id) const;
    void purgeTaps();
    std::optional<ProcessID> targetOf(const cg::Event& event);
    std::optional<WindowNumber> windowOf(const cg::Event& event) const;
    void noteSourcePost(const cg::Event& event);
    void noteButton(cg::EventType type);
    // A Command-press of its own status item that an application takes starts the item's drag;
    // a release it takes ends it.
    void noteItemDrag(ProcessID pid, const cg::Event& event);
    // The window an event names, else the frontmost one under it.
    std::optional<WindowNumber> windowUnder(const cg::Event& event) const;
    bool userInputSuppressed(const cg::Event& event) const;
    cg::Point clampToScreens(cg::Point p) const;
    void deliver(std::uint64_t serial, EventEntry entry, ProcessID pid, cg::EventRef event, bool tapsPending = false);
    void drain(ProcessID pid);
    void handle(ProcessID pid, const Queued& queued);
    void record(std::uint64_t serial, EventEntry entry, EventRoute::Outcome outcome, ProcessID pid,
                const cg::EventRef& event, std::uint64_t droppedBy = 0);

    World& world_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    cf::RunLoopRef mainRunLoop_ = std::make_shared<cf::RunLoop>();

    std::map<std::uint64_t, Tap> taps_;
    std::map<TapKey, std::vector<std::uint64_t>> order_;
    runtime::Duration tapTimeout_ = std::chrono::seconds(1);
    struct HeldEvent {
        std::uint64_t serial;
        EventEntry entry;
        cg::EventRef event;
    };
    bool holdingInput_ = false;
    std::deque<HeldEvent> heldInput_;

    mutable std::optional<cg::Point> pointer_;
    bool associated_ = true;
    std::optional<runtime::Instant> warpFreezeUntil_;
    int hideCount_ = 0;

    std::vector<cg::EventSourceRef> sources_;
    std::optional<runtime::Instant> suppressedUntil_;
    cg::EventFilterMask intervalFilter_ = cg::eventFilterMaskPermitAllEvents;
    std::optional<cg::EventFilterMask> remoteDragFilter_;

    std::optional<ProcessID> mouseGrab_;
    std::set<cg::MouseButton> buttonsDown_;
    struct DraggedItem {
        StatusItemID item;
        cg::Point pressedAt;
    };
    std::optional<DraggedItem> draggedItem_;
    std::map<ProcessID, Application> applications_;
    std::map<ProcessID, ApplicationHandler> handlers_;
    DeliveryObserver deliveryObserver_;
    std::uint64_t nextSerial_ = 0;
    std::vector<EventRoute> routes_;
    std::vector<HandledEvent> handled_;
};

}  // namespace sim
