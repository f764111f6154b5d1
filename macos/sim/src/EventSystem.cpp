#include "macos/sim/EventSystem.hpp"

#include "macos/sim/World.hpp"
#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sim {

namespace {

std::uint16_t keyCodeOf(const cg::Event& event) {
    return static_cast<std::uint16_t>(event.integerValue(cg::EventField::keyboardEventKeycode));
}

bool isMenuKey(const cg::Event& event) { return World::isMenuKey(keyCodeOf(event)); }

bool isMenuWindow(const World& world, WindowNumber window) {
    for (const auto& level : world.openMenuLevels())
        if (level.window == window) return true;
    return false;
}

bool isMenuWindowAt(const World& world, cg::Point location) {
    const auto* hit = world.windowServer().hitTest(location);
    return hit && isMenuWindow(world, hit->number);
}

runtime::Instant now() { return runtime::EventLoop::current().clock().now(); }

// The stages an event passes through from the point where it entered.
std::vector<cg::EventTapLocation> stagesFrom(EventEntry entry) {
    using L = cg::EventTapLocation;
    switch (entry) {
        case EventEntry::user:
        case EventEntry::hid: return {L::hid, L::session, L::annotatedSession};
        case EventEntry::session: return {L::session, L::annotatedSession};
        case EventEntry::annotatedSession: return {L::annotatedSession};
        case EventEntry::process: return {};
    }
    return {};
}

bool isButtonUp(cg::EventType t) {
    using T = cg::EventType;
    return t == T::leftMouseUp || t == T::rightMouseUp || t == T::otherMouseUp;
}

bool isDragOrUp(cg::EventType t) {
    using T = cg::EventType;
    return isButtonUp(t) || t == T::leftMouseDragged || t == T::rightMouseDragged || t == T::otherMouseDragged;
}

// The class of local input a suppression filter permits or holds back.
cg::EventFilterMask filterClassOf(cg::EventType t) {
    using T = cg::EventType;
    if (cg::isMouseEventType(t) || t == T::scrollWheel) return cg::eventFilterMaskPermitLocalMouseEvents;
    if (t == T::keyDown || t == T::keyUp || t == T::flagsChanged) return cg::eventFilterMaskPermitLocalKeyboardEvents;
    return cg::eventFilterMaskPermitSystemDefinedEvents;
}

// A screen's frame in window-server space: origin at the top left of the primary screen, y down.
std::vector<cg::Rect> screenBounds(const ScreenSet& screens) {
    std::vector<cg::Rect> out;
    if (screens.empty()) return out;
    double primaryHeight = screens.primary()->spec().frame.height();
    for (const auto& s : screens.screens()) {
        const auto& f = s->spec().frame;
        out.emplace_back(f.origin.x, primaryHeight - f.maxY(), f.width(), f.height());
    }
    return out;
}

}  // namespace

EventSystem::EventSystem(World& world) : world_(world) {}

EventSystem::~EventSystem() = default;

// Pointer and cursor

cg::Point EventSystem::pointerLocation() const {
    if (!pointer_) {
        auto bounds = screenBounds(world_.screens());
        pointer_ = bounds.empty() ? cg::Point{} : cg::Point{bounds.front().midX(), bounds.front().midY()};
    }
    return *pointer_;
}

cg::Point EventSystem::clampToScreens(cg::Point p) const {
    auto bounds = screenBounds(world_.screens());
    if (bounds.empty()) return p;
    std::optional<cg::Point> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const auto& r : bounds) {
        if (r.contains(p)) return p;
        // The last point inside a screen is one short of its far edges.
        cg::Point c{std::clamp(p.x, r.minX(), std::max(r.minX(), r.maxX() - 1)),
                    std::clamp(p.y, r.minY(), std::max(r.minY(), r.maxY() - 1))};
        double d = std::hypot(c.x - p.x, c.y - p.y);
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    return best.value_or(p);
}

void EventSystem::warpPointer(cg::Point location) {
    pointer_ = clampToScreens(location);
    warpFreezeUntil_ = now() + std::chrono::milliseconds(250);
}

void EventSystem::setMouseAssociated(bool associated) {
    associated_ = associated;
    if (associated) warpFreezeUntil_.reset();
}

void EventSystem::hideCursor() { ++hideCount_; }

void EventSystem::unhideCursor() {
    if (hideCount_ > 0) --hideCount_;
}

