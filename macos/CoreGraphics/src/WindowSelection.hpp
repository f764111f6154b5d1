#pragma once

#include "macos/CoreGraphics/WindowList.hpp"
#include "macos/sim/WindowServer.hpp"

#include <vector>

namespace cg::detail {

// The windows a list option selects relative to a window, front to back: what the window list
// reports and what a window image draws.
std::vector<const sim::Window*> selectWindows(const sim::WindowServer& server, WindowListOption options,
                                              WindowID relativeToWindow);

// Whether the world grants this process Screen Recording access now (not what the check says).
bool holdsScreenRecordingAccess();

}  // namespace cg::detail
