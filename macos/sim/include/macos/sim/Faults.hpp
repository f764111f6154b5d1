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

    // The window server's window-list query answers nil.
    bool windowListUnavailable = false;
    // The window server captures no window image at all.
    bool windowImageFails = false;
    // The screen-capture framework cannot list shareable content, or cannot take a screenshot.
    bool shareableContentFails = false;
    bool screenshotFails = false;

    // Creating an event tap, its run-loop source, an event, an event source, or copying an event
    // fails.
    bool eventTapCreationFails = false;
    bool runLoopSourceCreationFails = false;
    bool eventCreationFails = false;
    bool eventSourceCreationFails = false;
    bool eventCopyFails = false;

    friend bool operator==(const Faults&, const Faults&) = default;
};

}  // namespace sim
