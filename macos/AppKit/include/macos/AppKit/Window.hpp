#pragma once

#include "macos/AppKit/Event.hpp"
#include "macos/CoreFoundation/Value.hpp"
#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/sim/StatusItem.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

class QPainter;

namespace ns {

class StatusItem;
class Window;

// The platform's window levels used here.
namespace WindowLevel {
inline constexpr std::int64_t normal = 0;
inline constexpr std::int64_t statusBar = 25;
inline constexpr std::int64_t popUpMenu = 101;
}  // namespace WindowLevel

// The notifications a window posts, with the window as their object.
inline constexpr const char* windowDidResizeNotification = "NSWindowDidResizeNotification";
inline constexpr const char* windowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";

// What a window shows: the thin seam between the platform's windows and the views that paint
// them.
class View {
public:
    virtual ~View() = default;
    // The size the content wants, in points.
    virtual cg::Size fittingSize() const = 0;
    virtual void viewDidAppear() {}
    virtual void viewDidDisappear() {}
    // The location is in the view: origin at its top left, y down.
    virtual void mouseDown(cg::Point location) { (void)location; }
    virtual void rightMouseDown(cg::Point location) { (void)location; }
    virtual void keyDown(const Event& event) { (void)event; }
    // The pointer moved over the view with no button down, or left it (also when its window
    // went off screen).
    virtual void mouseMoved(cg::Point location) { (void)location; }
    virtual void mouseExited() {}
    // A wheel or trackpad scroll with the pointer over the view.
    virtual void scrollWheel(const Event& event, cg::Point location) {
        (void)event;
        (void)location;
    }
    // The tooltip of what is at the location; none for no tooltip.
    virtual std::optional<std::string> toolTip(cg::Point location) const {
        (void)location;
        return std::nullopt;
    }
    // Paints the content with its top-left corner at the painter's origin, at the given size.
    virtual void draw(QPainter& painter, cg::Size size) const {
        (void)painter;
        (void)size;
    }

    // The window the view is the content of, or is hosted in; null when in none.
    std::shared_ptr<Window> window() const { return window_.lock(); }
    // Called by the window that takes the view as its content, and by a view that hosts this one.
    void moveToWindow(std::weak_ptr<Window> window) {
        window_ = std::move(window);
        viewDidMoveToWindow();
    }
    virtual void viewDidMoveToWindow() {}
    // What the view shows has changed: its window is drawn again soon, once however often this
    // is called before then. Nothing happens while the view is in no window.
    void setNeedsDisplay() const;

private:
    std::weak_ptr<Window> window_;
};

// What key-value coding raises for a key an object does not have.
class UnknownKeyException : public std::runtime_error {
public:
    explicit UnknownKeyException(const std::string& key)
        : std::runtime_error("this class is not key value coding-compliant for the key " + key) {}
};

// One of the application's windows, shown by the world's window server. Main executor only.
class Window : public std::enable_shared_from_this<Window> {
public:
    // A new window of Stashbay's process, not on screen. The frame is in screen space (origin at
    // the bottom left of the primary screen, y up, points).
    static std::shared_ptr<Window> create(cg::Rect frame, std::int64_t level);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    sim::WindowNumber windowNumber() const { return number_; }
    // Screen space; an empty rectangle once the world's window is gone.
    cg::Rect frame() const;
    // Posts the resize notification when the size changes.
    void setFrame(cg::Rect frame);
    std::int64_t level() const;
    void setLevel(std::int64_t level);
    bool isVisible() const;
    void orderFront();
    // Takes the window off screen; a key window stops being key (and hears of it).
    void orderOut();
    void makeKeyAndOrderFront();
    bool isKeyWindow() const;
    // A window that cannot become key (a pop-up menu's) is only ordered front by a click in it.
    bool canBecomeKey() const { return canBecomeKey_; }
    void setCanBecomeKey(bool can) { canBecomeKey_ = can; }

    void setContentView(std::shared_ptr<View> view) {
        if (contentView_) contentView_->moveToWindow({});
        contentView_ = std::move(view);
        if (contentView_) contentView_->moveToWindow(weak_from_this());
    }
    const std::shared_ptr<View>& contentView() const { return contentView_; }
    // Its content asked to be drawn again; the host that shows the windows hears of it while the
    // window is on screen.
    void setViewsNeedDisplay();
    // Called when the window stops being the key window (another application took a click).
    void setDidResignKey(std::function<void()> handler) { didResignKey_ = std::move(handler); }
    // Told of every mouse-down of the session while the window is on screen, wherever it went, at
    // its location in screen space: how a pop-up menu's tracking sees the click that ends it.
    void setSessionMouseDown(std::function<void(cg::Point)> handler) { sessionMouseDown_ = std::move(handler); }

    // Key-value coding. A status item's window answers "statusItem" (none once the item is
    // gone); any other key, and "statusItem" on any other window, raises UnknownKeyException.
    std::optional<cf::Value> valueForKey(const std::string& key) const;

private:
    friend class Application;
    friend class StatusItem;
    struct Tag {};

public:
    Window(Tag, sim::WindowNumber number, bool ownsWindow);

private:
    // The window that shows a status item: the world's status window, owned by the world.
    static std::shared_ptr<Window> forStatusItem(sim::WindowNumber number, std::weak_ptr<const StatusItem> item);
    void resignKey();

    sim::WindowNumber number_;
    bool ownsWindow_;
    bool isStatusWindow_ = false;
    bool canBecomeKey_ = true;
    std::weak_ptr<const StatusItem> statusItem_;
    std::shared_ptr<View> contentView_;
    std::function<void()> didResignKey_;
    std::function<void(cg::Point)> sessionMouseDown_;
    // Expires with the world the window was made in.
    std::weak_ptr<const void> world_;
};

}  // namespace ns
