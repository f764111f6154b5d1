#include "Views/StashbayPanel/StashbayPanelView.hpp"

#include "App/AppDelegate.hpp"
#include "Persistence/UserPreferences.hpp"
#include "Views/StashbayPanel/AppPanelContext.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/Foundation/NotificationCenter.hpp"

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace stashbay {

namespace {

// A platform window as the positioner moves it.
class PlatformWindow final : public PositionedWindow {
public:
    explicit PlatformWindow(std::shared_ptr<ns::Window> window) : window_(std::move(window)) {}

    const ns::Window* window() const { return window_.get(); }
    cg::Rect frame() const override { return window_->frame(); }
    void setFrameOrigin(cg::Point origin) override {
        auto frame = window_->frame();
        frame.origin = origin;
        window_->setFrame(frame);
    }
    std::vector<std::any> observeResizeAndBecomeKey(std::function<void()> handler) override {
        auto shared = std::make_shared<std::function<void()>>(std::move(handler));
        const auto object = reinterpret_cast<std::uintptr_t>(window_.get());
        std::vector<std::any> registrations;
        for (const char* name : {ns::windowDidResizeNotification, ns::windowDidBecomeKeyNotification}) {
            auto token = ns::NotificationCenter::defaultCenter().addObserver(
                name, &ns::OperationQueue::main(), [shared, object](const ns::Notification& notification) {
                    if (notification.object == object) (*shared)();
                });
            registrations.emplace_back(std::make_shared<Registration>(std::move(token)));
        }
        return registrations;
    }

private:
    struct Registration {
        explicit Registration(ns::NotificationObserverToken token) : token(std::move(token)) {}
        ~Registration() { ns::NotificationCenter::defaultCenter().removeObserver(token); }
        ns::NotificationObserverToken token;
    };
    std::shared_ptr<ns::Window> window_;
};

// Draws a widget and its children with their top-left at the painter's origin, through the
// painter's transform. QWidget::render into a scaled painter misplaces and clips what the
// children and their effects draw, so the widget is rendered untransformed into an image as sharp
// as the painter shows it, and that image is drawn through the transform.
void drawWidget(QPainter& painter, QWidget& widget) {
    if (widget.width() <= 0 || widget.height() <= 0) return;
    const QTransform device = painter.deviceTransform();
    const double shown = std::max(std::hypot(device.m11(), device.m12()), std::hypot(device.m21(), device.m22()));
    // Whole ratios, which the widgets' own drawing is made for.
    const double ratio = std::clamp(std::ceil(shown - 0.01), 1.0, 4.0);
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(widget.size())), image);
    painter.restore();
}

std::shared_ptr<PositionedWindow> statusItemWindow() {
    auto window = AppDelegate::statusItemWindow();
    return window ? std::make_shared<PlatformWindow>(std::move(window)) : nullptr;
}

}  // namespace

StashbayPanelView::StashbayPanelView() : positioner_(statusItemWindow) {}

StashbayPanelView::~StashbayPanelView() = default;

StashbayPanelWidget& StashbayPanelView::widget() const {
    if (widget_) return *widget_;
    auto state = environment_.object<AppState>();
    auto permissions = environment_.object<PermissionsManager>();
    // Read so that a scene without it fails here, as the views that use it will.
    (void)environment_.object<UserPreferences>();
    AppPanelContext::Windows windows;
    windows.keyWindowContentView = [this]() -> QWidget* {
        auto key = ns::Application::shared().keyWindow();
        return key && key == window() ? widget_.get() : nullptr;
    };
    windows.orderOutKeyWindow = [] {
        if (auto key = ns::Application::shared().keyWindow()) key->orderOut();
    };
    windows.terminate = [] { ns::Application::shared().terminate(); };
    auto* self = const_cast<StashbayPanelView*>(this);
    windows.popUpMenu = [self](std::unique_ptr<QMenu> menu, const QPoint& location) {
        self->showMenu(std::move(menu), location);
    };
    context_ = std::make_shared<AppPanelContext>(std::move(state), std::move(permissions), std::move(windows));
    widget_ = std::make_unique<StashbayPanelWidget>(context_);
    // Shown to Qt (it animates and takes events only while shown) but drawn into the window.
    widget_->setAttribute(Qt::WA_DontShowOnScreen);
    if (modeContentFactory_) widget_->setModeContentFactory(modeContentFactory_);
    widget_->setDidRender([self] {
        if (self->hasAppeared_) self->positioner_.viewUpdated(self->positionedWindow());
    });
    widget_->setPaintRequested([self] { self->setNeedsDisplay(); });
    return *widget_;
}

