#pragma once

#include "stashbay/runtime/Time.hpp"

#include <chrono>
#include <optional>

namespace sim {

// The screen-capture side of the window server: how long the screen-capture framework takes to
// answer, what the access check reports, and what was asked of it, for tests to read.
struct CaptureService {
    // The virtual time until a shareable-content or screenshot completion runs.
    runtime::Duration shareableContentLatency{std::chrono::milliseconds(15)};
    runtime::Duration screenshotLatency{std::chrono::milliseconds(30)};

    // What the Screen Recording access check answers. By default it follows the permission; a
    // test pins it to play the platform's habit of keeping the answer it gave at launch until
    // the process restarts, while the window server already shows other processes' window names.
    std::optional<bool> pinnedPreflight;

    // Requests made, counted when they are made.
    int shareableContentRequests = 0;
    int screenshotRequests = 0;
    // Calls of the window-image function (the one the capture shim looks up by name).
    int windowImageRequests = 0;
};

}  // namespace sim
