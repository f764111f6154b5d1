#pragma once

#include "DesktopView.hpp"

#include "macos/AppKit/HostRunLoop.hpp"

namespace desktop {

// The desktop repaints what changed, when it changed: the world's picture after the loop ran, and
// a window of Stashbay's when its content asks. Each of those asks the host to hold the work the
// loop deferred until the paint, which the view reports.
void paintOnDemand(DesktopView& view, ns::HostRunLoop& host);

}  // namespace desktop
