#include "Views/StashbayPanel/StashbayPanelView.hpp"

#include "App/AppDelegate.hpp"
#include "Persistence/UserPreferences.hpp"
#include "Views/StashbayPanel/AppPanelContext.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/Foundation/NotificationCenter.hpp"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

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
    fitWidget(size);
    root.render();
    root.QWidget::render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

}  // namespace stashbay
