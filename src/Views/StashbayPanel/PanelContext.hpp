#pragma once

#include "App/AppState.hpp"
#include "Models/MenuBarItem.hpp"
#include "Models/MenuBarSection.hpp"
#include "Services/PermissionsManager.hpp"
#include "System/AccessibilityBridge.hpp"
#include "stashbay/runtime/Task.hpp"

#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QPoint;
class QWidget;

namespace stashbay {

// What the panel shows: the tiles, the first-run onboarding or the settings page.
using PanelMode = AppState::PanelMode;

// Everything the panel reads of the application and asks of it: the application state, the
// permissions service, the interaction layer and the platform's windows, sound and menus. The
// reads are observed values: a reader inside an observation tracking hears of their changes.
class PanelContext {
public:
    virtual ~PanelContext() = default;

    virtual PanelMode panelMode() const = 0;
    virtual void setPanelMode(PanelMode mode) = 0;
    virtual bool isScanning() const = 0;
    // Whether the last scan snapshot is empty.
    virtual bool menuBarItemsEmpty() const = 0;
    virtual std::vector<MenuBarSection> sections() const = 0;
    // The item the user drags in the real menu bar right now.
    virtual std::optional<MenuBarItem> draggingItem() const = 0;
    virtual PermissionsManager& permissions() = 0;

    // The scanner's pause; runs on the scanner's executor.
    virtual runtime::Task<void> pauseScanning(double seconds) = 0;
    // The interaction layer: true when the item was activated.
    virtual runtime::Task<bool> clickItem(MenuBarItem item) = 0;
    virtual runtime::Task<bool> rightClickItem(MenuBarItem item) = 0;
    virtual std::optional<std::vector<AccessibilityBridge::AXMenuSnapshot>> menuSnapshot(const MenuBarItem& item) = 0;
    virtual bool pressMenuItem(const ax::UIElementRef& element) = 0;

    // The content view of the application's key window; null when no window is key.
    virtual QWidget* keyWindowContentView() = 0;
    // Orders the key window out (hidden, not closed); nothing without one.
    virtual void orderOutKeyWindow() = 0;
    virtual void terminate() = 0;
    // Shows `menu` with its top-left corner at `location` (global coordinates) until the user
    // chooses an entry (which is triggered) or dismisses it; the menu goes when it closes.
    virtual void popUpMenu(std::unique_ptr<QMenu> menu, const QPoint& location) = 0;
    // The system alert sound.
    virtual void beep() = 0;
};

}  // namespace stashbay
