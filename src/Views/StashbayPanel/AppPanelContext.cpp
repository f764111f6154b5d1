#include "Views/StashbayPanel/AppPanelContext.hpp"

#include "Interaction/IconInteractor.hpp"
#include "Services/MenuBarScanner.hpp"
#include "macos/AppKit/Sound.hpp"

#include <QApplication>
#include <QMenu>
#include <QWidget>

namespace stashbay {

AppPanelContext::AppPanelContext(std::shared_ptr<AppState> state, std::shared_ptr<PermissionsManager> permissions,
                                 Windows windows)
    : state_(std::move(state)), permissions_(std::move(permissions)), windows_(std::move(windows)) {}

runtime::Task<void> AppPanelContext::pauseScanning(double seconds) {
    // The scanner is fixed for the life of the state; hold it through the hop to its executor.
    std::shared_ptr<MenuBarScanner> scanner = state_->scanner();
    auto pausing = scanner->pauseFor(seconds);
    co_await pausing;
}

runtime::Task<bool> AppPanelContext::clickItem(MenuBarItem item) {
    return IconInteractor::shared().clickItem(std::move(item));
}

runtime::Task<bool> AppPanelContext::rightClickItem(MenuBarItem item) {
    return IconInteractor::shared().rightClickItem(std::move(item));
}

std::optional<std::vector<AccessibilityBridge::AXMenuSnapshot>> AppPanelContext::menuSnapshot(const MenuBarItem& item) {
    return IconInteractor::shared().menuSnapshot(item);
}

bool AppPanelContext::pressMenuItem(const ax::UIElementRef& element) {
    return IconInteractor::shared().pressMenuItem(element);
}

QWidget* AppPanelContext::keyWindowContentView() {
    if (windows_.keyWindowContentView) return windows_.keyWindowContentView();
    return QApplication::activeWindow();
}

void AppPanelContext::orderOutKeyWindow() {
    if (windows_.orderOutKeyWindow) return windows_.orderOutKeyWindow();
    if (QWidget* window = QApplication::activeWindow()) window->hide();
}

void AppPanelContext::terminate() {
    if (windows_.terminate) return windows_.terminate();
    QCoreApplication::quit();
}

void AppPanelContext::popUpMenu(std::unique_ptr<QMenu> menu, const QPoint& location) {
    if (windows_.popUpMenu) return windows_.popUpMenu(std::move(menu), location);
    menu->exec(location);
}

void AppPanelContext::beep() { ns::Sound::beep(); }

}  // namespace stashbay
