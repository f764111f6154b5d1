#pragma once

#include "macos/AppKit/Window.hpp"

#include <QMenu>

#include <cstdint>
#include <functional>
#include <memory>

class QAction;

namespace stashbay {

// A Qt menu shown as a pop-up menu in the platform's windows: one window for the menu and one for
// the submenu it opened, above the panel. It never becomes the key window: the panel hands it its
// keys while it is open. The entry under the pointer is highlighted; Up and Down move the
// highlight over the enabled entries, Right or Return on an entry with a submenu opens it and Left
// closes it, Return chooses, Escape closes the menu. A click on an enabled entry chooses it; on an
// entry with a submenu it opens the submenu beside the entry; a click anywhere outside its windows
// closes it. Main executor only.
class PopUpMenu {
public:
    static constexpr double rowHeight = 22;
    static constexpr double separatorHeight = 9;
    static constexpr double verticalPadding = 5;

    // Shows `menu` with its top-left corner at `topLeft` (screen space, y up). `chosen` receives
    // the entry the user chose, once, after the menu's windows are gone; the menu stays alive as
    // long as this object.
    PopUpMenu(std::unique_ptr<QMenu> menu, cg::Point topLeft, std::function<void(QAction*)> chosen);
    ~PopUpMenu();
    PopUpMenu(const PopUpMenu&) = delete;
    PopUpMenu& operator=(const PopUpMenu&) = delete;

    QMenu& menu() const { return *menu_; }
    const std::shared_ptr<ns::Window>& window() const { return window_; }
    const std::shared_ptr<ns::Window>& submenuWindow() const { return submenuWindow_; }
    // Takes the windows off screen; the choice, if any, is not made.
    void close();
    bool isOpen() const;
    // A key pressed while the menu is open (a platform key code). The menu takes every key.
    void keyDown(std::uint16_t keyCode);
    // The highlighted entry of the menu, or of its open submenu; null for none.
    QAction* highlighted(bool inSubmenu = false) const;

private:
    class MenuView;
    std::shared_ptr<ns::Window> open(QMenu& menu, cg::Point topLeft, std::shared_ptr<MenuView>& view);
    void clicked(QAction* action, cg::Point entryTopRight);
    void openSubmenu(QAction* action, cg::Point entryTopRight);
    void closeSubmenu();
    void sessionMouseDown(cg::Point location);

    std::unique_ptr<QMenu> menu_;
    std::function<void(QAction*)> chosen_;
    std::shared_ptr<MenuView> view_;
    std::shared_ptr<MenuView> submenuView_;
    std::shared_ptr<ns::Window> window_;
    std::shared_ptr<ns::Window> submenuWindow_;
};

}  // namespace stashbay
