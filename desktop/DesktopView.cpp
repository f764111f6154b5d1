#include "DesktopView.hpp"

#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "macos/sim/World.hpp"

#include <QDateTime>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

namespace desktop {

namespace {

QColor rgba(std::uint32_t c) { return QColor((c >> 24) & 0xFF, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

QRectF qrect(const cg::Rect& r) { return QRectF(r.minX(), r.minY(), r.width(), r.height()); }

cg::EventFlags flagsOf(Qt::KeyboardModifiers m) {
    cg::EventFlags flags = 0;
    if (m & Qt::ShiftModifier) flags |= cg::eventFlagMaskShift;
    if (m & Qt::ControlModifier) flags |= cg::eventFlagMaskControl;
    if (m & Qt::AltModifier) flags |= cg::eventFlagMaskAlternate;
    if (m & Qt::MetaModifier) flags |= cg::eventFlagMaskCommand;
    return flags;
}

const std::map<std::string, std::uint16_t>& keyNames() {
    static const std::map<std::string, std::uint16_t> names = {
        {"a", 0},       {"s", 1},      {"d", 2},    {"f", 3},       {"h", 4},       {"g", 5},       {"z", 6},
        {"x", 7},       {"c", 8},      {"v", 9},    {"b", 11},      {"q", 12},      {"w", 13},      {"e", 14},
        {"r", 15},      {"y", 16},     {"t", 17},   {"1", 18},      {"2", 19},      {"3", 20},      {"4", 21},
        {"6", 22},      {"5", 23},     {"9", 25},   {"7", 26},      {"8", 28},      {"0", 29},      {"o", 31},
        {"u", 32},      {"i", 34},     {"p", 35},   {"return", 36}, {"l", 37},      {"j", 38},      {"k", 40},
        {"n", 45},      {"m", 46},     {"tab", 48}, {"space", 49},  {"delete", 51}, {"escape", 53}, {"left", 123},
        {"right", 124}, {"down", 125}, {"up", 126},
    };
    return names;
}

// The glyph of one status item: its button's image for Stashbay's own items, else a small
// rounded mark in the item's colour, or the time for the clock.
void paintStatusItem(QPainter& p, const sim::StatusItem& item, const ns::Image* image) {
    QRectF frame = qrect(item.frame);
    if (image && image->cgImage()) {
        const auto& cg = *image->cgImage();
        QImage bitmap(cg.pixels().data(), static_cast<int>(cg.width()), static_cast<int>(cg.height()),
                      static_cast<int>(cg.bytesPerRow()), QImage::Format_RGBA8888_Premultiplied);
        QSizeF size(image->size().width, image->size().height);
        QRectF target(frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2, size.width(),
                      size.height());
        p.drawImage(target, bitmap);
        return;
    }
    if (item.spec.title && *item.spec.title == "Clock") {
        p.setPen(QColor(20, 20, 20));
        QFont font = p.font();
        font.setPixelSize(13);
        p.setFont(font);
        p.drawText(frame, Qt::AlignCenter, QDateTime::currentDateTime().toString("ddd HH:mm"));
        return;
    }
    QRectF glyph(frame.center().x() - 8, frame.center().y() - 8, 16, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(rgba(item.spec.iconColor));
    p.drawRoundedRect(glyph, 4, 4);
}

void paintMenu(QPainter& p, const sim::Window& window, const sim::StatusItem* item) {
    QRectF r = qrect(window.bounds);
    p.setPen(QColor(0, 0, 0, 40));
    p.setBrush(QColor(246, 246, 246, 245));
    p.drawRoundedRect(r, 6, 6);
    if (!item) return;
    QFont font = p.font();
    font.setPixelSize(13);
    p.setFont(font);
    double y = r.top() + 5;
    for (const auto& entry : item->spec.menu) {
        QRectF row(r.left() + 8, y, r.width() - 16, 22);
        if (entry.separator) {
            p.setPen(QColor(0, 0, 0, 40));
            p.drawLine(QPointF(row.left(), row.center().y()), QPointF(row.right(), row.center().y()));
        } else {
            p.setPen(entry.enabled ? QColor(20, 20, 20) : QColor(150, 150, 150));
            QString text = QString::fromStdString(entry.title.value_or(""));
            if (entry.markChar)
                text = QString::fromStdString(*entry.markChar) + " " + text;
            else
                text = "   " + text;
            if (!entry.submenu.empty()) text += QString::fromUtf8("  \u25B8");
            p.drawText(row, Qt::AlignVCenter | Qt::AlignLeft, text);
        }
        y += 22;
    }
}

// Stashbay's tooltip, above everything, kept on the screen.
void paintToolTip(QPainter& p, const QRectF& screen) {
    const auto& tip = ns::Application::shared().toolTip();
    if (!tip) return;
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const QString text = QString::fromStdString(tip->text);
    const QFontMetricsF metrics(font);
    QRectF box(tip->topLeft.x, tip->topLeft.y, metrics.horizontalAdvance(text) + 12, metrics.height() + 6);
    box.moveLeft(std::clamp(box.left(), screen.left(), std::max(screen.left(), screen.right() - box.width())));
    p.setPen(QColor(0, 0, 0, 60));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(box, 4, 4);
    p.setPen(QColor(30, 30, 30));
    p.drawText(box, Qt::AlignCenter, text);
}

}  // namespace

std::optional<std::uint16_t> virtualKeyCode(const std::string& name) {
    std::string lower;
    for (char c : name) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    auto it = keyNames().find(lower);
    if (it == keyNames().end()) return std::nullopt;
    return it->second;
}

std::optional<std::uint16_t> virtualKeyCode(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return virtualKeyCode(std::string(1, static_cast<char>('a' + (qtKey - Qt::Key_A))));
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return virtualKeyCode(std::string(1, static_cast<char>('0' + (qtKey - Qt::Key_0))));
    switch (qtKey) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return 36;
        case Qt::Key_Tab: return 48;
        case Qt::Key_Space: return 49;
        case Qt::Key_Backspace: return 51;
        case Qt::Key_Escape: return 53;
        case Qt::Key_Left: return 123;
        case Qt::Key_Right: return 124;
        case Qt::Key_Down: return 125;
        case Qt::Key_Up: return 126;
        default: return std::nullopt;
    }
}

DesktopView::DesktopView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    // The pointer's moves without a button reach the world too: hover and tooltips.
    setMouseTracking(true);
    setWindowTitle("Stashbay: simulated Mac");
}

QSize DesktopView::sizeHint() const {
    auto primary = sim::World::current().screens().primary();
    if (!primary) return {1280, 800};
    const auto& f = primary->spec().frame;
    return {static_cast<int>(f.width()), static_cast<int>(f.height())};
}

double DesktopView::scale() const {
    QSize hint = sizeHint();
    return std::min(double(width()) / hint.width(), double(height()) / hint.height());
}

QTransform DesktopView::screenTransform() const { return QTransform::fromScale(scale(), scale()); }

QPointF DesktopView::toWorld(QPointF p) const { return screenTransform().inverted().map(p); }

void DesktopView::injectMouse(cg::EventType type, QPointF at, cg::EventFlags flags) {
    auto& world = sim::World::current();
    // The journal is for tests; a person's pointer would grow it without end.
    if (world.events().routes().size() > 4096) world.clearHistory();
    world.events().injectUserMouse(type, {at.x(), at.y()}, flags);
}

void DesktopView::paintEvent(QPaintEvent*) {
    auto& world = sim::World::current();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::black);
    p.setTransform(screenTransform());
    auto primary = world.screens().primary();
    if (!primary) return;
    const auto& spec = primary->spec();
    const QRectF screen(0, 0, spec.frame.width(), spec.frame.height());
    const double barHeight = world.menuBarHeight();