// Posting and injection

void EventSystem::post(cg::EventTapLocation location, const cg::EventRef& event) {
    if (!event) return;
    EventEntry entry = EventEntry::hid;
    if (location == cg::EventTapLocation::session) entry = EventEntry::session;
    if (location == cg::EventTapLocation::annotatedSession) entry = EventEntry::annotatedSession;
    enqueue(entry, 0, event->copy());
}

void EventSystem::postToProcess(ProcessID pid, const cg::EventRef& event) {
    if (!event) return;
    enqueue(EventEntry::process, pid, event->copy());
}

void EventSystem::injectUser(const cg::EventRef& event) {
    if (!event) return;
    enqueue(EventEntry::user, 0, event->copy());
}

void EventSystem::injectUserMouse(cg::EventType type, cg::Point location, cg::EventFlags flags) {
    auto event = std::make_shared<cg::Event>(type, location, nullptr);
    event->setFlags(flags);
    enqueue(EventEntry::user, 0, std::move(event));
}

void EventSystem::injectUserKey(cg::EventType type, std::uint16_t keyCode, cg::EventFlags flags, bool autorepeat) {
    auto event = std::make_shared<cg::Event>(type, pointerLocation(), nullptr);
    event->setFlags(flags);
    event->setIntegerValue(cg::EventField::keyboardEventKeycode, keyCode);
    event->setIntegerValue(cg::EventField::keyboardEventAutorepeat, autorepeat ? 1 : 0);
    enqueue(EventEntry::user, 0, std::move(event));
}

void EventSystem::setApplicationHandler(ProcessID pid, ApplicationHandler handler) {
    if (handler)
        handlers_[pid] = std::move(handler);
    else
        handlers_.erase(pid);
}

void EventSystem::enqueue(EventEntry entry, ProcessID pid, cg::EventRef event) {
    auto serial = ++nextSerial_;
    runtime::mainExecutor().enqueue(
        nullptr, [alive = std::weak_ptr<int>(alive_), this, serial, entry, pid, event = std::move(event)] {
            if (alive.expired()) return;
            route(serial, entry, pid, event);
        });
}

// Routing

void EventSystem::noteButton(cg::EventType type) {
    using T = cg::EventType;
    using B = cg::MouseButton;
    switch (type) {
        case T::leftMouseDown: buttonsDown_.insert(B::left); break;
        case T::leftMouseUp: buttonsDown_.erase(B::left); break;
        case T::rightMouseDown: buttonsDown_.insert(B::right); break;
        case T::rightMouseUp: buttonsDown_.erase(B::right); break;
        case T::otherMouseDown: buttonsDown_.insert(B::center); break;
        case T::otherMouseUp: buttonsDown_.erase(B::center); break;
        default: break;
    }
}

void EventSystem::route(std::uint64_t serial, EventEntry entry, ProcessID pid, cg::EventRef event) {
    purgeTaps();
    if (entry == EventEntry::user || entry == EventEntry::hid) {
        // The HID stream is one queue: what comes in behind a held event waits behind it.
        if (holdingInput_) {
            heldInput_.push_back(HeldEvent{serial, entry, std::move(event)});
            return;
        }
        if (auto stalling = stallingTaps(*event); !stalling.empty()) {
            holdingInput_ = true;
            heldInput_.push_back(HeldEvent{serial, entry, std::move(event)});
            world_.schedule(tapTimeout_, [alive = std::weak_ptr<int>(alive_), this, stalling] {
                if (!alive.expired()) releaseHeldInput(stalling);
            });
            return;
        }
    }
    const auto type = event->type();
    if (entry == EventEntry::user) {
        if (userInputSuppressed(*event)) {
            record(serial, entry, EventRoute::Outcome::suppressed, 0, event);
            return;
        }
        if (cg::isMouseEventType(type)) {
            bool follows = associated_ && (!warpFreezeUntil_ || now() >= *warpFreezeUntil_);
            if (follows) pointer_ = clampToScreens(event->location());
            event->setLocation(pointerLocation());
        }
    } else if (entry != EventEntry::process) {
        noteSourcePost(*event);
        if (cg::isMouseEventType(type)) pointer_ = clampToScreens(event->location());
    }
    if (entry != EventEntry::process) noteButton(type);

    for (auto location : stagesFrom(entry)) {
        if (!runTaps(TapPoint::at(location), event, serial, entry)) return;
    }
    if (entry != EventEntry::process) {
        auto target = targetOf(*event);
        // The application showing a menu tracks every click and move of the session; a move over
        // the menu reaches it below, as any event over its window does.
        if (cg::isMouseDownType(event->type())) world_.noteMouseDown(event->location());
        if ((type == cg::EventType::mouseMoved || type == cg::EventType::leftMouseDragged) && world_.openMenuItem() &&
            !isMenuWindowAt(world_, event->location()))
            world_.menuPointerMoved(event->location());
        if (!target) {
            record(serial, entry, EventRoute::Outcome::noTarget, 0, event);
            // The wallpaper belongs to no application, yet a click or a move there leaves
            // every application as one in another application's window does.
            if (deliveryObserver_ &&
                (cg::isMouseDownType(event->type()) || event->type() == cg::EventType::mouseMoved)) {
                auto observer = deliveryObserver_;
                observer(0, event);
            }
            return;
        }
        pid = *target;
    }
    // An event posted to a process enters that process's own stream: its taps see it only as the
    // process takes it from its queue, so nothing posted to a hung application is ever seen.
    if (entry == EventEntry::process) {
        deliver(serial, entry, pid, std::move(event), true);
        return;
    }
    if (!runTaps(TapPoint::process(pid), event, serial, entry)) return;
    deliver(serial, entry, pid, std::move(event));
}

