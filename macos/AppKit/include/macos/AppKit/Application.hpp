#pragma once

#include "macos/AppKit/Event.hpp"
#include "macos/AppKit/Window.hpp"
#include "macos/CoreFoundation/Value.hpp"
#include "macos/Foundation/NotificationCenter.hpp"
#include "macos/sim/StatusItem.hpp"
#include "stashbay/runtime/Time.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ns {

class Application;

// The application's delegate: what the application tells it at launch and at termination.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching(const Notification& notification) { (void)notification; }
    virtual void applicationWillTerminate(const Notification& notification) { (void)notification; }
    virtual bool applicationSupportsSecureRestorableState(Application& application) {
        (void)application;
        return false;
    }
};

// Stashbay's application object (the one per process): its windows, its delegate, its event
// monitors and the events the world delivers to its process. One exists per world; the world
// makes it afresh. Main executor only.
class Application {
public:
    static Application& shared();
    // Drops the application object of the world that ends; the world calls it.
    static void resetShared();

    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The delegate is held weakly, as the platform does; its owner keeps it alive.
    void setDelegate(const std::shared_ptr<ApplicationDelegate>& delegate) { delegate_ = delegate; }
    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_.lock(); }

    // The application's windows that still exist, in the order they were made.
    std::vector<std::shared_ptr<Window>> windows() const;
    std::shared_ptr<Window> keyWindow() const { return keyWindow_.lock(); }

    // Tells the delegate that launching finished.
    void finishLaunching();
    // Tells the delegate that the application terminates, then stops the run loop (when a host
    // loop runs it). Only the first call acts.
    void terminate();
    bool isTerminated() const { return terminated_; }
    // What stops the host's run loop; set by whoever runs it.
    void setStopHandler(std::function<void()> stop) { stop_ = std::move(stop); }
    // What the host does when a window on screen asks to be drawn again (set by whoever paints the
    // windows): it draws the window once, soon, however many requests come before then.
    void setWindowNeedsDisplayHandler(std::function<void(const Window&)> handler) {
        needsDisplay_ = std::move(handler);
    }
    // Makes Stashbay the frontmost application, ignoring other applications.
    void activate();

    // Event monitors. The token is opaque; removing it ends the monitor. A global monitor sees
    // the events delivered to other applications, and only while Stashbay is trusted for
    // Accessibility; it cannot change them. A local monitor sees the events delivered to this
    // application before its windows do, and returns the event to pass on or none to consume it.
    using MonitorToken = std::shared_ptr<const cf::Object>;
    using GlobalHandler = std::function<void(const Event&)>;
    using LocalHandler = std::function<std::optional<Event>(const Event&)>;
    MonitorToken addGlobalMonitorForEvents(EventMask mask, GlobalHandler handler);
    MonitorToken addLocalMonitorForEvents(EventMask mask, LocalHandler handler);
    void removeMonitor(const MonitorToken& token);
    std::size_t globalMonitorCount() const;
    std::size_t localMonitorCount() const;

    // A tooltip on screen: its text and its top-left corner (window-server space). It shows once
    // the pointer has rested over what has the tooltip for `toolTipDelay`, and goes when the
    // pointer leaves it or a button or key is pressed. The desktop draws it.
    struct ToolTip {
        std::string text;
        cg::Point topLeft;
    };
    static constexpr runtime::Duration toolTipDelay = std::chrono::milliseconds(1000);
    const std::optional<ToolTip>& toolTip() const { return toolTip_; }

    // The world this object belongs to, for the objects that must not outlive it.
    std::weak_ptr<const void> worldToken() const { return worldToken_; }

private:
    friend class Window;
    friend class StatusItem;
    Application();

    void addWindow(const std::shared_ptr<Window>& window);
    void setKeyWindow(Window* window);
    void windowOrderedOut(Window* window);
    void windowNeedsDisplay(const Window& window) {
        if (needsDisplay_) needsDisplay_(window);
    }
    std::shared_ptr<Window> windowNumbered(sim::WindowNumber number) const;
    void sendEvent(const cg::EventRef& event);
    void observeDelivery(sim::ProcessID pid, const cg::EventRef& event);
    // The window of ours under a window-server point that shows a content view (not a status
    // item's), with the point in that view.
    std::pair<std::shared_ptr<Window>, cg::Point> contentWindowAt(cg::Point location) const;
    // The pointer is over `window` (null: none of ours) at `local` in its view.
    void pointerMoved(const std::shared_ptr<Window>& window, cg::Point local, cg::Point location);
    void hideToolTip();
    void observeMouseDown(cg::Point location);
    // Stashbay's key window stops being key: another application took the keyboard.
    void resignKeyWindow();

    std::weak_ptr<ApplicationDelegate> delegate_;
    std::vector<std::weak_ptr<Window>> windows_;
    std::weak_ptr<Window> keyWindow_;
    // The window whose view the pointer is over, and the tooltip text it rests on (shown or
    // waiting for the delay; an older wait is void once the generation moved on).
    std::weak_ptr<Window> pointerWindow_;
    std::optional<std::string> restingToolTip_;
    std::uint64_t toolTipGeneration_ = 0;
    std::optional<ToolTip> toolTip_;
    bool terminated_ = false;
    std::function<void()> stop_;
    std::function<void(const Window&)> needsDisplay_;
    struct Monitor;
    std::vector<std::shared_ptr<Monitor>> monitors_;
    // Status items of the world's bar that a StatusItem already shows.
    std::set<sim::StatusItemID> claimedItems_;
    // Stashbay's own item while the person Command-drags it.
    std::optional<sim::StatusItemID> pendingItemMove_;
    std::shared_ptr<const void> worldToken_ = std::make_shared<int>(0);
};

}  // namespace ns
