#include "macos/CoreGraphics/EventTap.hpp"

#include "macos/sim/World.hpp"

namespace cg {

cf::MachPortRef eventTapCreate(EventTapLocation location, EventTapPlacement placement, EventTapOptions options,
                               EventMask eventsOfInterest, EventTapCallBack callback, void* userInfo) {
    auto* world = sim::World::currentOrNull();
    if (!world) return nullptr;
    return world->events().createTap(sim::TapPoint::at(location), placement, options, eventsOfInterest, callback,
                                     userInfo);
}

cf::MachPortRef eventTapCreateForPid(std::int32_t pid, EventTapPlacement placement, EventTapOptions options,
                                     EventMask eventsOfInterest, EventTapCallBack callback, void* userInfo) {
    auto* world = sim::World::currentOrNull();
    if (!world) return nullptr;
    return world->events().createTap(sim::TapPoint::process(pid), placement, options, eventsOfInterest, callback,
                                     userInfo);
}

void eventTapEnable(const cf::MachPortRef& tap, bool enable) {
    auto* world = sim::World::currentOrNull();
    if (world && tap) world->events().setTapEnabled(*tap, enable);
}

bool eventTapIsEnabled(const cf::MachPortRef& tap) {
    auto* world = sim::World::currentOrNull();
    return world && tap && world->events().isTapEnabled(*tap);
}

}  // namespace cg
