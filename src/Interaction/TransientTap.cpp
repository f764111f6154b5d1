#include "Interaction/TransientTap.hpp"

namespace stashbay {

std::shared_ptr<TransientTap> TransientTap::make(TapPoint point, bool listenOnly,
                                                 const std::vector<cg::EventType>& types, Handler handler) {
    auto context = std::make_shared<Context>(std::move(handler));
    cg::EventMask mask = 0;
    for (auto type : types) mask |= cg::eventMaskBit(type);
    const auto options = listenOnly ? cg::EventTapOptions::listenOnly : cg::EventTapOptions::defaultTap;
    cf::MachPortRef port;
    if (point.kind == TapPoint::Kind::session) {
        port = cg::eventTapCreate(cg::EventTapLocation::session, cg::EventTapPlacement::tailAppend, options, mask,
                                  &TransientTap::callback, context.get());
    } else {
        port = cg::eventTapCreateForPid(point.processID, cg::EventTapPlacement::tailAppend, options, mask,
                                        &TransientTap::callback, context.get());
    }
    if (!port) return nullptr;
    auto source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
    return std::make_shared<TransientTap>(std::move(port), std::move(source), std::move(context));
}

TransientTap::TransientTap(cf::MachPortRef port, cf::RunLoopSourceRef source, std::shared_ptr<Context> context)
    : machPort(std::move(port)), runLoopSource(std::move(source)), context(std::move(context)) {}

TransientTap::~TransientTap() { disable(); }

void TransientTap::enable() {
    if (!machPort || !runLoopSource) return;
    cf::runLoopAddSource(cf::runLoopGetMain(), runLoopSource, cf::runLoopCommonModes);
    cg::eventTapEnable(machPort, true);
}

void TransientTap::disable() {
    if (!machPort || !runLoopSource) return;
    cg::eventTapEnable(machPort, false);
    cf::runLoopRemoveSource(cf::runLoopGetMain(), runLoopSource, cf::runLoopCommonModes);
    cf::machPortInvalidate(machPort);
    context.reset();
    machPort.reset();
    runLoopSource.reset();
}

cg::EventRef TransientTap::callback(cg::EventTapProxy, cg::EventType type, const cg::EventRef& event, void* userInfo) {
    if (!userInfo) return event;
    if (type == cg::EventType::tapDisabledByTimeout || type == cg::EventType::tapDisabledByUserInput) return event;
    // Held for the call: the handler may disable its own tap, which drops the tap's reference.
    auto context = static_cast<Context*>(userInfo)->shared_from_this();
    return context->handler(event);
}

}  // namespace stashbay
