#pragma once

namespace sim {

// Platform failures a test switches on. Each switch is off by default and is read at the moment
// the platform call is made, so a test can flip it between two calls. Scenarios set them in
// their "faults" section under the same names.
struct Faults {
    // Creating a bitmap context fails (the platform returns no context).
    bool bitmapContextCreationFails = false;
    // A bitmap context gives no image.
    bool bitmapContextImageFails = false;

    friend bool operator==(const Faults&, const Faults&) = default;
};

}  // namespace sim
