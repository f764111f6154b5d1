#include "macos/AppKit/Screen.hpp"

#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

namespace ns {

std::vector<Screen> Screen::screens() {
    runtime::assertMainExecutor("NSScreen.screens");
    return screensOnAnyExecutor();
}

std::vector<Screen> Screen::screensOnAnyExecutor() {
    std::vector<Screen> out;
    for (const auto& s : sim::World::current().screens().screens()) out.emplace_back(s);
    return out;
}

std::optional<Screen> Screen::main() {
    runtime::assertMainExecutor("NSScreen.main");
    if (auto s = sim::World::current().screens().main()) return Screen(s);
    return std::nullopt;
}

}  // namespace ns