std::shared_ptr<PositionedWindow> StashbayPanelView::positionedWindow() const {
    auto current = window();
    if (!current) return nullptr;
    auto* known = dynamic_cast<PlatformWindow*>(positionedWindow_.get());
    if (!known || known->window() != current.get()) positionedWindow_ = std::make_shared<PlatformWindow>(current);
    return positionedWindow_;
}

void StashbayPanelView::viewDidMoveToWindow() {
    positioner_.viewCreated([this] { return positionedWindow(); });
}

void StashbayPanelView::showMenu(std::unique_ptr<QMenu> menu, const QPoint& location) {
    menu_.reset();
    auto current = window();
    if (!current || !widget_) return;
    // The location is in the widget's global coordinates; the widget fills the window.
    const QPoint inPanel = widget_->mapFromGlobal(location);
    const cg::Rect frame = current->frame();
    menu_ =
        std::make_unique<PopUpMenu>(std::move(menu), cg::Point{frame.minX() + inPanel.x(), frame.maxY() - inPanel.y()},
                                    [](QAction* chosen) { chosen->trigger(); });
}

void StashbayPanelView::setModeContentFactory(StashbayPanelWidget::ModeContentFactory factory) {
    modeContentFactory_ = std::move(factory);
    if (widget_) widget_->setModeContentFactory(modeContentFactory_);
}

void StashbayPanelView::fitWidget(cg::Size size) const {
    if (auto w = window()) size = w->frame().size;
    const QSize wanted(static_cast<int>(std::lround(size.width)), static_cast<int>(std::lround(size.height)));
    if (wanted.isValid() && !wanted.isEmpty() && widget().size() != wanted) widget().resize(wanted);
}

cg::Size StashbayPanelView::fittingSize() const {
    auto& w = widget();
    return {static_cast<double>(w.width()), static_cast<double>(w.contentHeight())};
}

void StashbayPanelView::viewDidAppear() {
    hasAppeared_ = true;
    fitWidget(fittingSize());
    widget().show();
}

void StashbayPanelView::viewDidDisappear() {
    hasAppeared_ = false;
    menu_.reset();
    if (widget_) widget_->hide();
}

void StashbayPanelView::mouseDown(cg::Point location) { click(location, Qt::LeftButton); }

void StashbayPanelView::rightMouseDown(cg::Point location) { click(location, Qt::RightButton); }

