#include "macos/AppKit/Window.hpp"

#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "macos/Foundation/NotificationCenter.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

namespace ns {

namespace {

double primaryHeight(const sim::World& world) {
    auto primary = world.screens().primary();
    return primary ? primary->spec().frame.height() : 0.0;
}

// Screen space (y up) and window-server space (y down) mirror each other about the primary
// screen's height.
cg::Rect flipped(const sim::World& world, cg::Rect r) {
    return cg::Rect{r.origin.x, primaryHeight(world) - r.maxY(), r.width(), r.height()};
}

}  // namespace

void View::setNeedsDisplay() const {
    if (auto w = window()) w->setViewsNeedDisplay();
}

void Window::setViewsNeedDisplay() {
    if (isVisible()) Application::shared().windowNeedsDisplay(*this);
}

Window::Window(Tag, sim::WindowNumber number, bool ownsWindow)
    : number_(number), ownsWindow_(ownsWindow), world_(Application::shared().worldToken()) {}

std::shared_ptr<Window> Window::create(cg::Rect frame, std::int64_t level) {
    runtime::assertMainExecutor("NSWindow.init");
    auto& world = sim::World::current();
    sim::WindowSpec spec;
    spec.bounds = flipped(world, frame);
    spec.layer = level;
    spec.onScreen = false;
    spec.color = 0xECECECFF;
    auto number = world.openWindow(world.processes().selfPid(), spec);
    auto window = std::make_shared<Window>(Tag{}, number, true);
    Application::shared().addWindow(window);
    return window;
}

std::shared_ptr<Window> Window::forStatusItem(sim::WindowNumber number, std::weak_ptr<const StatusItem> item) {
    auto window = std::make_shared<Window>(Tag{}, number, false);
    window->isStatusWindow_ = true;
    window->statusItem_ = std::move(item);
    Application::shared().addWindow(window);
    return window;
}

Window::~Window() {
    if (world_.expired()) return;
    if (ownsWindow_) sim::World::current().closeWindow(number_);
}

cg::Rect Window::frame() const {
    if (world_.expired()) return {};
    auto& world = sim::World::current();
    const auto* w = world.windowServer().find(number_);
    return w ? flipped(world, w->bounds) : cg::Rect{};
}

void Window::setFrame(cg::Rect frame) {
    if (world_.expired()) return;
    auto& world = sim::World::current();
    auto* w = world.windowServer().find(number_);
    if (!w) return;
    const auto before = w->bounds.size;
    w->bounds = flipped(world, frame);
    if (before.width != frame.width() || before.height != frame.height())
        NotificationCenter::defaultCenter().post(
            Notification{windowDidResizeNotification, reinterpret_cast<std::uintptr_t>(this), {}});
}

std::int64_t Window::level() const {
    if (world_.expired()) return WindowLevel::normal;
    const auto* w = sim::World::current().windowServer().find(number_);
    return w ? w->layer : WindowLevel::normal;
}

void Window::setLevel(std::int64_t level) {
    if (world_.expired()) return;
    if (auto* w = sim::World::current().windowServer().find(number_)) w->layer = level;
}

bool Window::isVisible() const {
    if (world_.expired()) return false;
    const auto* w = sim::World::current().windowServer().find(number_);
    return w && w->onScreen;
}

void Window::orderFront() {
    if (world_.expired() || isStatusWindow_) return;
    if (auto* w = sim::World::current().windowServer().find(number_)) w->onScreen = true;
}

void Window::orderOut() {
    if (world_.expired() || isStatusWindow_) return;
    const bool wasKey = isKeyWindow();
    if (auto* w = sim::World::current().windowServer().find(number_)) w->onScreen = false;
    Application::shared().windowOrderedOut(this);
    if (wasKey) resignKey();
}

void Window::makeKeyAndOrderFront() {
    orderFront();
    if (!world_.expired()) Application::shared().setKeyWindow(this);
}

bool Window::isKeyWindow() const { return !world_.expired() && Application::shared().keyWindow().get() == this; }

void Window::resignKey() {
    if (didResignKey_) {
        auto handler = didResignKey_;
        handler();
    }
}

std::optional<cf::Value> Window::valueForKey(const std::string& key) const {
    if (key == "statusItem" && isStatusWindow_) {
        auto item = statusItem_.lock();
        if (!item) return std::nullopt;
        return cf::Value(cf::Value::ObjectRef(item));
    }
    throw UnknownKeyException(key);
}

}  // namespace ns