bool EventSystem::runTaps(const TapPoint& point, cg::EventRef& event, std::uint64_t serial, EventEntry entry) {
    auto it = order_.find(keyOf(point));
    if (it == order_.end()) return true;
    // Callbacks may add and remove taps: walk a snapshot and look each tap up again.
    const std::vector<std::uint64_t> ids = it->second;
    for (auto id : ids) {
        Tap* tap = liveTap(id);
        if (!tap || !tap->enabled || !(tap->mask & cg::eventMaskBit(event->type()))) continue;
        // Held for the call, so that a callback releasing its own tap does not destroy it under us.
        auto port = tap->port.lock();
        if (!mainRunLoop_->services(*port)) continue;
        const auto callback = tap->callback;
        void* const userInfo = tap->userInfo;
        const bool listenOnly = tap->listenOnly;
        auto seen = event->copy();
        auto started = now();
        cg::EventRef answer = callback(cg::EventTapProxy{id}, seen->type(), seen, userInfo);
        if (now() - started > tapTimeout_) {
            if (Tap* slow = liveTap(id); slow && slow->enabled) {
                slow->enabled = false;
                notifyDisabled(id, cg::EventType::tapDisabledByTimeout);
            }
        }
        if (listenOnly) continue;
        if (!answer) {
            ProcessID pid = point.kind == TapPoint::Kind::process ? point.pid : 0;
            record(serial, entry, EventRoute::Outcome::dropped, pid, event, id);
            return false;
        }
        event = std::move(answer);
    }
    return true;
}

std::optional<WindowNumber> EventSystem::windowOf(const cg::Event& event) const {
    for (auto field : {static_cast<cg::EventField>(51), cg::EventField::mouseEventWindowUnderMousePointer}) {
        auto value = event.integerValue(field);
        if (value <= 0 || value > std::numeric_limits<WindowNumber>::max()) continue;
        auto number = static_cast<WindowNumber>(value);
        if (world_.windowServer().find(number)) return number;
    }
    return std::nullopt;
}

std::optional<ProcessID> EventSystem::targetOf(const cg::Event& event) {
    std::optional<ProcessID> target;
    auto named = event.integerValue(cg::EventField::eventTargetUnixProcessID);
    if (named > 0 && named <= std::numeric_limits<ProcessID>::max()) {
        target = static_cast<ProcessID>(named);
    } else if (cg::isKeyboardEventType(event.type())) {
        // The keyboard goes to the frontmost application, wherever the pointer is; the keys a menu
        // takes go to the application tracking an open menu.
        target = world_.processes().frontmost();
        if (auto item = world_.openMenuItem(); item && isMenuKey(event)) target = world_.statusItem(*item)->owner;
    } else if (auto window = windowOf(event)) {
        target = world_.windowServer().find(*window)->owner;
    } else if (isDragOrUp(event.type()) && mouseGrab_) {
        // A drag and its release go to whoever took the press.
        target = mouseGrab_;
    } else if (const auto* hit = world_.windowServer().hitTest(event.location())) {
        target = hit->owner;
    }
    if (cg::isMouseDownType(event.type())) mouseGrab_ = target;
    if (isButtonUp(event.type())) mouseGrab_.reset();
    return target;
}

