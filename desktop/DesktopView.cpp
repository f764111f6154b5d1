#include "DesktopView.hpp"

#include "macos/AppKit/Application.hpp"
#include "macos/sim/StatusItemDrawing.hpp"
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
#include <cmath>
#include <map>
#include <string>

namespace desktop {

namespace {

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

void paintMenu(QPainter& p, const sim::Window& window, const sim::World::MenuLevel* level) {
    QRectF r = qrect(window.bounds);
    p.setPen(QColor(0, 0, 0, 40));
    p.setBrush(QColor(246, 246, 246, 245));
    p.drawRoundedRect(r, 6, 6);
    if (!level) return;
    QFont font = p.font();
    font.setPixelSize(13);
    p.setFont(font);
    // A menu without entries shows its application's name, greyed, as its one row.
    if (level->entries->empty()) {
        auto process = sim::World::current().processes().find(window.owner);
        p.setPen(QColor(150, 150, 150));
        p.drawText(QRectF(r.left() + 8, r.top() + sim::World::menuPadding, r.width() - 16, sim::World::menuRowHeight),
                   Qt::AlignVCenter | Qt::AlignLeft,
                   "   " + QString::fromStdString(process ? process->localizedName().value_or("") : ""));
        return;
    }
    double y = r.top() + sim::World::menuPadding;
    for (std::size_t i = 0; i < level->entries->size(); ++i) {
        const auto& entry = (*level->entries)[i];
        QRectF row(r.left() + 8, y, r.width() - 16, sim::World::menuRowHeight);
        const bool lit = level->highlighted == i;
        if (lit) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(10, 100, 230));
            p.drawRoundedRect(row.adjusted(-4, 0, 4, 0), 4, 4);
        }
        if (entry.separator) {
            p.setPen(QColor(0, 0, 0, 40));
            p.drawLine(QPointF(row.left(), row.center().y()), QPointF(row.right(), row.center().y()));
        } else {
            p.setPen(lit ? QColor(Qt::white) : entry.enabled ? QColor(20, 20, 20) : QColor(150, 150, 150));
            QString text = QString::fromStdString(entry.title.value_or(""));
            // An empty mark is a switch turned off: drawn as no mark.
            if (entry.markChar && !entry.markChar->empty())
                text = QString::fromStdString(*entry.markChar) + " " + text;
            else
                text = "   " + text;
            p.drawText(row, Qt::AlignVCenter | Qt::AlignLeft, text);
            if (!entry.submenu.empty()) p.drawText(row, Qt::AlignVCenter | Qt::AlignRight, QString::fromUtf8("\u25B8"));
        }
        y += sim::World::menuRowHeight;
    }
}

// Grey lines standing for an application's own content.
void paintContentLines(QPainter& p, QRectF area, int lines) {
    p.setPen(Qt::NoPen);
    // A window under others shows in slivers: a line wholly outside them is not drawn at all.
    const QRectF clip = p.hasClipping() ? p.clipBoundingRect() : QRectF();
    for (int i = 0; i < lines && area.top() + 18.0 * (i + 1) <= area.bottom(); ++i) {
        double width = area.width() * (i % 3 == 2 ? 0.55 : i % 2 ? 0.75 : 0.9);
        const QRectF line(area.left(), area.top() + 18.0 * i, width, 9);
        if (!clip.isNull() && !clip.intersects(line.adjusted(-1, -1, 1, 1))) continue;
        p.setBrush(QColor(0, 0, 0, i == 0 ? 55 : 28));
        p.drawRoundedRect(line, 4, 4);
    }
}

// A window another application opened from its status item: a popover with the application's
// name, a few rows and a button.
void paintPopover(QPainter& p, const sim::Window& window, const sim::StatusItem* item) {
    QRectF r = qrect(window.bounds);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(r.adjusted(-1, 1, 1, 4), 12, 12);
    p.setBrush(QColor(245, 245, 247));
    p.drawRoundedRect(r, 11, 11);
    QRectF header(r.left() + 16, r.top() + 12, r.width() - 32, 26);
    if (item) {
        QPainter::RenderHints hints = p.renderHints();
        sim::paintStatusItem(p, sim::World::current(), *item, QRectF(header.left(), header.top(), 24, 26));
        p.setRenderHints(hints);
    }
    QFont font = p.font();
    font.setPixelSize(15);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(20, 20, 20));
    p.drawText(header.adjusted(30, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
               QString::fromStdString(window.name.value_or("")));
    font.setBold(false);
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(QColor(110, 110, 115));
    p.drawText(QRectF(header.left(), header.bottom() + 2, header.width(), 18), Qt::AlignVCenter | Qt::AlignLeft,
               "Updated just now");
    paintContentLines(p, QRectF(header.left(), header.bottom() + 30, header.width(), r.bottom() - header.bottom() - 80),
                      6);
    QRectF button(r.right() - 16 - 110, r.bottom() - 16 - 26, 110, 26);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 100, 230));
    p.drawRoundedRect(button, 6, 6);
    p.setPen(Qt::white);
    p.drawText(button, Qt::AlignCenter, "Open " + QString::fromStdString(window.name.value_or("App")));
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

