#pragma once

#include "macos/CoreFoundation/RunLoop.hpp"
#include "macos/CoreGraphics/EventTap.hpp"

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A tap's user information for tests: writes its label into a shared log for every call and
// answers with `action` (default: pass the event on).
struct TapProbe {
    using Action = std::function<cg::EventRef(cg::EventType, const cg::EventRef&)>;

    explicit TapProbe(std::string label_ = {}, std::vector<std::string>* log_ = nullptr, Action action_ = {})
        : label(std::move(label_)), log(log_), action(std::move(action_)) {}

    std::string label;
    std::vector<std::string>* log = nullptr;
    Action action;
    std::vector<cg::EventType> types;
    std::vector<cg::EventRef> seen;

    static cg::EventRef callback(cg::EventTapProxy, cg::EventType type, const cg::EventRef& event, void* info) {
        auto* probe = static_cast<TapProbe*>(info);
        if (probe->log) probe->log->push_back(probe->label);
        probe->types.push_back(type);
        probe->seen.push_back(event);
        return probe->action ? probe->action(type, event) : event;
    }
};

// A tap that is serviced: its source sits on the main run loop in the common modes.
struct LiveTap {
    cf::MachPortRef port;
    cf::RunLoopSourceRef source;

    bool valid() const { return port && source; }
    void remove() {
        cf::runLoopRemoveSource(cf::runLoopGetMain(), source, cf::runLoopCommonModes);
        cf::machPortInvalidate(port);
    }
};

inline LiveTap attach(cf::MachPortRef port) {
    LiveTap tap{std::move(port), nullptr};
    if (!tap.port) return tap;
    tap.source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, tap.port, 0);
    cf::runLoopAddSource(cf::runLoopGetMain(), tap.source, cf::runLoopCommonModes);
    return tap;
}

inline LiveTap tapAt(cg::EventTapLocation location, TapProbe& probe, cg::EventMask mask = ~cg::EventMask{0},
                     cg::EventTapOptions options = cg::EventTapOptions::listenOnly,
                     cg::EventTapPlacement placement = cg::EventTapPlacement::tailAppend) {
    return attach(cg::eventTapCreate(location, placement, options, mask, &TapProbe::callback, &probe));
}

inline LiveTap tapOn(std::int32_t pid, TapProbe& probe, cg::EventMask mask = ~cg::EventMask{0},
                     cg::EventTapOptions options = cg::EventTapOptions::listenOnly,
                     cg::EventTapPlacement placement = cg::EventTapPlacement::tailAppend) {
    return attach(cg::eventTapCreateForPid(pid, placement, options, mask, &TapProbe::callback, &probe));
}

}  // namespace testing_support