void EventSystem::noteSourcePost(const cg::Event& event) {
    const auto& source = event.source();
    if (!source) return;
    using S = cg::EventSuppressionState;
    auto interval = source->localEventsSuppressionInterval();
    if (interval > 0) {
        suppressedUntil_ =
            now() + std::chrono::duration_cast<runtime::Duration>(std::chrono::duration<double>(interval));
        intervalFilter_ = source->localEventsFilter(S::suppressionInterval);
    } else {
        suppressedUntil_.reset();
    }
    if (cg::isMouseDownType(event.type())) remoteDragFilter_ = source->localEventsFilter(S::remoteMouseDrag);
    if (isButtonUp(event.type())) remoteDragFilter_.reset();
}

bool EventSystem::userInputSuppressed(const cg::Event& event) const {
    auto cls = filterClassOf(event.type());
    if (remoteDragFilter_ && !(*remoteDragFilter_ & cls)) return true;
    return suppressedUntil_ && now() < *suppressedUntil_ && !(intervalFilter_ & cls);
}

// Taps

EventSystem::TapKey EventSystem::keyOf(const TapPoint& point) {
    if (point.kind == TapPoint::Kind::process) return {1, point.pid};
    return {0, static_cast<std::int64_t>(point.location)};
}

cf::MachPortRef EventSystem::createTap(TapPoint point, cg::EventTapPlacement placement, cg::EventTapOptions options,
                                       cg::EventMask mask, cg::EventTapCallBack callback, void* userInfo) {
    if (!callback || !world_.permissions().accessibility || world_.faults().eventTapCreationFails) return nullptr;
    purgeTaps();
    auto port = std::make_shared<cf::MachPort>();
    Tap tap;
    tap.port = port;
    tap.point = point;
    tap.listenOnly = options == cg::EventTapOptions::listenOnly;
    tap.mask = mask;
    tap.callback = callback;
    tap.userInfo = userInfo;
    taps_.emplace(port->id(), tap);
    auto& list = order_[keyOf(point)];
    if (placement == cg::EventTapPlacement::headInsert)
        list.insert(list.begin(), port->id());
    else
        list.push_back(port->id());
    return port;
}

EventSystem::Tap* EventSystem::liveTap(std::uint64_t id) {
    auto it = taps_.find(id);
    if (it == taps_.end()) return nullptr;
    auto port = it->second.port.lock();
    return port && port->isValid() ? &it->second : nullptr;
}

const EventSystem::Tap* EventSystem::liveTap(std::uint64_t id) const {
    return const_cast<EventSystem*>(this)->liveTap(id);
}

void EventSystem::purgeTaps() {
    std::erase_if(taps_, [](const auto& entry) {
        auto port = entry.second.port.lock();
        return !port || !port->isValid();
    });
    for (auto& [key, ids] : order_) std::erase_if(ids, [this](std::uint64_t id) { return !taps_.contains(id); });
}

void EventSystem::setTapEnabled(const cf::MachPort& port, bool enabled) {
    if (Tap* tap = liveTap(port.id())) tap->enabled = enabled;
}

bool EventSystem::isTapEnabled(const cf::MachPort& port) const {
    const Tap* tap = liveTap(port.id());
    return tap && tap->enabled;
}

std::size_t EventSystem::liveTapCount() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [this](const auto& entry) { return liveTap(entry.first); }));
}

bool EventSystem::disableTap(const cf::MachPortRef& port, cg::EventType reason) {
    Tap* tap = port ? liveTap(port->id()) : nullptr;
    if (!tap) return false;
    tap->enabled = false;
    notifyDisabled(port->id(), reason);
    return true;
}

std::size_t EventSystem::disableTaps(TapPoint point, cg::EventType reason) {
    auto it = order_.find(keyOf(point));
    if (it == order_.end()) return 0;
    std::size_t count = 0;
    for (auto id : it->second) {
        Tap* tap = liveTap(id);
        if (!tap || !tap->enabled) continue;
        tap->enabled = false;
        notifyDisabled(id, reason);
        ++count;
    }
    return count;
}

