// Feeds arbitrary bytes to the scenario loader. It must never crash and never throw anything but
// its own error, which names the file; whatever it accepts, a world must take and the frameworks
// must read back.
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/AppKit/Screen.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/CoreGraphics/Display.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void readBack(const sim::Scenario& scenario) {
    runtime::ManualLoop loop;
    sim::World world(scenario);
    auto screens = ns::Screen::screens();
    check(screens.size() == scenario.screens.size());
    for (const auto& screen : screens) {
        check(screen.frame().width() > 0 && screen.frame().height() > 0);
        check(screen.visibleFrame().size.width >= 0 && screen.visibleFrame().size.height >= 0);
        check(screen.backingScaleFactor() > 0);
        (void)screen.deviceDescription();
    }
    check(ns::Screen::main().has_value() == scenario.mainScreen.has_value());
    for (auto display : cg::activeDisplayList()) (void)cg::displayIsBuiltin(display);
    (void)cg::displayBounds(cg::mainDisplayID());
    auto apps = ns::Workspace::shared().runningApplications();
    check(apps.size() >= scenario.applications.size());
    for (const auto& app : apps) {
        check(app->processIdentifier() > 0);
        auto found = ns::RunningApplication::withProcessIdentifier(app->processIdentifier());
        check(app->isTerminated() ? !found : found && found->processIdentifier() == app->processIdentifier());
    }
    check(ns::RunningApplication::current()->processIdentifier() == ns::currentProcessIdentifier());
    loop.runUntilIdle();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::Scenario scenario;
    try {
        scenario = sim::parseScenario(text, "fuzz.json");
    } catch (const sim::ScenarioError& e) {
        check(std::string_view(e.what()).substr(0, 10) == "fuzz.json:");
        return 0;
    }
    readBack(scenario);
    return 0;
}
