#pragma once

#include "macos/AppKit/Image.hpp"

namespace stashbay {

// The name of the status item's image in the app's asset catalogue.
inline constexpr const char* menuBarIconName = "MenuBarIcon";

// Adds the app's own artwork for "MenuBarIcon" to the asset catalogue: a stash box with an arrow
// into it, drawn black on clear as a template image, 18 points square at twice the resolution.
void registerMenuBarIcon();
// The drawing itself.
ns::Image drawMenuBarIcon();

}  // namespace stashbay
