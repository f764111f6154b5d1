#include "Views/StashbayPanel/StashbayPanelView.hpp"

#include "Persistence/UserPreferences.hpp"
#include "Views/StashbayPanel/AppPanelContext.hpp"
#include "macos/AppKit/Application.hpp"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace stashbay {

StashbayPanelView::StashbayPanelView() = default;

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
    context_ = std::make_shared<AppPanelContext>(std::move(state), std::move(permissions), std::move(windows));
    widget_ = std::make_unique<StashbayPanelWidget>(context_);
    // Shown to Qt (it animates and takes events only while shown) but drawn into the window.
    widget_->setAttribute(Qt::WA_DontShowOnScreen);
    if (modeContentFactory_) widget_->setModeContentFactory(modeContentFactory_);
    return *widget_;
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
    if (widget_) widget_->hide();
}

void StashbayPanelView::mouseDown(cg::Point location) {
    auto& root = widget();
    fitWidget({static_cast<double>(root.width()), static_cast<double>(root.height())});
    root.render();
    const QPoint at(static_cast<int>(std::floor(location.x)), static_cast<int>(std::floor(location.y)));
    QWidget* target = root.childAt(at);
    if (!target) target = &root;
    const QPointF local = target->mapFrom(&root, QPointF(location.x, location.y));
    // The window hears of the press only; the release follows at once, as a click.
    QMouseEvent press(QEvent::MouseButtonPress, local, target->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, target->mapToGlobal(local), Qt::LeftButton, Qt::NoButton,
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

void StashbayPanelView::keyDown(const ns::Event& event) { (void)model().handleKey(keyOf(event), modifiersOf(event)); }

void StashbayPanelView::draw(QPainter& painter, cg::Size size) const {
    auto& root = widget();
    fitWidget(size);
    root.render();
    root.QWidget::render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

}  // namespace stashbay
