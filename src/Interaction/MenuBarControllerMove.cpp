#include "Interaction/MenuBarController.hpp"
#include "Interaction/OnScreenWindowList.hpp"
#include "Interaction/SavedPointer.hpp"
#include "macos/CoreGraphics/WindowList.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <algorithm>
#include <exception>

namespace stashbay {

using namespace std::chrono_literals;

namespace {

constexpr int moveAttempts = 5;
constexpr cg::Point dragStartLocation{20000.0, 20000.0};
constexpr auto dragHalfWait = 100ms;
constexpr auto framePollInterval = 10ms;
constexpr auto unknownFrameWait = 50ms;
constexpr int menuChecks = 30;

bool isOnScreenStatusWindow(const WindowListBridge::CGWindowEntry& entry) {
    return entry.isOnScreen && entry.bounds.minX() >= 0.0 && entry.bounds.minY() < 50.0;
}

bool differs(const std::optional<cg::Rect>& frame, const cg::Rect& start) { return frame && *frame != start; }

}  // namespace

std::optional<cg::Rect> MenuBarController::currentFrame(std::uint32_t windowID) const {
    auto entry = windowEntry(windowID);
    return entry ? std::optional(entry->bounds) : std::nullopt;
}

std::vector<WindowListBridge::CGWindowEntry> MenuBarController::onScreenStatusWindows() const {
    auto windows = WindowListBridge::menuBarWindows();
    std::erase_if(windows, [](const auto& entry) { return !isOnScreenStatusWindow(entry); });
    return windows;
}

bool MenuBarController::isMenuOpen(std::int32_t pid) const { return OnScreenWindowList::read().holdsMenuWindow(pid); }

runtime::Task<void> MenuBarController::waitForFrameChange(std::uint32_t windowID, std::optional<cg::Rect> start,
                                                          runtime::Duration timeout) {
    if (!start) {
        auto waiting = runtime::sleepFor(unknownFrameWait);
        co_await waiting;
        co_return;
    }
    const auto deadline = runtime::now() + timeout;
    while (runtime::now() < deadline) {
        if (differs(currentFrame(windowID), *start)) co_return;
        auto polling = runtime::sleepFor(framePollInterval);
        co_await polling;
    }
}

runtime::Task<void> MenuBarController::performMove(std::uint32_t windowID, std::int32_t pid,
                                                   WindowListBridge::CGWindowEntry target) {
    auto source = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    if (!source) throw ItemEventFailure(ItemEventError::eventCreationFailed);
    permitAllEvents(source);
    const cg::Point drop{target.bounds.minX(), target.bounds.midY()};
    auto down = makeItemEvent(cg::EventType::leftMouseDown, cg::MouseButton::left, cg::eventFlagMaskCommand,
                              dragStartLocation, windowID, pid, source, false);
    auto up =
        makeItemEvent(cg::EventType::leftMouseUp, cg::MouseButton::left, 0, drop, target.windowID, pid, source, false);
    if (!down || !up) throw ItemEventFailure(ItemEventError::eventCreationFailed);

    auto before = currentFrame(windowID);
    auto relayDown = relayEvent(down, pid);
    co_await relayDown;
    auto waitDown = waitForFrameChange(windowID, before, dragHalfWait);
    co_await waitDown;
    before = currentFrame(windowID);
    auto relayUp = relayEvent(up, pid);
    co_await relayUp;
    auto waitUp = waitForFrameChange(windowID, before, dragHalfWait);
    co_await waitUp;
}

runtime::Task<void> MenuBarController::wakeUpItem(std::uint32_t windowID, std::int32_t pid) {
    auto source = cg::eventSourceCreate(cg::EventSourceStateID::hidSystemState);
    if (!source) co_return;
    auto frame = currentFrame(windowID);
    if (!frame) co_return;
    const cg::Point centre{frame->midX(), frame->midY()};
    auto down =
        makeItemEvent(cg::EventType::leftMouseDown, cg::MouseButton::left, 0, centre, windowID, pid, source, false);
    auto up = makeItemEvent(cg::EventType::leftMouseUp, cg::MouseButton::left, 0, centre, windowID, pid, source, false);
    if (!down || !up) co_return;
    auto relayDown = relayEvent(down, pid);
    co_await relayDown;
    auto relayUp = relayEvent(up, pid);
    co_await relayUp;
}

runtime::Task<void> MenuBarController::moveWithRetries(std::uint32_t windowID, std::int32_t pid,
                                                       WindowListBridge::CGWindowEntry target) {
    auto start = currentFrame(windowID);
    if (!start) throw ItemEventFailure(ItemEventError::itemNotFound);
    const auto pointer = SavedPointer::saveAndHide();

    std::exception_ptr failure;
    try {
        auto lastError = ItemEventError::frameDidNotChange;
        bool moved = false;
        for (int attempt = 1; attempt <= moveAttempts && !moved; ++attempt) {
            auto error = ItemEventError::frameDidNotChange;
            try {
                auto gesture = performMove(windowID, pid, target);
                co_await gesture;
                if (differs(currentFrame(windowID), *start)) {
                    logger_.info("Move succeeded on attempt %ld", static_cast<std::int64_t>(attempt));
                    moved = true;
                    break;
                }
            } catch (const ItemEventFailure& thrown) {
                error = thrown.error();
            }
            lastError = error;
            if (attempt < moveAttempts) {
                logger_.debug("Move attempt %ld failed; nudging item awake", static_cast<std::int64_t>(attempt));
                try {
                    auto wake = wakeUpItem(windowID, pid);
                    co_await wake;
                } catch (const ItemEventFailure&) {
                    // A wake-up that fails changes nothing: the next attempt runs anyway.
                }
            }
        }
        if (!moved) throw ItemEventFailure(lastError);
    } catch (...) {
        failure = std::current_exception();
    }
    pointer.restore();
    if (failure) std::rethrow_exception(failure);
}

void MenuBarController::scheduleMoveBack(const MenuBarItem& item) {
    runtime::spawn(runtime::mainExecutor(), moveBack(item));
}

runtime::Task<void> MenuBarController::moveBack(MenuBarItem item) {
    auto settling = runtime::sleepFor(500ms);
    co_await settling;
    for (int check = 0; check < menuChecks; ++check) {
        auto checking = runtime::sleepFor(1s);
        co_await checking;
        if (!isMenuOpen(item.ownerPID())) break;
    }
    auto closing = runtime::sleepFor(300ms);
    co_await closing;

    auto own = windowEntry(item.windowID());
    if (!own || !own->isOnScreen) co_return;
    std::optional<WindowListBridge::CGWindowEntry> leftmost;
    for (const auto& entry : onScreenStatusWindows()) {
        if (entry.windowID == item.windowID()) continue;
        if (!leftmost || entry.bounds.minX() < leftmost->bounds.minX()) leftmost = entry;
    }
    if (!leftmost) co_return;

    std::optional<ItemEventError> error;
    try {
        auto move = moveWithRetries(item.windowID(), item.ownerPID(), *leftmost);
        co_await move;
    } catch (const ItemEventFailure& thrown) {
        error = thrown.error();
    }
    if (error)
        logger_.error("Failed to move %s back: %s", item.ownerName(), describe(*error));
    else
        logger_.info("Returned %s to the stashbay boundary", item.ownerName());
}

}  // namespace stashbay