// A window of an application below the bar: a translucent glass of a higher level, or an ordinary
// window with its title bar, a sidebar and rows of content.
void paintWindow(QPainter& p, const sim::Window& w) {
    QRectF r = qrect(w.bounds);
    if (w.layer > 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 70));
        p.drawRoundedRect(r.adjusted(4, 8, -4, -6), 16, 16);
        return;
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
    p.drawText(QRectF(r.left(), r.top(), r.width(), 28), Qt::AlignCenter, QString::fromStdString(w.name.value_or("")));
    // A sidebar and rows of the application's content.
    if (r.height() > 60 && r.width() > 200) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(236, 236, 240));
        p.drawRect(QRectF(r.left(), r.top() + 28, 160, r.height() - 38));
        paintContentLines(p, QRectF(r.left() + 16, r.top() + 44, 128, r.height() - 60), 8);
        paintContentLines(p, QRectF(r.left() + 180, r.top() + 44, r.width() - 200, r.height() - 60), 16);
    }
}

// An ordinary window's fill is opaque inside its rounded corners (radius 10 at most); what lies
// under those pixels never shows. In the window's pixels, those wholly inside that fill.
QRect opaqueBody(const sim::Window& window, const QTransform& transform) {
    if (window.layer > sim::WindowLevel::normal) return {};
    const QRectF body = transform.mapRect(qrect(window.bounds).adjusted(4, 4, -4, -4));
    const int left = static_cast<int>(std::ceil(body.left()));
    const int top = static_cast<int>(std::ceil(body.top()));
    const int right = static_cast<int>(std::floor(body.right()));
    const int bottom = static_cast<int>(std::floor(body.bottom()));
    if (right <= left || bottom <= top) return {};
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

// A window below the bar and the part of it that shows, in the window's pixels.
struct WindowInView {
    const sim::Window* window;
    QRegion shows;
};

// The windows below the bar that show in `region` (the window's pixels), back to front. Front to
// back, each shows in what is left of the region and takes from it what its opaque body covers:
// a window wholly under opaque windows, or outside the region, would leave the picture as it is,
// and so would one drawn only where it shows.
std::vector<WindowInView> windowsInView(const std::vector<const sim::Window*>& frontToBack, QRegion region,
                                        const QTransform& transform) {
    std::vector<WindowInView> inView;
    for (const auto* w : frontToBack) {
        if (region.isEmpty()) break;
        if (!w->onScreen || w->layer >= sim::WindowLevel::statusItem) continue;
        // The outline and its antialiasing reach a little past the bounds.
        const QRect reach =
            transform.mapRect(qrect(w->bounds).adjusted(-1, -1, 1, 1)).toAlignedRect().adjusted(-1, -1, 1, 1);
        if (!region.intersects(reach)) continue;
        inView.push_back({w, region.intersected(reach)});
        if (const QRect body = opaqueBody(*w, transform); !body.isEmpty()) region -= body;
    }
    std::reverse(inView.begin(), inView.end());
    return inView;
}

// A status item where the bar shows it.
struct ItemOnBar {
    const sim::StatusItem* item;
    cg::Rect frame;
};

// The items the bar shows, in the order they are drawn. During a Command-drag the others stand as
// the drop will leave them and the dragged item follows the pointer along the bar, over them;
// the world's own frames change only at the drop.
std::vector<ItemOnBar> itemsOnBar(const sim::World& world, double barWidth) {
    std::vector<ItemOnBar> out;
    const auto drag = world.events().itemDrag();
    if (!drag) {
        for (const auto* item : world.statusItems())
            if (item->shown) out.push_back({item, item->frame});
        return out;
    }
    auto bar = world.menuBar();
    if (drag->over) bar.moveLeftOf(drag->item, *drag->over);
    const auto places = world.layoutOf(bar);
    for (std::size_t i = 0; i < places.size(); ++i)
        if (bar.order()[i] != drag->item && places[i].shown)
            out.push_back({world.statusItem(bar.order()[i]), places[i].frame});
    const auto* dragged = world.statusItem(drag->item);
    cg::Rect frame = dragged->frame;
    frame.origin.x =
        std::clamp(drag->pointer.x - (drag->pressedAt.x - frame.minX()), 0.0, std::max(0.0, barWidth - frame.width()));
    out.push_back({dragged, frame});
    return out;
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
    clockTick_.setSingleShot(true);
    clockTick_.setTimerType(Qt::CoarseTimer);
    auto armClock = [this] {
        const auto now = QDateTime::currentDateTime();
        const QTime time = now.time();
        clockTick_.start(static_cast<int>(now.msecsTo(now.addSecs(60 - time.second()).addMSecs(-time.msec()))) + 50);
    };
    QObject::connect(&clockTick_, &QTimer::timeout, this, [this, armClock] {
        worldMayHaveChanged();
        armClock();
    });
    armClock();
}

bool DesktopView::worldMayHaveChanged() {
    auto picture = WorldPicture::of(sim::World::current(), systemSettings_);
    if (shown_ && *shown_ == picture) return false;
    shown_ = std::move(picture);
    update();
    return true;
}

bool DesktopView::windowNeedsDisplay(sim::WindowNumber number) {
    const auto* w = sim::World::current().windowServer().find(number);
    if (!w || !w->onScreen) return false;
    // With the panel's shadow around it.
    const QRectF area = qrect(w->bounds).adjusted(-2, -2, 2, 5);
    update(QRectF(area.topLeft() * scale(), area.size() * scale()).toAlignedRect());
    return true;
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

void DesktopView::paintEvent(QPaintEvent* event) {
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

    // Windows below the status bar level, back to front: only those that show.
    auto ordered = world.windowServer().ordered();
    const auto inView = windowsInView(ordered, event->region(), screenTransform());
    windowsDrawn_ = inView.size();
    std::reverse(ordered.begin(), ordered.end());
    for (const auto& [w, shows] : inView) {
        // Drawn only where it shows: the pixels there are those of the whole window.
        for (const QRect& part : shows) {
            p.save();
            p.resetTransform();
            p.setClipRect(part);
            p.setTransform(screenTransform());
            paintWindow(p, *w);
            p.restore();
        }
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

    // Stashbay's item is selected while its panel shows.
    const auto self = world.processes().selfPid();
    bool panelOpen = false;
    for (const auto* w : ordered)
        if (w->onScreen && w->layer > sim::WindowLevel::statusItem && w->owner == self) panelOpen = true;
    // Only the items the bar shows: one under the housing or pushed off is not drawn.
    for (const auto& [item, frame] : itemsOnBar(world, screen.width())) {
        sim::StatusItemLook look;
        look.highlighted = sim::statusItemHighlighted(world, *item) || (panelOpen && item->owner == self);
        sim::paintStatusItem(p, world, *item, qrect(frame), look);
    }

    // The camera housing.
    if (auto camera = sim::MenuBar::housing(spec)) {
        QPainterPath housing;
        housing.addRoundedRect(QRectF(camera->minX(), -12, camera->width(), camera->height() + 12), 12, 12);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawPath(housing);
    }

    // Menus and panels above the bar.
    bool panelVisible = false;
    const auto menuLevels = world.openMenuLevels();
    // Back to front, so that a submenu lies over its menu.
    for (const auto* w : ordered) {
        if (!w->onScreen || w->layer <= sim::WindowLevel::statusItem) continue;
        if (w->owner != self) {
            if (world.openPopoverWindow() == w->number) {
                paintPopover(p, *w, world.statusItem(*world.openPopoverItem()));
                continue;
            }
            auto level = std::find_if(menuLevels.begin(), menuLevels.end(),
                                      [w](const auto& l) { return l.window == w->number; });
            paintMenu(p, *w, level == menuLevels.end() ? nullptr : &*level);
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
    // One figure for the key-down that opened the panel; a later opening needs a key-down of its own.
    if (panelVisible && !panelWasVisible_ && lastKeyDown_) {
        if (panelShown_) panelShown_(std::chrono::steady_clock::now() - *lastKeyDown_);
        lastKeyDown_.reset();
    }
    panelWasVisible_ = panelVisible;
    if (painted_) painted_();
}

void DesktopView::showSystemSettings(SystemSettingsWindow::Pane pane) {
    systemSettings_.show(pane);
    update();
}

void DesktopView::click(QPointF point, cg::EventFlags flags, bool right) {
    pointerInput();
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
    pointerInput();
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
    pointerInput();
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
    pointerInput();
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
