#include "Interaction/IconInteractor.hpp"
#include "Interaction/OnScreenWindowList.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/CoreGraphics/WindowList.hpp"

namespace stashbay {

IconInteractor& IconInteractor::shared() {
    // Made on first use and kept for the life of the process.
    static IconInteractor instance;
    return instance;
}

IconInteractor::IconInteractor() : logger_(log::interaction()) {}

std::set<std::uint32_t> IconInteractor::onScreenWindowIDs(std::int32_t pid) {
    return OnScreenWindowList::read().windowIDs(pid);
}

bool IconInteractor::newWindowAppeared(std::int32_t pid, const std::set<std::uint32_t>& before) {
    for (auto id : onScreenWindowIDs(pid))
        if (!before.contains(id)) return true;
    return false;
}

void IconInteractor::syntheticClick(cg::Point point, cg::MouseButton button) const {
    auto downType = cg::EventType::leftMouseDown;
    auto upType = cg::EventType::leftMouseUp;
    if (button == cg::MouseButton::right) {
        downType = cg::EventType::rightMouseDown;
        upType = cg::EventType::rightMouseUp;
    }
    auto down = cg::eventCreateMouseEvent(nullptr, downType, point, button);
    if (!down) {
        logger_.error("Failed to create mouseDown event");
        return;
    }
    auto up = cg::eventCreateMouseEvent(nullptr, upType, point, button);
    if (!up) {
        logger_.error("Failed to create mouseUp event");
        return;
    }
    cg::eventPost(cg::EventTapLocation::hid, down);
    cg::eventPost(cg::EventTapLocation::hid, up);
    logger_.debug("Synthetic %s click posted at (%f, %f)", button == cg::MouseButton::left ? "left" : "right", point.x,
                  point.y);
}

}  // namespace stashbay
