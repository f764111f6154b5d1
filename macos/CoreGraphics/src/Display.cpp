#include "macos/CoreGraphics/Display.hpp"

#include "macos/sim/World.hpp"

namespace cg {

bool displayIsBuiltin(DirectDisplayID display) {
    auto screen = sim::World::current().screens().withDisplayNumber(display);
    return screen && screen->spec().builtIn;
}

DirectDisplayID mainDisplayID() {
    auto primary = sim::World::current().screens().primary();
    if (!primary || !primary->spec().displayNumber) return nullDirectDisplay;
    return *primary->spec().displayNumber;
}

std::vector<DirectDisplayID> activeDisplayList() {
    std::vector<DirectDisplayID> out;
    for (const auto& s : sim::World::current().screens().screens()) {
        if (s->spec().displayNumber) out.push_back(*s->spec().displayNumber);
    }
    return out;
}

Rect displayBounds(DirectDisplayID display) {
    const auto& screens = sim::World::current().screens();
    auto screen = screens.withDisplayNumber(display);
    if (!screen) return Rect::zero();
    Rect frame = screen->spec().frame;
    Float primaryHeight = screens.primary()->spec().frame.height();
    return Rect(frame.origin.x, primaryHeight - frame.maxY(), frame.width(), frame.height());
}

}  // namespace cg
