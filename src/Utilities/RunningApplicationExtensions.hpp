#pragma once

#include "macos/AppKit/RunningApplication.hpp"

#include <string>

namespace stashbay {

// The bundle identifier, else "pid-" and the process id: stable enough to key an item's owner.
std::string identifierOrFallback(const ns::RunningApplication& application);
// The localized name (an empty one included), else the bundle identifier, else
// "Unknown (<pid>)".
std::string displayName(const ns::RunningApplication& application);

}  // namespace stashbay