    // The wallpaper.
    QLinearGradient sky(screen.topLeft(), screen.bottomRight());
    sky.setColorAt(0, QColor(38, 70, 140));
    sky.setColorAt(0.55, QColor(120, 82, 170));
    sky.setColorAt(1, QColor(230, 140, 120));
    p.fillRect(screen, sky);

    // Windows below the status bar level, back to front.
    auto ordered = world.windowServer().ordered();
    std::reverse(ordered.begin(), ordered.end());
    for (const auto* w : ordered) {
        if (!w->onScreen || w->layer >= sim::WindowLevel::statusItem) continue;
        QRectF r = qrect(w->bounds);
        if (w->layer > 0) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, 70));
            p.drawRoundedRect(r.adjusted(4, 8, -4, -6), 16, 16);
            continue;
        }
        p.setPen(QColor(0, 0, 0, 60));
        p.setBrush(QColor(250, 250, 250));
        p.drawRoundedRect(r, 10, 10);
        p.setBrush(QColor(232, 232, 232));
        p.drawRoundedRect(QRectF(r.left(), r.top(), r.width(), 28), 10, 10);
        const QColor lights[] = {QColor(255, 95, 87), QColor(254, 188, 46), QColor(40, 200, 64)};
        for (int i = 0; i < 3; ++i) {
            p.setBrush(lights[i]);
            p.drawEllipse(QPointF(r.left() + 16 + 20 * i, r.top() + 14), 6, 6);
        }
        p.setPen(QColor(60, 60, 60));
        p.drawText(QRectF(r.left(), r.top(), r.width(), 28), Qt::AlignCenter,
                   QString::fromStdString(w->name.value_or("")));
    }

    // System Settings, when something opened one of its panes.
    systemSettings_.sync(world);
    systemSettings_.paint(p, world);

    // The menu bar: the frontmost application's menus at the left, status items at the right.
    p.fillRect(QRectF(0, 0, screen.width(), barHeight), QColor(236, 236, 240, 215));
    QFont font = p.font();
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(QColor(20, 20, 20));
    p.setBrush(QColor(20, 20, 20));
    p.drawEllipse(QPointF(22, barHeight / 2), 6, 6);
    QString appName = "Finder";
    if (auto front = world.processes().frontmost())
        if (auto process = world.processes().find(*front))
            appName = QString::fromStdString(process->localizedName().value_or("Finder"));
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRectF(40, 0, 200, barHeight), Qt::AlignVCenter | Qt::AlignLeft, appName);
    p.setFont(font);
    double x = 40 + QFontMetricsF(bold).horizontalAdvance(appName) + 20;
    for (const char* title : {"File", "Edit", "View", "Window", "Help"}) {
        p.drawText(QRectF(x, 0, 80, barHeight), Qt::AlignVCenter | Qt::AlignLeft, title);
        x += QFontMetricsF(font).horizontalAdvance(title) + 20;
    }

    // Stashbay's own status items show their buttons' images.
    std::map<sim::WindowNumber, ns::Image> buttonImages;
    for (const auto& window : ns::Application::shared().windows()) {
        if (window->level() != ns::WindowLevel::statusBar) continue;
        try {
            auto value = window->valueForKey("statusItem");
            auto item = value ? value->as<ns::StatusItem>() : nullptr;
            if (item && item->button() && item->button()->image())
                buttonImages.emplace(window->windowNumber(), *item->button()->image());
        } catch (const ns::UnknownKeyException&) {
        }
    }
    for (const auto* item : world.statusItems()) {
        if (!item->onBar) continue;
        auto image = buttonImages.find(item->window);
        paintStatusItem(p, *item, image == buttonImages.end() ? nullptr : &image->second);
    }

    // The camera housing hides what is under it.
    if (spec.auxiliaryTopLeftArea && spec.auxiliaryTopRightArea && spec.safeAreaInsets.top > 0) {
        double left = spec.auxiliaryTopLeftArea->maxX();
        double right = spec.auxiliaryTopRightArea->minX();
        QPainterPath housing;
        housing.addRoundedRect(QRectF(left, -12, right - left, spec.safeAreaInsets.top + 12), 12, 12);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawPath(housing);
    }

    // Menus and panels above the bar.
    bool panelVisible = false;
    const auto self = world.processes().selfPid();
    for (const auto* w : ordered) {
        if (!w->onScreen || w->layer <= sim::WindowLevel::statusItem) continue;
        if (w->owner != self) {
            const sim::StatusItem* item = nullptr;
            if (world.openMenuWindow() == w->number) item = world.statusItem(*world.openMenuItem());
            paintMenu(p, *w, item);
            continue;
        }
        std::shared_ptr<ns::Window> window;
        for (const auto& candidate : ns::Application::shared().windows())
            if (candidate->windowNumber() == w->number) window = candidate;
        QRectF r = qrect(w->bounds);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 50));
        p.drawRoundedRect(r.adjusted(-1, 1, 1, 4), 12, 12);
        p.setBrush(QColor(242, 242, 247));
        p.drawRoundedRect(r, 11, 11);
        if (window && window->contentView()) {
            p.save();
            p.translate(r.topLeft());
            p.setClipRect(QRectF(0, 0, r.width(), r.height()));
            window->contentView()->draw(p, cg::Size{r.width(), r.height()});
            p.restore();
        }
        panelVisible = true;
    }
    paintToolTip(p, screen);
    paintBrowserNotice(p, world, screen);
    if (panelVisible && !panelWasVisible_ && panelShown_ && lastKeyDown_)
        panelShown_(std::chrono::steady_clock::now() - *lastKeyDown_);
    panelWasVisible_ = panelVisible;
}

