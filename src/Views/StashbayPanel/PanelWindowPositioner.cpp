#include "Views/StashbayPanel/PanelWindowPositioner.hpp"

#include "stashbay/runtime/Executor.hpp"

#include <cmath>

namespace stashbay {

std::optional<cg::Point> PanelWindowPositioner::targetOrigin(const cg::Rect& statusItemWindowFrame,
                                                             const cg::Rect& windowFrame) {
    const double targetX = statusItemWindowFrame.maxX() - windowFrame.width();
    if (std::abs(windowFrame.origin.x - targetX) <= 1.0) return std::nullopt;
    return cg::Point{targetX, windowFrame.origin.y};
}

void PanelWindowPositioner::reposition(PositionedWindow& window, const StatusItemWindow& statusItemWindow) {
    const auto statusWindow = statusItemWindow ? statusItemWindow() : nullptr;
    if (!statusWindow) return;
    if (auto origin = targetOrigin(statusWindow->frame(), window.frame())) window.setFrameOrigin(*origin);
}

PanelWindowPositioner::PanelWindowPositioner(StatusItemWindow statusItemWindow)
    : statusItemWindow_(std::move(statusItemWindow)) {}

PanelWindowPositioner::~PanelWindowPositioner() = default;

void PanelWindowPositioner::schedule(runtime::Duration delay, std::function<void()> pass) {
    auto& loop = runtime::EventLoop::current();
    loop.scheduleTimer(loop.clock().now() + delay, std::move(pass));
}

void PanelWindowPositioner::viewCreated(std::function<std::shared_ptr<PositionedWindow>()> window) {
    // The first pass waits one turn of the main queue: the view is in its window by then, if ever.
    schedule(runtime::Duration::zero(), [this, alive = std::weak_ptr<bool>(alive_), window = std::move(window)] {
        if (alive.expired()) return;
        if (auto current = window ? window() : nullptr) {
            observe(current);
            reposition(*current, statusItemWindow_);
        }
    });
}

void PanelWindowPositioner::viewUpdated(const std::shared_ptr<PositionedWindow>& window) {
    if (!window) return;
    observe(window);
    for (int milliseconds : {20, 80, 150})
        schedule(std::chrono::milliseconds(milliseconds),
                 [window, statusItemWindow = statusItemWindow_] { reposition(*window, statusItemWindow); });
}

void PanelWindowPositioner::observe(const std::shared_ptr<PositionedWindow>& window) {
    if (!window || lastWindow_.lock() == window) return;
    observers_.clear();
    lastWindow_ = window;
    std::weak_ptr<PositionedWindow> weakWindow = window;
    observers_ = window->observeResizeAndBecomeKey([weakWindow, statusItemWindow = statusItemWindow_] {
        auto current = weakWindow.lock();
        if (!current) return;
        reposition(*current, statusItemWindow);
        auto& loop = runtime::EventLoop::current();
        loop.scheduleTimer(loop.clock().now() + std::chrono::milliseconds(50),
                           [current, statusItemWindow] { reposition(*current, statusItemWindow); });
    });
}

}  // namespace stashbay
