#include "macos/AppKit/Application.hpp"

#include "macos/AppKit/StatusItem.hpp"
#include "macos/Dispatch/Queue.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <algorithm>
#include <utility>

namespace ns {

namespace {
std::unique_ptr<Application>& instance() {
    static std::unique_ptr<Application> app;
    return app;
}
}  // namespace

struct Application::Monitor final : cf::Object {
    const char* typeName() const override { return "_NSEventMonitor"; }
    bool global = false;
    EventMask mask = 0;
    GlobalHandler globalHandler;
    LocalHandler localHandler;
};

Application& Application::shared() {
    auto& app = instance();
    if (!app) app.reset(new Application());
    return *app;
}

void Application::resetShared() { instance().reset(); }

Application::Application() {
    auto& world = sim::World::current();
    // Stashbay takes the events delivered to its own process out of its queue itself.
    world.events().setApplicationHandler(world.processes().selfPid(), [](const cg::EventRef& event) {
        if (auto& app = instance()) app->sendEvent(event);
    });
    world.events().setDeliveryObserver([](sim::ProcessID pid, const cg::EventRef& event) {
        if (auto& app = instance()) app->observeDelivery(pid, event);
    });
    world.setMouseDownObserver([](cg::Point location) {
        if (auto& app = instance()) app->observeMouseDown(location);
    });
    // Another application's menu takes the keyboard, as a click in another application does;
    // heard on the main thread after the call that opened it.
    world.setMenuOpenedObserver([token = std::weak_ptr<const void>(worldToken_)](sim::ProcessID owner) {
        if (owner == sim::World::current().processes().selfPid()) return;
        runtime::mainExecutor().enqueue(nullptr, [token] {
            if (auto& app = instance(); app && !token.expired()) app->resignKeyWindow();
        });
    });
}

Application::~Application() = default;

std::vector<std::shared_ptr<Window>> Application::windows() const {
    std::vector<std::shared_ptr<Window>> out;
    for (const auto& weak : windows_)
        if (auto w = weak.lock()) out.push_back(std::move(w));
    return out;
}

void Application::addWindow(const std::shared_ptr<Window>& window) {
    std::erase_if(windows_, [](const auto& w) { return w.expired(); });
    windows_.push_back(window);
}

void Application::setKeyWindow(Window* window) {
    auto previous = keyWindow_.lock();
    if (previous.get() == window) return;
    keyWindow_ = window ? window->weak_from_this() : std::weak_ptr<Window>();
    if (previous) previous->resignKey();
    if (window)
        NotificationCenter::defaultCenter().post(
            Notification{windowDidBecomeKeyNotification, reinterpret_cast<std::uintptr_t>(window), {}});
}

void Application::windowOrderedOut(Window* window) {
    if (keyWindow_.lock().get() == window) keyWindow_.reset();
    // A window that went no longer has the pointer over it.
    if (pointerWindow_.lock().get() == window) pointerMoved(nullptr, {}, {});
}

std::pair<std::shared_ptr<Window>, cg::Point> Application::contentWindowAt(cg::Point location) const {
    const auto* hit = sim::World::current().windowServer().hitTest(location);
    auto window = hit ? windowNumbered(hit->number) : nullptr;
    if (!window || window->isStatusWindow_ || !window->contentView()) return {nullptr, {}};
    return {window, cg::Point{location.x - hit->bounds.minX(), location.y - hit->bounds.minY()}};
}

void Application::pointerMoved(const std::shared_ptr<Window>& window, cg::Point local, cg::Point location) {
    auto previous = pointerWindow_.lock();
    pointerWindow_ = window;
    if (previous && previous != window && previous->contentView()) previous->contentView()->mouseExited();
    if (window) window->contentView()->mouseMoved(local);
    auto text = window ? window->contentView()->toolTip(local) : std::nullopt;
    if (text && text->empty()) text.reset();
    // Moving within what has the tooltip keeps it, shown or waiting.
    if (text == restingToolTip_) return;
    hideToolTip();
    restingToolTip_ = text;
    if (!text) return;
    const auto generation = toolTipGeneration_;
    // Under the pointer, clear of the arrow.
    const cg::Point topLeft{location.x, location.y + 20};
    dispatch::Queue::main().asyncAfter(
        toolTipDelay, [token = std::weak_ptr<const void>(worldToken_), generation, text = *text, topLeft] {
            auto& app = instance();
            if (token.expired() || !app || app->toolTipGeneration_ != generation) return;
            app->toolTip_ = ToolTip{text, topLeft};
        });
}

void Application::hideToolTip() {
    ++toolTipGeneration_;
    toolTip_.reset();
}

std::shared_ptr<Window> Application::windowNumbered(sim::WindowNumber number) const {
    for (const auto& w : windows())
        if (w->windowNumber() == number) return w;
    return nullptr;
}

void Application::finishLaunching() {
    runtime::assertMainExecutor("NSApplication.finishLaunching");
    if (auto d = delegate())
        d->applicationDidFinishLaunching(Notification{"NSApplicationDidFinishLaunchingNotification", 0, {}});
}

void Application::terminate() {
    runtime::assertMainExecutor("NSApplication.terminate");
    if (terminated_) return;
    terminated_ = true;
    if (auto d = delegate()) d->applicationWillTerminate(Notification{"NSApplicationWillTerminateNotification", 0, {}});
    if (stop_) stop_();
}

void Application::activate() {
    auto& world = sim::World::current();
    if (auto self = world.processes().self()) world.activate(*self, 1u << 1);
}

Application::MonitorToken Application::addGlobalMonitorForEvents(EventMask mask, GlobalHandler handler) {
    runtime::assertMainExecutor("NSEvent.addGlobalMonitorForEvents");
    auto monitor = std::make_shared<Monitor>();
    monitor->global = true;
    monitor->mask = mask;
    monitor->globalHandler = std::move(handler);
    monitors_.push_back(monitor);
    return monitor;
}

Application::MonitorToken Application::addLocalMonitorForEvents(EventMask mask, LocalHandler handler) {
    runtime::assertMainExecutor("NSEvent.addLocalMonitorForEvents");
    auto monitor = std::make_shared<Monitor>();
    monitor->mask = mask;
    monitor->localHandler = std::move(handler);
    monitors_.push_back(monitor);
    return monitor;
}

void Application::removeMonitor(const MonitorToken& token) {
    std::erase_if(monitors_, [&](const auto& m) { return m.get() == token.get(); });
}

std::size_t Application::globalMonitorCount() const {
    return static_cast<std::size_t>(
        std::count_if(monitors_.begin(), monitors_.end(), [](const auto& m) { return m->global; }));
}

std::size_t Application::localMonitorCount() const { return monitors_.size() - globalMonitorCount(); }

void Application::sendEvent(const cg::EventRef& raw) {
    Event event(raw);
    const auto bit = cg::eventMaskBit(event.type());
    // A monitor removed by an earlier handler in this pass no longer runs.
    const auto monitors = monitors_;
    for (const auto& monitor : monitors) {
        if (monitor->global || !(monitor->mask & bit)) continue;
        if (std::find(monitors_.begin(), monitors_.end(), monitor) == monitors_.end()) continue;
        auto passed = monitor->localHandler(event);
        if (!passed) return;
        event = *passed;
    }
    using T = cg::EventType;
    switch (event.type()) {
        case T::keyDown:
            // A key press puts a tooltip away, and it stays away while the pointer rests.
            hideToolTip();
            if (auto key = keyWindow(); key && key->contentView()) key->contentView()->keyDown(event);
            return;
        case T::leftMouseDown:
        case T::rightMouseDown: {
            hideToolTip();
            const bool right = event.type() == T::rightMouseDown;
            auto& world = sim::World::current();
            const auto* hit = world.windowServer().hitTest(event.location());
            auto window = hit ? windowNumbered(hit->number) : nullptr;
            if (!window) return;
            if (auto item = window->statusItem_.lock()) {
                // A Command-press starts the system's move of the item; the button hears nothing.
                if (!right && (event.modifierFlags() & modifierFlagCommand)) {
                    pendingItemMove_ = item->worldItem();
                    return;
                }
                if (item->button() && !right) item->button()->performClick();
                return;
            }
            if (window->canBecomeKey())
                window->makeKeyAndOrderFront();
            else
                window->orderFront();
            if (window->contentView()) {
                cg::Point local{event.location().x - hit->bounds.minX(), event.location().y - hit->bounds.minY()};
                if (right)
                    window->contentView()->rightMouseDown(local);
                else
                    window->contentView()->mouseDown(local);
            }
            return;
        }
        case T::mouseMoved: {
            auto [window, local] = contentWindowAt(event.location());
            pointerMoved(window, local, event.location());
            return;
        }
        case T::scrollWheel: {
            // What was under the pointer moves away with the scroll.
            hideToolTip();
            auto [window, local] = contentWindowAt(event.location());
            if (window) window->contentView()->scrollWheel(event, local);
            return;
        }
        case T::leftMouseUp: {
            // Released over another status item: the moved item takes its place, as any
            // application's item does.
            auto moved = std::exchange(pendingItemMove_, std::nullopt);
            if (!moved) return;
            auto& world = sim::World::current();
            const auto* hit = world.windowServer().hitTest(event.location());
            const auto* target = hit ? world.statusItemForWindow(hit->number) : nullptr;
            if (target && target->id != *moved) world.requestMove(*moved, target->id);
            return;
        }
        default: return;
    }
}

void Application::resignKeyWindow() {
    if (auto key = keyWindow()) {
        keyWindow_.reset();
        key->resignKey();
    }
}

void Application::observeMouseDown(cg::Point location) {
    auto& world = sim::World::current();
    auto primary = world.screens().primary();
    const cg::Point inScreen{location.x, (primary ? primary->spec().frame.height() : 0.0) - location.y};
    // Heard after the click's routing, on the main thread, as a menu's tracking loop would.
    for (const auto& weak : windows_) {
        auto window = weak.lock();
        if (!window || !window->sessionMouseDown_ || !window->isVisible()) continue;
        runtime::mainExecutor().enqueue(nullptr, [weak, inScreen] {
            if (auto w = weak.lock(); w && w->sessionMouseDown_ && w->isVisible()) {
                auto handler = w->sessionMouseDown_;
                handler(inScreen);
            }
        });
    }
}

void Application::observeDelivery(sim::ProcessID pid, const cg::EventRef& raw) {
    auto& world = sim::World::current();
    if (pid == world.processes().selfPid()) return;
    const auto type = raw->type();
    // The pointer went over another application's window or the wallpaper.
    if (type == cg::EventType::mouseMoved) pointerMoved(nullptr, {}, {});
    if (cg::isMouseDownType(type)) {
        // A click that went to another application takes the key window away from Stashbay.
        resignKeyWindow();
        return;
    }
    if (!world.permissions().accessibility) return;
    const auto bit = cg::eventMaskBit(type);
    // Global monitors run on the main thread after the event went on its way.
    for (const auto& monitor : monitors_) {
        if (!monitor->global || !(monitor->mask & bit)) continue;
        runtime::mainExecutor().enqueue(nullptr, [weak = std::weak_ptr<Monitor>(monitor), event = Event(raw)] {
            if (auto m = weak.lock();
                m && instance() &&
                std::find(instance()->monitors_.begin(), instance()->monitors_.end(), m) != instance()->monitors_.end())
                m->globalHandler(event);
        });
    }
}

}  // namespace ns
