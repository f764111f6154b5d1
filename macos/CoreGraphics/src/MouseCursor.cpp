#include "macos/CoreGraphics/MouseCursor.hpp"

#include "macos/sim/World.hpp"

namespace cg {

Error warpMouseCursorPosition(Point location) {
    auto* world = sim::World::currentOrNull();
    if (!world) return errorNoneAvailable;
    world->events().warpPointer(location);
    return errorSuccess;
}

Error associateMouseAndMouseCursorPosition(bool connected) {
    auto* world = sim::World::currentOrNull();
    if (!world) return errorNoneAvailable;
    world->events().setMouseAssociated(connected);
    return errorSuccess;
}

}  // namespace cg
