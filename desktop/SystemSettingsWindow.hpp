#pragma once

#include "macos/sim/World.hpp"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstddef>

class QPainter;

namespace desktop {

// System Settings on the simulated Mac: a window that comes up on the pane that something opened
// (the app's links to the privacy panes), where the person switches Stashbay's Accessibility or
// Screen Recording on or off, reads Stashbay's login item and can make the item's next changes
// fail. It belongs to another application, so the desktop paints it and answers its clicks; the
// switches reach the world's permissions, which the app sees at its next check.
class SystemSettingsWindow {
public:
    enum class Pane { accessibility, screenRecording, loginItems };

    // Where the window stands on the primary screen, in points (y down from the top).
    static QRectF frame() { return QRectF(60, 110, 560, 300); }
    static QRectF closeButton() { return QRectF(frame().left() + 10, frame().top() + 8, 12, 12); }
    static QRectF sidebarRow(Pane pane);
    // The pane's one switch: Stashbay's permission, or whether the login item refuses changes.
    static QRectF switchRect() { return QRectF(frame().right() - 62, frame().top() + 112, 38, 22); }

    // Follows the world: each newly opened privacy-pane address brings the window up on its pane.
    void sync(sim::World& world);
    void show(Pane pane);
    bool isShown() const { return shown_; }
    Pane pane() const { return pane_; }

    void paint(QPainter& painter, const sim::World& world) const;
    // The person's click at a point of the screen; true when the window took it.
    bool click(QPointF point, sim::World& world);

    // The login item's status as the pane words it.
    static QString loginItemStatus();

private:
    bool switchOn(const sim::World& world) const;

    bool shown_ = false;
    Pane pane_ = Pane::accessibility;
    bool refuseLoginItemChanges_ = false;
    std::size_t seenOpenings_ = 0;
};

// The browser's notice at the bottom of the screen: the last web link the world was asked to open.
void paintBrowserNotice(QPainter& painter, const sim::World& world, QRectF screen);

}  // namespace desktop
