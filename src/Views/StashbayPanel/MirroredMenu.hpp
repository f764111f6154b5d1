#pragma once

#include "System/AccessibilityBridge.hpp"
#include "Views/StashbayPanel/PanelContext.hpp"

#include <QMetaType>

#include <memory>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace stashbay {

// Receives the choice of every mirrored menu entry and presses the entry's element in the real
// menu. One instance for the life of the process; main thread only.
class MirroredMenuHandler {
public:
    static MirroredMenuHandler& shared();

    // Presses the element the entry carries; does nothing for an entry that carries anything
    // else or nothing.
    void selectItem(const QAction& sender, PanelContext& context) const;

private:
    MirroredMenuHandler() = default;
};

// The title as the pop-up menu shows it: literally, so "&" is not taken for a mnemonic and a tab
// does not start a shortcut's text.
QString mirroredMenuTitle(const std::string& title);

// One entry of the copy of a status item's menu: a separator, or an item with the entry's title,
// enabled state, check mark and (one level of) submenu, whose choice presses the entry's element.
// `owner` becomes the parent of the action and of any submenu.
QAction* makeMenuItem(const AccessibilityBridge::AXMenuSnapshot& entry, QMenu& owner, PanelContext& context);

// The copy of the whole menu; entries keep their enabled state (nothing enables them again).
std::unique_ptr<QMenu> makeMirroredMenu(const std::vector<AccessibilityBridge::AXMenuSnapshot>& entries,
                                        PanelContext& context);

// Shows the copy at the tile that was clicked (its lower-left corner), or without a tile at the
// top-left corner of the key window's content. Without a tile and without a key window, nothing is
// shown.
void presentMirroredMenu(PanelContext& context, const std::vector<AccessibilityBridge::AXMenuSnapshot>& entries,
                         QWidget* anchorView);

}  // namespace stashbay

Q_DECLARE_METATYPE(stashbay::AccessibilityBridge::AXUIElementSendable)
