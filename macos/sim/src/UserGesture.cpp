#include "macos/sim/UserGesture.hpp"

#include "macos/sim/World.hpp"

#include <algorithm>

namespace sim {

runtime::Duration performDrag(World& world, const DragGesture& gesture, runtime::Duration delay) {
    using T = cg::EventType;
    const cg::EventFlags flags = gesture.command ? cg::eventFlagMaskCommand : 0;
    const int steps = std::max(gesture.steps, 0);
    auto at = delay;
    world.schedule(at,
                   [&world, p = gesture.from, flags] { world.events().injectUserMouse(T::leftMouseDown, p, flags); });
    for (int i = 1; i <= steps; ++i) {
        at += gesture.stepInterval;
        double f = static_cast<double>(i) / static_cast<double>(steps);
        cg::Point p{gesture.from.x + (gesture.to.x - gesture.from.x) * f,
                    gesture.from.y + (gesture.to.y - gesture.from.y) * f};
        world.schedule(at, [&world, p, flags] { world.events().injectUserMouse(T::leftMouseDragged, p, flags); });
    }
    at += gesture.stepInterval;
    world.schedule(at, [&world, p = gesture.to, flags] { world.events().injectUserMouse(T::leftMouseUp, p, flags); });
    return at;
}

cg::Point centreOf(const StatusItem& item) { return cg::Point{item.frame.midX(), item.frame.midY()}; }

}  // namespace sim
