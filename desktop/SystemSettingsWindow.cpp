#include "SystemSettingsWindow.hpp"

#include "macos/Foundation/Error.hpp"
#include "macos/ServiceManagement/AppService.hpp"
#include "macos/sim/SystemSettings.hpp"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <array>

namespace desktop {

namespace {

using Pane = SystemSettingsWindow::Pane;

constexpr double sidebarWidth = 170;
constexpr std::array<Pane, 3> panes{Pane::accessibility, Pane::screenRecording, Pane::loginItems};

QString paneTitle(Pane pane) {
    switch (pane) {
        case Pane::accessibility: return QStringLiteral("Accessibility");
        case Pane::screenRecording: return QStringLiteral("Screen Recording");
        case Pane::loginItems: return QStringLiteral("Login Items");
    }
    return {};
}

QString paneText(Pane pane) {
    switch (pane) {
        case Pane::accessibility: return QStringLiteral("Allow the applications below to control your computer.");
        case Pane::screenRecording:
            return QStringLiteral("Allow the applications below to record the contents of your screen.");
        case Pane::loginItems: return QStringLiteral("These items open automatically when you log in.");
    }
    return {};
}

QFont font(double pixels, bool bold = false) {
    QFont f;
    f.setPixelSize(static_cast<int>(pixels));
    f.setBold(bold);
    return f;
}

void paintSwitch(QPainter& p, const QRectF& r, bool on) {
    QPainterPath track;
    track.addRoundedRect(r, r.height() / 2, r.height() / 2);
    p.fillPath(track, on ? QColor(52, 120, 246) : QColor(210, 210, 214));
    const double d = r.height() - 4;
    const QRectF knob(on ? r.right() - 2 - d : r.left() + 2, r.top() + 2, d, d);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(knob);
}

}  // namespace

QRectF SystemSettingsWindow::sidebarRow(Pane pane) {
    const auto index = static_cast<double>(static_cast<int>(pane));
    return QRectF(frame().left() + 8, frame().top() + 40 + 28 * index, sidebarWidth - 16, 26);
}

void SystemSettingsWindow::sync(sim::World& world) {
    const auto& opened = world.permissions().openedSettingsURLs;
    if (opened.size() <= seenOpenings_) return;
    seenOpenings_ = opened.size();
    if (auto pane = sim::systemSettings::paneOf(opened.back()))
        show(*pane == sim::systemSettings::PrivacyPane::accessibility ? Pane::accessibility : Pane::screenRecording);
}

void SystemSettingsWindow::show(Pane pane) {
    shown_ = true;
    pane_ = pane;
}

QString SystemSettingsWindow::loginItemStatus() {
    switch (sm::AppService::mainApp().status()) {
        case sm::AppService::Status::enabled: return QStringLiteral("Registered");
        case sm::AppService::Status::notRegistered: return QStringLiteral("Not registered");
        case sm::AppService::Status::requiresApproval: return QStringLiteral("Requires approval");
        case sm::AppService::Status::notFound: return QStringLiteral("Not found");
    }
    return {};
}

bool SystemSettingsWindow::switchOn(const sim::World& world) const {
    switch (pane_) {
        case Pane::accessibility: return world.permissions().accessibility;
        case Pane::screenRecording: return world.permissions().screenRecording;
        case Pane::loginItems: return refuseLoginItemChanges_;
    }
    return false;
}

void SystemSettingsWindow::paint(QPainter& p, const sim::World& world) const {
    if (!shown_) return;
    const QRectF r = frame();
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRoundedRect(r.adjusted(-1, 2, 1, 6), 12, 12);
    p.setBrush(QColor(250, 250, 252));
    p.drawRoundedRect(r, 11, 11);
    // The sidebar with the three panes.
    QPainterPath sidebar;
    sidebar.addRoundedRect(QRectF(r.left(), r.top(), sidebarWidth, r.height()), 11, 11);
    p.fillPath(sidebar, QColor(232, 232, 236));
    const QColor lights[] = {QColor(255, 95, 87), QColor(254, 188, 46), QColor(40, 200, 64)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(lights[i]);
        p.drawEllipse(QPointF(closeButton().center().x() + 20 * i, closeButton().center().y()), 6, 6);
    }
    for (const auto pane : panes) {
        const auto row = sidebarRow(pane);
        if (pane == pane_) {
            p.setBrush(QColor(52, 120, 246));
            p.drawRoundedRect(row, 6, 6);
        }
        p.setFont(font(13));
        p.setPen(pane == pane_ ? Qt::white : QColor(30, 30, 30));
        p.drawText(row.adjusted(10, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, paneTitle(pane));
    }

    // The pane: the window's name, the pane's title and text, then Stashbay's row with the switch.
    const double left = r.left() + sidebarWidth + 20;
    const double width = r.right() - 20 - left;
    p.setFont(font(12, true));
    p.setPen(QColor(120, 120, 125));
    p.drawText(QRectF(left, r.top() + 4, width, 20), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("System Settings"));
    p.setFont(font(17, true));
    p.setPen(QColor(20, 20, 20));
    p.drawText(QRectF(left, r.top() + 36, width, 24), Qt::AlignVCenter | Qt::AlignLeft, paneTitle(pane_));
    p.setFont(font(12));
    p.setPen(QColor(110, 110, 115));
    p.drawText(QRectF(left, r.top() + 64, width, 32), Qt::AlignLeft | Qt::TextWordWrap, paneText(pane_));
    const QRectF row(left, r.top() + 102, width, 42);
    p.setPen(QColor(0, 0, 0, 25));
    p.setBrush(Qt::white);
    p.drawRoundedRect(row, 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(88, 86, 214));
    p.drawRoundedRect(QRectF(row.left() + 10, row.center().y() - 10, 20, 20), 5, 5);
    p.setFont(font(13));
    p.setPen(QColor(20, 20, 20));
    p.drawText(QRectF(row.left() + 40, row.top(), 150, row.height()), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Stashbay"));
    if (pane_ == Pane::loginItems) {
        p.setFont(font(12));
        p.setPen(QColor(110, 110, 115));
        p.drawText(QRectF(row.left() + 110, row.top(), 150, row.height()), Qt::AlignVCenter | Qt::AlignLeft,
                   loginItemStatus());
        p.drawText(QRectF(switchRect().left() - 110, row.top(), 102, row.height()), Qt::AlignVCenter | Qt::AlignRight,
                   QStringLiteral("Refuse changes"));
    }
    paintSwitch(p, switchRect(), switchOn(world));
    p.restore();
}

bool SystemSettingsWindow::click(QPointF point, sim::World& world) {
    if (!shown_ || !frame().contains(point)) return false;
    if (closeButton().adjusted(-4, -4, 4, 4).contains(point)) {
        shown_ = false;
        return true;
    }
    for (const auto pane : panes)
        if (sidebarRow(pane).contains(point)) pane_ = pane;
    if (!switchRect().contains(point)) return true;
    using sim::systemSettings::PrivacyPane;
    switch (pane_) {
        case Pane::accessibility:
            sim::systemSettings::setAllowed(world, PrivacyPane::accessibility, !world.permissions().accessibility);
            break;
        case Pane::screenRecording:
            sim::systemSettings::setAllowed(world, PrivacyPane::screenRecording, !world.permissions().screenRecording);
            break;
        case Pane::loginItems: {
            refuseLoginItemChanges_ = !refuseLoginItemChanges_;
            sm::AppService::Faults faults;
            if (refuseLoginItemChanges_) {
                const ns::Error refusal(sm::AppService::serviceErrorDomain, 1, "Operation not permitted");
                faults.registerError = refusal;
                faults.unregisterError = refusal;
            }
            sm::AppService::mainApp().setFaults(faults);
            break;
        }
    }
    return true;
}

void paintBrowserNotice(QPainter& p, const sim::World& world, QRectF screen) {
    const auto& opened = world.permissions().openedWebURLs;
    if (opened.empty()) return;
    const QString text = QStringLiteral("The browser was asked to open ") + QString::fromStdString(opened.back());
    p.save();
    p.setFont(font(13));
    const double width = QFontMetricsF(p.font()).horizontalAdvance(text) + 32;
    const QRectF notice(screen.center().x() - width / 2, screen.bottom() - 60, width, 34);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 34, 225));
    p.drawRoundedRect(notice, 10, 10);
    p.setPen(Qt::white);
    p.drawText(notice, Qt::AlignCenter, text);
    p.restore();
}

}  // namespace desktop
