#pragma once

#include "Views/Environment.hpp"
#include "Views/StashbayPanel/PanelWindowPositioner.hpp"
#include "Views/StashbayPanel/PopUpMenu.hpp"
#include "Views/StashbayPanel/StashbayPanelModel.hpp"
#include "Views/StashbayPanel/StashbayPanelWidget.hpp"
#include "macos/AppKit/Window.hpp"

#include <QPointer>

#include <memory>
#include <optional>
#include <string>

namespace stashbay {

class AppPanelContext;

// The panel's root view, the content of the panel's window. It reads the application state, the
// permissions service and the preferences from its environment by type (all three are required)
// and hosts the panel's widget, built on first use: the window's drawing, clicks and keys go to
// it, and its pop-up menus, beeps and window requests go to the platform. Its window is kept flush
// with the right edge of Stashbay's status item window.
class StashbayPanelView final : public ns::View {
public:
    StashbayPanelView();
    ~StashbayPanelView() override;

    Environment& environment() { return environment_; }
    const Environment& environment() const { return environment_; }

    StashbayPanelModel& model() const { return widget().model(); }
    StashbayPanelWidget& widget() const;
    bool hasAppeared() const { return hasAppeared_; }
    // The pages of the onboarding and settings modes, which the scene provides; given to the
    // widget when it is built.
    void setModeContentFactory(StashbayPanelWidget::ModeContentFactory factory);
    // The mirrored menu shown last, while it exists.
    PopUpMenu* popUpMenu() const { return menu_.get(); }

    cg::Size fittingSize() const override;
    void viewDidAppear() override;
    void viewDidDisappear() override;
    void viewDidMoveToWindow() override;
    void mouseDown(cg::Point location) override;
    void rightMouseDown(cg::Point location) override;
    void keyDown(const ns::Event& event) override;
    void mouseMoved(cg::Point location) override;
    void mouseExited() override;
    void scrollWheel(const ns::Event& event, cg::Point location) override;
    std::optional<std::string> toolTip(cg::Point location) const override;
    void draw(QPainter& painter, cg::Size size) const override;

    // The key of a key-down event as the panel's key handler knows it.
    static StashbayPanelModel::Key keyOf(const ns::Event& event);
    static StashbayPanelModel::Modifiers modifiersOf(const ns::Event& event);

private:
    // The widget at the size of the window the view is in (or `size`).
    void fitWidget(cg::Size size) const;
    // The view's window as the positioner sees it; null when in none.
    std::shared_ptr<PositionedWindow> positionedWindow() const;
    // The window hears of the press only; the widget gets the press and the release, as a click.
    void click(cg::Point location, Qt::MouseButton button);
    void showMenu(std::unique_ptr<QMenu> menu, const QPoint& location);
    // The innermost widget at a location of the view (the root where no child is).
    QWidget* widgetAt(cg::Point location) const;
    // Tells the widgets the pointer left and entered, as a window does for widgets on screen.
    void setHovered(QWidget* target, cg::Point location);

    Environment environment_;
    bool hasAppeared_ = false;
    StashbayPanelWidget::ModeContentFactory modeContentFactory_;
    // Built on first use, once the scene has placed the environment.
    mutable std::shared_ptr<AppPanelContext> context_;
    mutable std::unique_ptr<StashbayPanelWidget> widget_;
    PanelWindowPositioner positioner_;
    mutable std::shared_ptr<PositionedWindow> positionedWindow_;
    std::unique_ptr<PopUpMenu> menu_;
    // The innermost widget under the pointer.
    QPointer<QWidget> hovered_;
};

}  // namespace stashbay
