#pragma once

#include "macos/AppKit/MenuTracking.hpp"
#include "macos/AppKit/Window.hpp"

#include <QMenu>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;

namespace stashbay {

// A Qt menu shown as a pop-up menu in the platform's windows: one window for the menu and one for
// each submenu open from it, above the panel. It never becomes the key window: the panel hands it
// its keys while it is open. The pointer and the keys move its highlight as the platform's menus
// do (ns::MenuTracking): a submenu opens when the pointer rests on its entry or on Right, a click
// on an enabled entry chooses it (or opens its submenu at once), Escape closes the menu, and a
// click anywhere outside its windows closes it. Every change of what a level shows asks its window
// to be drawn again. Main executor only.
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
    // The window of the open submenu at `level` (1 for the first); null when none is open there.
    std::shared_ptr<ns::Window> submenuWindow(std::size_t level = 1) const;
    // Takes the windows off screen; the choice, if any, is not made.
    void close();
    bool isOpen() const;
    // A key pressed while the menu is open (a platform key code). The menu takes every key.
    void keyDown(std::uint16_t keyCode);
    // The highlighted entry of the menu (level 0) or of its open submenu at `level`; null for none.
    QAction* highlighted(std::size_t level = 0) const;

private:
    class MenuView;
    struct Level {
        QMenu* menu = nullptr;
        std::shared_ptr<MenuView> view;
        std::shared_ptr<ns::Window> window;
    };
    Level open(QMenu& menu, std::size_t level, cg::Point topLeft);
    std::optional<std::vector<ns::MenuTracking::Entry>> openSubmenu(std::size_t level, std::size_t entry);
    void closeSubmenus(std::size_t keep);
    void choose(const std::vector<std::size_t>& path);
    void sessionMouseDown(cg::Point location);
    // From the level views: the pointer over, off, and a click.
    void pointerOver(std::size_t level, std::optional<std::size_t> entry);
    void pointerLeft(std::size_t level);
    void click(std::size_t level, std::optional<std::size_t> entry);
    const ns::MenuTracking* tracking() const { return tracking_.get(); }

    std::unique_ptr<QMenu> menu_;
    std::function<void(QAction*)> chosen_;
    std::shared_ptr<ns::Window> window_;
    std::vector<Level> levels_;
    std::unique_ptr<ns::MenuTracking> tracking_;
};

}  // namespace stashbay