std::vector<std::uint64_t> EventSystem::stallingTaps(const cg::Event& event) {
    std::vector<std::uint64_t> out;
    // Stashbay makes the taps; its trust is the world's Accessibility permission.
    if (world_.permissions().accessibility) return out;
    auto it = order_.find(keyOf(TapPoint::at(cg::EventTapLocation::hid)));
    if (it == order_.end()) return out;
    for (auto id : it->second) {
        const Tap* tap = liveTap(id);
        if (tap && tap->enabled && !tap->listenOnly && (tap->mask & cg::eventMaskBit(event.type()))) out.push_back(id);
    }
    return out;
}

void EventSystem::releaseHeldInput(const std::vector<std::uint64_t>& stalling) {
    for (auto id : stalling) {
        if (Tap* tap = liveTap(id); tap && tap->enabled) {
            tap->enabled = false;
            notifyDisabled(id, cg::EventType::tapDisabledByTimeout);
        }
    }
    // After the notices, in one job: the hold ends there, so nothing that came in meanwhile can
    // overtake what was held. An event that meets another stalling tap starts a new hold, and
    // those behind it wait again.
    runtime::mainExecutor().enqueue(nullptr, [alive = std::weak_ptr<int>(alive_), this] {
        if (alive.expired()) return;
        holdingInput_ = false;
        auto held = std::move(heldInput_);
        heldInput_.clear();
        for (auto& h : held) route(h.serial, h.entry, 0, std::move(h.event));
    });
}

void EventSystem::notifyDisabled(std::uint64_t id, cg::EventType reason) {
    runtime::mainExecutor().enqueue(nullptr, [alive = std::weak_ptr<int>(alive_), this, id, reason] {
        if (alive.expired()) return;
        Tap* tap = liveTap(id);
        if (!tap) return;
        auto port = tap->port.lock();
        if (!mainRunLoop_->services(*port)) return;
        const auto callback = tap->callback;
        void* const userInfo = tap->userInfo;
        auto notice = std::make_shared<cg::Event>(reason, pointerLocation(), nullptr);
        callback(cg::EventTapProxy{id}, reason, notice, userInfo);
    });
}

// Applications

void EventSystem::deliver(std::uint64_t serial, EventEntry entry, ProcessID pid, cg::EventRef event, bool tapsPending) {
    if (!world_.processes().find(pid)) {
        record(serial, entry, EventRoute::Outcome::noTarget, pid, event);
        return;
    }
    if (!tapsPending) record(serial, entry, EventRoute::Outcome::delivered, pid, event);
    if (deliveryObserver_) {
        // Observers may replace themselves; call a copy.
        auto observer = deliveryObserver_;
        observer(pid, event);
    }
    auto& app = applications_[pid];
    app.queue.push_back(Queued{serial, entry, std::move(event), tapsPending});
    if (app.drainScheduled) return;
    app.drainScheduled = true;
    runtime::mainExecutor().enqueue(nullptr, [alive = std::weak_ptr<int>(alive_), this, pid] {
        if (!alive.expired()) drain(pid);
    });
}

void EventSystem::drain(ProcessID pid) {
    auto it = applications_.find(pid);
    if (it == applications_.end()) return;
    auto& app = it->second;
    app.drainScheduled = false;
    while (!app.queue.empty()) {
        if (!world_.processes().find(pid)) {
            app.queue.clear();
            return;
        }
        // A hung application leaves its queue alone; the next delivery tries again.
        const auto* behaviour = world_.behaviourOf(pid);
        if (behaviour && behaviour->hung) return;
        auto queued = std::move(app.queue.front());
        app.queue.pop_front();
        if (queued.tapsPending) {
            if (!runTaps(TapPoint::process(pid), queued.event, queued.serial, queued.entry)) continue;
            record(queued.serial, queued.entry, EventRoute::Outcome::delivered, pid, queued.event);
        }
        handle(pid, queued);
    }
}

std::optional<WindowNumber> EventSystem::windowUnder(const cg::Event& event) const {
    if (auto window = windowOf(event)) return window;
    if (const auto* hit = world_.windowServer().hitTest(event.location())) return hit->number;
    return std::nullopt;
}