void StashbayPanelView::click(cg::Point location, Qt::MouseButton button) {
    // A click in the panel closes its pop-up menu, as a click outside a menu does.
    if (menu_) menu_->close();
    auto& root = widget();
    fitWidget({static_cast<double>(root.width()), static_cast<double>(root.height())});
    root.render();
    const QPoint at(static_cast<int>(std::floor(location.x)), static_cast<int>(std::floor(location.y)));
    QWidget* target = root.childAt(at);
    if (!target) target = &root;
    const QPointF local = target->mapFrom(&root, QPointF(location.x, location.y));
    QMouseEvent press(QEvent::MouseButtonPress, local, target->mapToGlobal(local), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, target->mapToGlobal(local), button, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

StashbayPanelModel::Key StashbayPanelView::keyOf(const ns::Event& event) {
    using Key = StashbayPanelModel::Key;
    switch (event.keyCode()) {
        case 53: return Key::escape;
        case 123: return Key::leftArrow;
        case 124: return Key::rightArrow;
        case 36:
        case 76: return Key::returnKey;
        case 49: return Key::space;
        default: return Key::other;
    }
}

StashbayPanelModel::Modifiers StashbayPanelView::modifiersOf(const ns::Event& event) {
    const auto flags = event.modifierFlags();
    return {(flags & ns::modifierFlagControl) != 0, (flags & ns::modifierFlagShift) != 0,
            (flags & ns::modifierFlagOption) != 0, (flags & ns::modifierFlagCommand) != 0};
}

void StashbayPanelView::keyDown(const ns::Event& event) {
    // An open menu tracks the keyboard: its keys never reach the panel (Escape closes only it).
    if (menu_ && menu_->isOpen()) {
        menu_->keyDown(event.keyCode());
        return;
    }
    (void)model().handleKey(keyOf(event), modifiersOf(event));
}

void StashbayPanelView::draw(QPainter& painter, cg::Size size) const {
    auto& root = widget();
    // A paint shows the layout as it stands; only a change not laid out yet is applied first.
    fitWidget(size);
    root.renderIfPending();
    drawWidget(painter, root);
}

QWidget* StashbayPanelView::widgetAt(cg::Point location) const {
    auto& root = widget();
    QWidget* target =
        root.childAt(QPoint(static_cast<int>(std::floor(location.x)), static_cast<int>(std::floor(location.y))));
    return target ? target : &root;
}

void StashbayPanelView::mouseMoved(cg::Point location) {
    QWidget* target = widgetAt(location);
    setHovered(target, location);
    const QPointF local = target->mapFrom(&widget(), QPointF(location.x, location.y));
    QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
}

void StashbayPanelView::mouseExited() {
    if (widget_) setHovered(nullptr, {});
}

void StashbayPanelView::setHovered(QWidget* target, cg::Point location) {
    auto& root = widget();
    auto chain = [&root](QWidget* innermost) {
        std::vector<QPointer<QWidget>> widgets;
        for (QWidget* w = innermost; w; w = w == &root ? nullptr : w->parentWidget()) widgets.emplace_back(w);
        return widgets;
    };
    const auto before = chain(hovered_.data());
    const auto now = chain(target);
    hovered_ = target;
    // Left from the innermost out, entered from the outermost in.
    for (const auto& w : before) {
        if (!w || std::find(now.begin(), now.end(), w) != now.end()) continue;
        w->setAttribute(Qt::WA_UnderMouse, false);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(w, &leave);
    }
    for (auto it = now.rbegin(); it != now.rend(); ++it) {
        const QPointer<QWidget>& w = *it;
        if (!w || std::find(before.begin(), before.end(), w) != before.end()) continue;
        w->setAttribute(Qt::WA_UnderMouse, true);
        const QPointF local = w->mapFrom(&root, QPointF(location.x, location.y));
        QEnterEvent enter(local, local, w->mapToGlobal(local));
        QCoreApplication::sendEvent(w, &enter);
    }
}

void StashbayPanelView::scrollWheel(const ns::Event& event, cg::Point location) {
    auto& root = widget();
    const QPointF at(location.x, location.y);
    // Qt's wheel counts eighths of a degree, four to the point; a trackpad's exact points are its
    // pixels.
    const QPoint points(static_cast<int>(std::lround(event.scrollingDeltaX())),
                        static_cast<int>(std::lround(event.scrollingDeltaY())));
    const bool precise = event.hasPreciseScrollingDeltas();
    const QPoint angle = points * 4;
    // Qt passes a sent wheel event to no parent, so the widgets are offered it from the innermost
    // out until one takes it.
    for (QWidget* w = widgetAt(location); w; w = w == &root ? nullptr : w->parentWidget()) {
        const QPointF local = w->mapFrom(&root, at);
        QWheelEvent wheel(local, w->mapToGlobal(local), precise ? points : QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        wheel.setAccepted(false);
        QCoreApplication::sendEvent(w, &wheel);
        if (wheel.isAccepted()) return;
    }
}

std::optional<std::string> StashbayPanelView::toolTip(cg::Point location) const {
    if (!widget_) return std::nullopt;
    for (QWidget* w = widgetAt(location); w; w = w == widget_.get() ? nullptr : w->parentWidget())
        if (!w->toolTip().isEmpty()) return w->toolTip().toStdString();
    return std::nullopt;
}

}  // namespace stashbay
