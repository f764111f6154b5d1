#pragma once

#include "macos/CoreGraphics/Geometry.hpp"

#include <cstdint>
#include <vector>

namespace cg {

// The display queries. They answer from the current world and may be called on any executor.
using DirectDisplayID = std::uint32_t;
inline constexpr DirectDisplayID nullDirectDisplay = 0;

// Whether the display is the computer's built-in panel; false for an unknown display.
bool displayIsBuiltin(DirectDisplayID display);
// The display of the primary screen, which carries the menu bar; nullDirectDisplay when there
// is none or it has no display number.
DirectDisplayID mainDisplayID();
// The displays of the attached screens that have a display number, in the screens' order.
std::vector<DirectDisplayID> activeDisplayList();
// The display's bounds in the window server's space (origin at the top-left of the primary
// screen, y down); the zero rectangle for an unknown display.
Rect displayBounds(DirectDisplayID display);

}  // namespace cg
