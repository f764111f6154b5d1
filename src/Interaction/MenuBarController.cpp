#include "Interaction/MenuBarController.hpp"

#include "Interaction/ResumeGuard.hpp"
#include "Utilities/LoggerExtensions.hpp"
#include "stashbay/runtime/Continuation.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <memory>

namespace stashbay {

using namespace std::chrono_literals;

namespace {

constexpr auto confirmationWindow = 50ms;

std::int64_t tagOf(const cg::EventRef& event) {
    return cg::eventGetIntegerValueField(event, cg::EventField::eventSourceUserData);
}

// Ends a delivery that no tap confirmed. Not cancelled on success: it finds the guard spent.
runtime::Task<void> deliveryTimer(std::shared_ptr<ResumeGuard> guard) {
    co_await runtime::sleepFor(confirmationWindow);
    guard->resume(ItemEventError::deliveryTimeout);
}

void startDeliveryTimer(const std::shared_ptr<ResumeGuard>& guard) {
    runtime::spawn(runtime::mainExecutor(), deliveryTimer(guard));
}

}  // namespace

MenuBarController& MenuBarController::shared() {
    static MenuBarController instance;
    return instance;
}

MenuBarController::MenuBarController() : logger_(log::componentLogger("menuBarController")) {}

std::optional<WindowListBridge::CGWindowEntry> MenuBarController::windowEntry(std::uint32_t windowID) const {
    for (auto& entry : WindowListBridge::menuBarWindows())
        if (entry.windowID == windowID) return entry;
    return std::nullopt;
}

void MenuBarController::permitAllEvents(const cg::EventSourceRef& source) {
    cg::eventSourceSetLocalEventsFilterDuringSuppressionState(source, cg::eventFilterMaskPermitAllEvents,
                                                              cg::EventSuppressionState::remoteMouseDrag);
    cg::eventSourceSetLocalEventsFilterDuringSuppressionState(source, cg::eventFilterMaskPermitAllEvents,
                                                              cg::EventSuppressionState::suppressionInterval);
    cg::eventSourceSetLocalEventsSuppressionInterval(source, 0.0);
}

std::int64_t MenuBarController::nextEventTag() {
    // A counter, not the event's address: an address comes back for a later event, and a late
    // copy of a timed-out event would then confirm that later one.
    static std::int64_t last = 0;
    return ++last;
}

cg::EventRef MenuBarController::makeItemEvent(cg::EventType type, cg::MouseButton button, cg::EventFlags flags,
                                              cg::Point location, std::uint32_t windowID, std::int32_t pid,
                                              const cg::EventSourceRef& source, bool isClick) {
    auto event = cg::eventCreateMouseEvent(source, type, location, button);
    if (!event) return nullptr;
    cg::eventSetFlags(event, flags);
    const auto tag = nextEventTag();
    cg::eventSetIntegerValueField(event, cg::EventField::eventTargetUnixProcessID, pid);
    cg::eventSetIntegerValueField(event, cg::EventField::eventSourceUserData, tag);
    cg::eventSetIntegerValueField(event, cg::EventField::mouseEventWindowUnderMousePointer, windowID);
    cg::eventSetIntegerValueField(event, cg::EventField::mouseEventWindowUnderMousePointerThatCanHandleThisEvent,
                                  windowID);
    cg::eventSetIntegerValueField(event, windowIDField, windowID);
    if (isClick) cg::eventSetIntegerValueField(event, cg::EventField::mouseEventClickState, 1);
    return event;
}

void MenuBarController::post(const cg::EventRef& event, TapPoint point) {
    if (point.kind == TapPoint::Kind::pid)
        cg::eventPostToPid(point.processID, event);
    else
        cg::eventPost(cg::EventTapLocation::session, event);
}

runtime::Task<void> MenuBarController::postAndConfirm(cg::EventRef event, TapPoint point) {
    auto suspension = runtime::withContinuation<void>([&event, point](runtime::Continuation<void> continuation) {
        const auto tag = tagOf(event);
        auto guard = std::make_shared<ResumeGuard>(std::move(continuation));
        auto tap = TransientTap::make(point, true, {cg::eventGetType(event)}, [guard, tag](const cg::EventRef& seen) {
            if (tagOf(seen) == tag) guard->resume();
            return seen;
        });
        if (!tap) {
            guard->resume(ItemEventError::tapCreationFailed);
            return;
        }
        guard->onResume = [tap] { tap->disable(); };
        tap->enable();
        startDeliveryTimer(guard);
        post(event, point);
    });
    co_await suspension;
}

runtime::Task<void> MenuBarController::relayEvent(cg::EventRef event, std::int32_t pid) {
    auto sentinel = cg::eventCreate(nullptr);
    if (!sentinel) throw ItemEventFailure(ItemEventError::eventCreationFailed);
    const auto sentinelTag = nextEventTag();
    cg::eventSetIntegerValueField(sentinel, cg::EventField::eventSourceUserData, sentinelTag);
    const auto eventTag = tagOf(event);
    auto suspension = runtime::withContinuation<void>([&](runtime::Continuation<void> continuation) {
        auto guard = std::make_shared<ResumeGuard>(std::move(continuation));
        // Tap A, in the process's own stream: the sentinel arriving there lets the event go
        // into the session; the sentinel itself goes no further.
        auto tapA = TransientTap::make(TapPoint::pid(pid), false, {cg::eventGetType(sentinel)},
                                       [event, sentinelTag](const cg::EventRef& seen) -> cg::EventRef {
                                           if (tagOf(seen) != sentinelTag) return seen;
                                           post(event, TapPoint::session());
                                           return nullptr;
                                       });
        if (!tapA) {
            guard->resume(ItemEventError::tapCreationFailed);
            return;
        }
        // Tap B, in the session: the event seen there goes once more, straight to the process.
        auto tapB = TransientTap::make(TapPoint::session(), true, {cg::eventGetType(event)},
                                       [event, eventTag, pid, guard](const cg::EventRef& seen) {
                                           if (tagOf(seen) == eventTag) {
                                               post(event, TapPoint::pid(pid));
                                               guard->resume();
                                           }
                                           return seen;
                                       });
        if (!tapB) {
            tapA->disable();
            guard->resume(ItemEventError::tapCreationFailed);
            return;
        }
        guard->onResume = [tapA, tapB] {
            tapA->disable();
            tapB->disable();
        };
        tapA->enable();
        tapB->enable();
        startDeliveryTimer(guard);
        post(sentinel, TapPoint::pid(pid));
    });
    co_await suspension;
}

}  // namespace stashbay