void DesktopView::showSystemSettings(SystemSettingsWindow::Pane pane) {
    systemSettings_.show(pane);
    update();
}

void DesktopView::click(QPointF point, cg::EventFlags flags, bool right) {
    auto& world = sim::World::current();
    systemSettings_.sync(world);
    if (!right && systemSettings_.click(point, world)) {
        update();
        return;
    }
    auto& events = world.events();
    events.injectUserMouse(right ? cg::EventType::rightMouseDown : cg::EventType::leftMouseDown, {point.x(), point.y()},
                           flags);
    events.injectUserMouse(right ? cg::EventType::rightMouseUp : cg::EventType::leftMouseUp, {point.x(), point.y()},
                           flags);
}

void DesktopView::drag(QPointF from, QPointF to, cg::EventFlags flags) {
    auto& events = sim::World::current().events();
    events.injectUserMouse(cg::EventType::leftMouseDown, {from.x(), from.y()}, flags);
    constexpr int steps = 8;
    for (int i = 1; i <= steps; ++i) {
        QPointF at = from + (to - from) * (double(i) / steps);
        events.injectUserMouse(cg::EventType::leftMouseDragged, {at.x(), at.y()}, flags);
    }
    events.injectUserMouse(cg::EventType::leftMouseUp, {to.x(), to.y()}, flags);
}

