#pragma once

#include "Updates/UpdateChecker.hpp"
#include "macos/sim/World.hpp"

#include <memory>
#include <optional>
#include <string>

namespace desktop {

// Stashbay running in the world, as its process entry made it; destroyed before the world.
class LaunchedStashbay {
public:
    virtual ~LaunchedStashbay() = default;
};

// Starts Stashbay as its process entry does: the application description's members, its
// menu-bar scene and the delegate, then the end of launching. Its update checks go where
// `updates` says.
std::unique_ptr<LaunchedStashbay> launchStashbay(stashbay::UpdateCheckerConfiguration updates = {});

// Makes the Finder (else the first other application) frontmost, as after a login.
void bringFinderToFront(sim::World& world);

// The app's log reaches the terminal only when the person asked for it, from "error", "info" or
// "debug" on; as on a Mac, where it goes to the system log, by default it does not.
void configureLog(const std::optional<std::string>& level);

}  // namespace desktop
