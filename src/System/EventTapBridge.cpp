#include "System/EventTapBridge.hpp"

#include "System/AccessibilityBridge.hpp"
#include "Utilities/LoggerExtensions.hpp"

#include <new>

namespace stashbay {

std::optional<std::pair<EventTapBridge::TapHandle, EventTapBridge::EventStream>> EventTapBridge::install(
    cg::EventMask eventsOfInterest, cg::EventTapLocation location) {
    const auto& logger = log::eventTap();
    auto [stream, continuation] = EventStream::make(runtime::BufferingPolicy::bufferingNewest(64));
    std::shared_ptr<EventTapContext> context;
    try {
        context = std::make_shared<EventTapContext>(continuation);
    } catch (const std::bad_alloc&) {
    }
    if (!context) {
        logger.error("Failed to create EventTapContext.");
        return std::nullopt;
    }

    auto port = cg::eventTapCreate(location, cg::EventTapPlacement::headInsert, cg::EventTapOptions::defaultTap,
                                   eventsOfInterest, &EventTapBridge::tapCallback, context.get());
    if (!port) {
        logger.error("CGEvent.tapCreate failed. Accessibility permission may not be granted.");
        return std::nullopt;
    }
    context->machPort = port;

    auto source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
    if (!source) {
        logger.error("Failed to create run loop source for event tap.");
        // Invalidated before the context goes, so the tap can never call into a freed context.
        cf::machPortInvalidate(port);
        return std::nullopt;
    }
    cf::runLoopAddSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes);
    cg::eventTapEnable(port, true);

    TapHandle handle(std::move(port), std::move(source), std::move(context));
    logger.info("Event tap installed successfully.");
    return std::make_pair(std::move(handle), std::move(stream));
}

void EventTapBridge::setEnabled(const TapHandle& handle, bool enabled) {
    cg::eventTapEnable(handle.machPort, enabled);
    log::eventTap().debug("Event tap %s.", enabled ? "enabled" : "disabled");
}

bool EventTapBridge::isEnabled(const TapHandle& handle) { return cg::eventTapIsEnabled(handle.machPort); }

void EventTapBridge::uninstall(TapHandle handle) {
    if (!handle.context) return;
    release(handle);
    log::eventTap().info("Event tap uninstalled and resources released.");
}

void EventTapBridge::release(TapHandle& handle) {
    if (handle.context) handle.context->continuation.finish();
    cg::eventTapEnable(handle.machPort, false);
    cf::runLoopRemoveSource(cf::runLoopGetMain(), handle.runLoopSource, cf::runLoopCommonModes);
    cf::machPortInvalidate(handle.machPort);
    handle.context.reset();
    handle.runLoopSource.reset();
    handle.machPort.reset();
}

EventTapBridge::TapHandle& EventTapBridge::TapHandle::operator=(TapHandle&& other) noexcept {
    if (this != &other) {
        if (context) EventTapBridge::release(*this);
        machPort = std::move(other.machPort);
        runLoopSource = std::move(other.runLoopSource);
        context = std::move(other.context);
    }
    return *this;
}

EventTapBridge::TapHandle::~TapHandle() {
    if (context) EventTapBridge::release(*this);
}

cg::EventRef EventTapBridge::tapCallback(cg::EventTapProxy, cg::EventType type, const cg::EventRef& event,
                                         void* userInfo) {
    if (!userInfo) return event;
    // Held for the whole call: an uninstall meanwhile must not free what this call still uses.
    auto context = static_cast<EventTapContext*>(userInfo)->shared_from_this();
    if (type == cg::EventType::tapDisabledByTimeout || type == cg::EventType::tapDisabledByUserInput) {
        // Without Accessibility the system holds the person's input at this tap until it times
        // out again: re-enabling then would stall every click once more. Left off, the tap comes
        // back through a new install once the permission does.
        if (!AccessibilityBridge::isAccessibilityGranted()) {
            log::eventTap().error(
                "Event tap disabled by system (type=%u). Accessibility permission is missing; "
                "leaving it disabled.",
                cg::rawValue(type));
            return event;
        }
        log::eventTap().error("Event tap disabled by system (type=%u). Re-enabling.", cg::rawValue(type));
        if (auto port = context->machPort.lock()) cg::eventTapEnable(port, true);
        return event;
    }
    if (auto copy = cg::eventCreateCopy(event)) context->continuation.yield(std::move(copy));
    return event;
}

}  // namespace stashbay
