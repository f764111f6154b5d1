#pragma once

#include "macos/os/Logger.hpp"

#include <string>

namespace stashbay::log {

// The shared category loggers, each made once on first use.
const os::Logger& scanning();
const os::Logger& accessibility();
const os::Logger& permissions();
const os::Logger& display();
const os::Logger& eventTap();
const os::Logger& persistence();
const os::Logger& interaction();
const os::Logger& appLifecycle();

// A logger of the app's subsystem with a category of its own, for the components that keep one
// ("appState", "appDelegate", "menuBarController").
os::Logger componentLogger(std::string category);

}  // namespace stashbay::log
