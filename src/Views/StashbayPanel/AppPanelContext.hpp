#pragma once

#include "App/AppState.hpp"
#include "Views/StashbayPanel/PanelContext.hpp"

#include <functional>
#include <memory>

namespace stashbay {

// The panel's context in the app: the application state and the permissions service, the
// process-wide icon interactor, the system alert sound, and the windows through the hooks the
// panel's root view gives.
class AppPanelContext : public PanelContext {
public:
    // The windows as the shell knows them. Without hooks: Qt's active window is the key window,
    // ordering out hides it, and terminating quits Qt's loop.
    struct Windows {
        std::function<QWidget*()> keyWindowContentView;
        std::function<void()> orderOutKeyWindow;
        std::function<void()> terminate;
        // Shows a pop-up menu; QMenu::exec without a hook.
        std::function<void(std::unique_ptr<QMenu>, const QPoint&)> popUpMenu;
    };

    AppPanelContext(std::shared_ptr<AppState> state, std::shared_ptr<PermissionsManager> permissions,
                    Windows windows = {});

    AppState& state() const { return *state_; }

    PanelMode panelMode() const override { return state_->panelMode(); }
    void setPanelMode(PanelMode mode) override { state_->setPanelMode(mode); }
    bool isScanning() const override { return state_->isScanning(); }
    bool menuBarItemsEmpty() const override { return state_->menuBarItems().empty(); }
    std::vector<MenuBarSection> sections() const override { return state_->sections(); }
    std::optional<MenuBarItem> draggingItem() const override { return state_->draggingItem(); }
    PermissionsManager& permissions() override { return *permissions_; }

    runtime::Task<void> pauseScanning(double seconds) override;
    runtime::Task<bool> clickItem(MenuBarItem item) override;
    runtime::Task<bool> rightClickItem(MenuBarItem item) override;
    std::optional<std::vector<AccessibilityBridge::AXMenuSnapshot>> menuSnapshot(const MenuBarItem& item) override;
    bool pressMenuItem(const ax::UIElementRef& element) override;

    QWidget* keyWindowContentView() override;
    void orderOutKeyWindow() override;
    void terminate() override;
    void popUpMenu(std::unique_ptr<QMenu> menu, const QPoint& location) override;
    void beep() override;

private:
    std::shared_ptr<AppState> state_;
    std::shared_ptr<PermissionsManager> permissions_;
    Windows windows_;
};

}  // namespace stashbay