void EventSystem::noteItemDrag(ProcessID pid, const cg::Event& event) {
    using T = cg::EventType;
    if (isButtonUp(event.type())) draggedItem_.reset();
    if (event.type() != T::leftMouseDown) return;
    draggedItem_.reset();
    if (!(event.flags() & cg::eventFlagMaskCommand)) return;
    const auto window = windowUnder(event);
    if (const auto* item = window ? world_.statusItemForWindow(*window) : nullptr; item && item->owner == pid)
        draggedItem_ = DraggedItem{item->id, event.location()};
}

std::optional<EventSystem::ItemDrag> EventSystem::itemDrag() const {
    if (!draggedItem_ || !isButtonDown(cg::MouseButton::left) || !world_.statusItem(draggedItem_->item))
        return std::nullopt;
    ItemDrag drag{draggedItem_->item, draggedItem_->pressedAt, pointerLocation(), std::nullopt};
    const auto* hit = world_.windowServer().hitTest(drag.pointer);
    if (const auto* item = hit ? world_.statusItemForWindow(hit->number) : nullptr; item && item->id != drag.item)
        drag.over = item->id;
    return drag;
}

void EventSystem::handle(ProcessID pid, const Queued& queued) {
    handled_.push_back(HandledEvent{pid, queued.serial, queued.event});
    noteItemDrag(pid, *queued.event);
    if (auto custom = handlers_.find(pid); custom != handlers_.end()) {
        auto handler = custom->second;
        handler(queued.event);
        return;
    }
    const auto& event = *queued.event;
    using T = cg::EventType;
    const auto type = event.type();
    // A click sent straight to this application reaches no other; its own open menu closes.
    if (queued.entry == EventEntry::process && cg::isMouseDownType(type)) world_.noteMouseDown(event.location());

    auto& app = applications_[pid];
    const auto window = windowUnder(event);
    const StatusItem* item = window ? world_.statusItemForWindow(*window) : nullptr;

    // The open menu tracks the pointer and the keys a menu takes.
    if (cg::isKeyboardEventType(type) && isMenuKey(event)) {
        if (auto open = world_.openMenuItem(); open && type == T::keyDown && world_.statusItem(*open)->owner == pid)
            world_.menuKeyDown(keyCodeOf(event));
        return;
    }
    if (window && isMenuWindow(world_, *window)) {
        if (type == T::mouseMoved || type == T::leftMouseDragged) world_.menuPointerMoved(event.location());
        if (type == T::leftMouseUp) world_.menuReleased(event.location());
        app.press.reset();
        return;
    }

    if (type == T::leftMouseDown || type == T::rightMouseDown) {
        if (item && item->owner == pid) {
            bool command = type == T::leftMouseDown && (event.flags() & cg::eventFlagMaskCommand);
            app.press = PendingPress{item->id, type == T::rightMouseDown, command};
        } else {
            app.press.reset();
        }
        return;
    }
    if (type != T::leftMouseUp && type != T::rightMouseUp) return;
    // A release with no press of its own (a second delivery of the same release) does nothing.
    if (!app.press) return;
    auto press = *app.press;
    app.press.reset();
    if (press.right != (type == T::rightMouseUp)) return;
    if (press.command) {
        if (item && item->id != press.item) world_.requestMove(press.item, item->id);
        return;
    }
    world_.wake(press.item);
    // A right click always opens the menu; a left click does what a press of the item does.
    if (press.right)
        world_.openMenu(press.item, World::MenuTrigger::click);
    else
        world_.pressItem(press.item, World::MenuTrigger::click);
}

// Records

void EventSystem::record(std::uint64_t serial, EventEntry entry, EventRoute::Outcome outcome, ProcessID pid,
                         const cg::EventRef& event, std::uint64_t droppedBy) {
    routes_.push_back(EventRoute{serial, entry, outcome, pid, event ? event->copy() : nullptr, droppedBy});
}

std::vector<EventRoute> EventSystem::deliveries(std::optional<ProcessID> pid) const {
    std::vector<EventRoute> out;
    for (const auto& r : routes_)
        if (r.outcome == EventRoute::Outcome::delivered && (!pid || r.pid == *pid)) out.push_back(r);
    return out;
}

std::vector<cg::EventRef> EventSystem::pendingEvents(ProcessID pid) const {
    std::vector<cg::EventRef> out;
    auto it = applications_.find(pid);
    if (it == applications_.end()) return out;
    for (const auto& q : it->second.queue) out.push_back(q.event);
    return out;
}

}  // namespace sim
