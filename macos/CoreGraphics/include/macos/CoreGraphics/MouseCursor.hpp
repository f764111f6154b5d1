#pragma once

#include "macos/CoreGraphics/Geometry.hpp"

#include <cstdint>

namespace cg {

using Error = std::int32_t;
inline constexpr Error errorSuccess = 0;
inline constexpr Error errorNoneAvailable = 1011;

// Moves the pointer without posting an event. Afterwards the user's mouse does not move the
// pointer for 0.25 s, unless mouse and cursor are associated again. Fails without a world.
Error warpMouseCursorPosition(Point location);
// While not associated, the user's mouse moves do not move the pointer.
Error associateMouseAndMouseCursorPosition(bool connected);

}  // namespace cg
