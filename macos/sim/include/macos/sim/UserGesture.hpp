#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "stashbay/runtime/Time.hpp"

#include <chrono>

namespace sim {

class World;
struct StatusItem;

// A press, a drag along a straight line and a release of the left button by the user's own mouse.
struct DragGesture {
    cg::Point from;
    cg::Point to;
    // Drag events between the press and the release, evenly spaced along the line.
    int steps = 10;
    runtime::Duration stepInterval = std::chrono::milliseconds(16);
    // Command held throughout: the application that owns the pressed status item moves it to
    // where it is released, as it does on the platform.
    bool command = false;
};

// Schedules the gesture's events on the world's HID input, the press `delay` from now, then one
// event every step interval. Returns the time from now until the release.
runtime::Duration performDrag(World& world, const DragGesture& gesture,
                              runtime::Duration delay = runtime::Duration::zero());

// The middle of a status item's frame, in window-server space.
cg::Point centreOf(const StatusItem& item);

}  // namespace sim