void DesktopView::key(std::uint16_t keyCode, cg::EventFlags flags) {
    auto& events = sim::World::current().events();
    lastKeyDown_ = std::chrono::steady_clock::now();
    events.injectUserKey(cg::EventType::keyDown, keyCode, flags);
    events.injectUserKey(cg::EventType::keyUp, keyCode, flags);
}

void DesktopView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    auto at = toWorld(event->position());
    auto& world = sim::World::current();
    systemSettings_.sync(world);
    pressInSystemSettings_ = event->button() == Qt::LeftButton && systemSettings_.click(at, world);
    if (pressInSystemSettings_) {
        update();
        return;
    }
    const auto type = event->button() == Qt::RightButton ? cg::EventType::rightMouseDown : cg::EventType::leftMouseDown;
    injectMouse(type, at, flagsOf(event->modifiers()));
}

void DesktopView::mouseMoveEvent(QMouseEvent* event) {
    if (pressInSystemSettings_) return;
    const auto at = toWorld(event->position());
    if (event->buttons() & Qt::LeftButton)
        injectMouse(cg::EventType::leftMouseDragged, at, flagsOf(event->modifiers()));
    else if (event->buttons() == Qt::NoButton)
        injectMouse(cg::EventType::mouseMoved, at, flagsOf(event->modifiers()));
}

void DesktopView::wheelEvent(QWheelEvent* event) {
    const auto at = toWorld(event->position());
    auto scroll = std::make_shared<cg::Event>(cg::EventType::scrollWheel, cg::Point{at.x(), at.y()}, nullptr);
    scroll->setFlags(flagsOf(event->modifiers()));
    // A trackpad gives exact points; a wheel gives eighths of a degree, 120 to the notch, which
    // go as lines and as four to the point.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    const bool precise = !pixels.isNull();
    const QPoint points = precise ? pixels : angle / 4;
    scroll->setIntegerValue(cg::EventField::scrollWheelEventIsContinuous, precise ? 1 : 0);
    scroll->setIntegerValue(cg::EventField::scrollWheelEventPointDeltaAxis1, points.y());
    scroll->setIntegerValue(cg::EventField::scrollWheelEventPointDeltaAxis2, points.x());
    scroll->setIntegerValue(cg::EventField::scrollWheelEventDeltaAxis1, angle.y() / 120);
    scroll->setIntegerValue(cg::EventField::scrollWheelEventDeltaAxis2, angle.x() / 120);
    sim::World::current().events().injectUser(scroll);
    event->accept();
}

void DesktopView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    if (pressInSystemSettings_) {
        pressInSystemSettings_ = false;
        return;
    }
    auto at = toWorld(event->position());
    const auto type = event->button() == Qt::RightButton ? cg::EventType::rightMouseUp : cg::EventType::leftMouseUp;
    injectMouse(type, at, flagsOf(event->modifiers()));
}

void DesktopView::keyPressEvent(QKeyEvent* event) {
    auto code = virtualKeyCode(event->key());
    if (!code) return;
    if (!event->isAutoRepeat()) lastKeyDown_ = std::chrono::steady_clock::now();
    sim::World::current().events().injectUserKey(cg::EventType::keyDown, *code, flagsOf(event->modifiers()),
                                                 event->isAutoRepeat());
}

void DesktopView::keyReleaseEvent(QKeyEvent* event) {
    auto code = virtualKeyCode(event->key());
    if (!code || event->isAutoRepeat()) return;
    sim::World::current().events().injectUserKey(cg::EventType::keyUp, *code, flagsOf(event->modifiers()));
}

}  // namespace desktop
