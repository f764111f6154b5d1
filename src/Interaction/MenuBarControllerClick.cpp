#include "Interaction/MenuBarController.hpp"
#include "Interaction/SavedPointer.hpp"
#include "System/ScreenGeometry.hpp"
#include "macos/AppKit/Screen.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <algorithm>
#include <exception>

namespace stashbay {

using namespace std::chrono_literals;

namespace {

constexpr double minimumRoom = 24.0;
constexpr double notchMargin = 10.0;

const char* buttonName(cg::MouseButton button) { return button == cg::MouseButton::right ? "right" : "left"; }

}  // namespace

runtime::Task<void> MenuBarController::postClick(cg::Point location, std::uint32_t windowID, std::int32_t pid,
                                                 cg::MouseButton button) {
    auto source = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    if (!source) throw ItemEventFailure(ItemEventError::eventCreationFailed);
    permitAllEvents(source);
    const bool right = button == cg::MouseButton::right;
    const auto downType = right ? cg::EventType::rightMouseDown : cg::EventType::leftMouseDown;
    const auto upType = right ? cg::EventType::rightMouseUp : cg::EventType::leftMouseUp;
    auto down = makeItemEvent(downType, button, 0, location, windowID, pid, source, true);
    auto up = makeItemEvent(upType, button, 0, location, windowID, pid, source, true);
    if (!down || !up) throw ItemEventFailure(ItemEventError::eventCreationFailed);

    const auto pointer = SavedPointer::saveAndHide();
    std::exception_ptr failure;
    try {
        auto confirmDown = postAndConfirm(down, TapPoint::session());
        co_await confirmDown;
        auto confirmUp = postAndConfirm(up, TapPoint::session());
        co_await confirmUp;
    } catch (...) {
        failure = std::current_exception();
    }
    pointer.restore();
    if (failure) std::rethrow_exception(failure);
}

runtime::Task<bool> MenuBarController::clickItem(MenuBarItem item, cg::MouseButton mouseButton) {
    runtime::assertMainExecutor("MenuBarController.clickItem");
    if (item.windowID() == 0) co_return false;
    auto frame = currentFrame(item.windowID());
    if (!frame) co_return false;
    std::optional<ItemEventError> error;
    try {
        auto click = postClick({frame->midX(), frame->midY()}, item.windowID(), item.ownerPID(), mouseButton);
        co_await click;
    } catch (const ItemEventFailure& thrown) {
        error = thrown.error();
    }
    if (error) {
        logger_.error("Click failed for %s: %s", item.ownerName(), describe(*error));
        co_return false;
    }
    logger_.info("Clicked %s (%s) at x=%f", item.ownerName(), buttonName(mouseButton), frame->midX());
    co_return true;
}

runtime::Task<bool> MenuBarController::tempShowAndClick(MenuBarItem item, cg::MouseButton mouseButton) {
    runtime::assertMainExecutor("MenuBarController.tempShowAndClick");
    logger_.info("tempShowAndClick: %s windowID=%u", item.ownerName(), item.windowID());
    if (item.windowID() == 0) co_return false;
    auto entry = windowEntry(item.windowID());
    if (entry && entry->isOnScreen && entry->bounds.minX() >= 0.0 && entry->bounds.minY() < 50.0) {
        auto click = clickItem(item, mouseButton);
        co_return co_await click;
    }

    const double room = std::max(item.size().width, minimumRoom);
    auto target = findVisibleTarget(room);
    if (!target) {
        logger_.error("No visible slot with enough room for %s", item.ownerName());
        co_return false;
    }
    std::optional<ItemEventError> moveError;
    try {
        auto move = moveWithRetries(item.windowID(), item.ownerPID(), *target);
        co_await move;
    } catch (const ItemEventFailure& thrown) {
        moveError = thrown.error();
    }
    if (moveError) {
        logger_.error("Failed to move %s: %s", item.ownerName(), describe(*moveError));
        co_return false;
    }

    co_await runtime::sleepFor(100ms);
    auto frame = currentFrame(item.windowID());
    if (!frame) {
        logger_.error("Moved %s but lost its window", item.ownerName());
        scheduleMoveBack(item);
        co_return false;
    }
    std::optional<ItemEventError> clickError;
    try {
        auto click = postClick({frame->midX(), frame->midY()}, item.windowID(), item.ownerPID(), mouseButton);
        co_await click;
    } catch (const ItemEventFailure& thrown) {
        clickError = thrown.error();
    }
    scheduleMoveBack(item);
    if (clickError) {
        logger_.error("Click after move failed for %s: %s", item.ownerName(), describe(*clickError));
        co_return false;
    }
    co_return true;
}

std::optional<WindowListBridge::CGWindowEntry> MenuBarController::findVisibleTarget(double itemWidth) const {
    auto screen = ns::Screen::main();
    if (!screen) return std::nullopt;
    const auto geometry = ScreenGeometry::forScreen(*screen);
    const double boundary =
        geometry.notchRect() ? geometry.notchRect()->maxX() + notchMargin : geometry.screenFrame().midX();
    auto windows = onScreenStatusWindows();
    std::stable_sort(windows.begin(), windows.end(),
                     [](const auto& a, const auto& b) { return a.bounds.minX() < b.bounds.minX(); });
    for (const auto& window : windows)
        if (boundary < window.bounds.minX() - itemWidth) return window;
    if (windows.empty()) return std::nullopt;
    return windows.front();
}

}  // namespace stashbay
