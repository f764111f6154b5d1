#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "stashbay/runtime/EventLoop.hpp"

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace stashbay {

// A window as the positioner sees it: its frame in screen space (origin at the bottom left), a
// way to move it, and its resize and became-key notifications.
class PositionedWindow {
public:
    virtual ~PositionedWindow() = default;
    virtual cg::Rect frame() const = 0;
    virtual void setFrameOrigin(cg::Point origin) = 0;
    // Registers `handler` for the window's resize and became-key notifications, in that order,
    // delivered on the main queue; each registration ends when its token is destroyed.
    virtual std::vector<std::any> observeResizeAndBecomeKey(std::function<void()> handler) = 0;
};

// Keeps the panel's window flush with the right edge of the status item's window: a pass once the
// panel is in its window, three after every update, and two after every resize or becoming key.
// It moves the window sideways only, and only when it is more than a point off. Main thread only.
class PanelWindowPositioner {
public:
    using StatusItemWindow = std::function<std::shared_ptr<PositionedWindow>()>;

    // Where the window belongs beside the status item's window: its origin with the right edges
    // flush and the same y; none when it is within one point of it already.
    static std::optional<cg::Point> targetOrigin(const cg::Rect& statusItemWindowFrame, const cg::Rect& windowFrame);
    // One pass: nothing while there is no status item window.
    static void reposition(PositionedWindow& window, const StatusItemWindow& statusItemWindow);

    explicit PanelWindowPositioner(StatusItemWindow statusItemWindow);
    ~PanelWindowPositioner();
    PanelWindowPositioner(const PanelWindowPositioner&) = delete;
    PanelWindowPositioner& operator=(const PanelWindowPositioner&) = delete;

    // The panel's view was placed; `window` is the window it is in by the first pass, if any.
    void viewCreated(std::function<std::shared_ptr<PositionedWindow>()> window);
    // The panel's view was updated while in `window` (null when in none).
    void viewUpdated(const std::shared_ptr<PositionedWindow>& window);
    // Moves the two registrations to `window` unless it is the one observed.
    void observe(const std::shared_ptr<PositionedWindow>& window);
    std::size_t registrationCount() const { return observers_.size(); }

private:
    void schedule(runtime::Duration delay, std::function<void()> pass);

    StatusItemWindow statusItemWindow_;
    std::vector<std::any> observers_;
    std::weak_ptr<PositionedWindow> lastWindow_;
    // Pending passes still run after the positioner is gone; they read only what they hold, and
    // the first one does nothing once this is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace stashbay
