#pragma once

#include "SystemSettingsWindow.hpp"
#include "WorldPicture.hpp"

#include "macos/CoreGraphics/Event.hpp"

#include <QTimer>
#include <QTransform>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace desktop {

// The simulated Mac on screen: paints the desktop as the world holds it (screen, menu bar with
// the camera housing, status items at their windows' places, open menus, Stashbay's panel) and
// turns the person's mouse and keyboard into the world's HID input. One point is one pixel,
// scaled to the window's size.
class DesktopView final : public QWidget {
public:
    explicit DesktopView(QWidget* parent = nullptr);

    // Input as the person gives it, in points of the primary screen (y down from its top).
    void click(QPointF point, cg::EventFlags flags = 0, bool right = false);
    void drag(QPointF from, QPointF to, cg::EventFlags flags = 0);
    void key(std::uint16_t keyCode, cg::EventFlags flags);
    // The person opens System Settings on a pane.
    void showSystemSettings(SystemSettingsWindow::Pane pane);

    // Called after each paint that first shows Stashbay's panel window when a key-down was the
    // last input before it (a click or a drag opens the panel untimed), with the time since that
    // key-down went into the world.
    void setPanelShown(std::function<void(std::chrono::nanoseconds sinceKey)> callback) {
        panelShown_ = std::move(callback);
    }

    QSize sizeHint() const override;
    // The one transform from the primary screen's points to the window's pixels: everything is
    // drawn through it and the pointer is read through its inverse.
    QTransform screenTransform() const;

    // The world may have changed what the desktop shows (after the loop ran): a repaint follows
    // only when it did. Whether one was asked for.
    bool worldMayHaveChanged();
    // One of Stashbay's windows asked to be drawn again: its place on the desktop is repainted.
    // Whether a paint was asked for.
    bool windowNeedsDisplay(sim::WindowNumber window);
    // Called after each paint.
    void setPainted(std::function<void()> callback) { painted_ = std::move(callback); }
    // The windows below the bar the last paint drew: one wholly under opaque windows, or outside
    // what that paint covered, is left out.
    std::size_t windowsDrawn() const { return windowsDrawn_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QPointF toWorld(QPointF widgetPoint) const;
    double scale() const;
    // The person's pointer into the world; the world's journal of events is kept short.
    void injectMouse(cg::EventType type, QPointF at, cg::EventFlags flags);
    // A press of the pointer or the wheel: a panel that opens now was not opened by a key.
    void pointerInput() { lastKeyDown_.reset(); }

    SystemSettingsWindow systemSettings_;
    // A press that System Settings took: its release and drags stay there too.
    bool pressInSystemSettings_ = false;
    bool panelWasVisible_ = false;
    std::optional<std::chrono::steady_clock::time_point> lastKeyDown_;
    std::function<void(std::chrono::nanoseconds)> panelShown_;
    std::optional<WorldPicture> shown_;
    std::function<void()> painted_;
    std::size_t windowsDrawn_ = 0;
    // The menu bar's clock changes each minute, whatever else happens.
    QTimer clockTick_;
};

// The platform's virtual key code of a Qt key on an ANSI layout; none for keys without one.
std::optional<std::uint16_t> virtualKeyCode(int qtKey);
// The virtual key code of a key's name in a script ("m", "space", "return"); none when unknown.
std::optional<std::uint16_t> virtualKeyCode(const std::string& name);

}  // namespace desktop
