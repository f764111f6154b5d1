#include "Interaction/SavedPointer.hpp"

#include "macos/AppKit/Cursor.hpp"
#include "macos/CoreGraphics/Event.hpp"
#include "macos/CoreGraphics/MouseCursor.hpp"

namespace stashbay {

SavedPointer SavedPointer::saveAndHide() {
    SavedPointer saved;
    if (auto probe = cg::eventCreate(nullptr)) saved.location = cg::eventGetLocation(probe);
    ns::Cursor::hide();
    return saved;
}

void SavedPointer::restore() const {
    if (location) {
        cg::warpMouseCursorPosition(*location);
        cg::associateMouseAndMouseCursorPosition(true);
    }
    ns::Cursor::unhide();
}

}  // namespace stashbay
