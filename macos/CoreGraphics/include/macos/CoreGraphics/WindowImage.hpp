#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "macos/CoreGraphics/WindowList.hpp"
#include "macos/WindowImage/WindowImage.h"

#include <cstdint>

namespace cg {

// How a window image is made, by the platform's raw bits.
using WindowImageOption = std::uint32_t;
inline constexpr WindowImageOption windowImageDefault = 0;
inline constexpr WindowImageOption windowImageBoundsIgnoreFraming = 1u << 0;
inline constexpr WindowImageOption windowImageShouldBeOpaque = 1u << 1;
inline constexpr WindowImageOption windowImageOnlyShadows = 1u << 2;
inline constexpr WindowImageOption windowImageBestResolution = 1u << 3;
inline constexpr WindowImageOption windowImageNominalResolution = 1u << 4;

// No side of a window image may have more pixels than this.
inline constexpr std::size_t maximumWindowImageSide = 16384;

// A window's content: an image of its colour at the primary screen's backing scale (1 without a
// screen). Null for an unknown window or empty bounds. It ignores permissions and faults; the
// capture functions below apply them.
ImageRef windowContentImage(WindowID window);

// The window server's image of a part of the screen: the windows that `listOption` selects
// (relative to `windowID`, as in the window list), drawn back to front into `screenBounds`
// (window-server space; the null rectangle stands for the windows' own bounds together, the
// infinite one for all screens), over transparency (white with windowImageShouldBeOpaque). The
// primary screen's backing scale applies unless windowImageNominalResolution asks for one pixel
// per point; sides are rounded up to whole pixels. Windows have no framing or shadows, so
// windowImageBoundsIgnoreFraming changes nothing and windowImageOnlyShadows draws no window.
// A window that is not on screen keeps its content (the window server keeps its backing store).
//
// Null when: the world's windowImageFails fault is on; the rectangle is empty, not finite, or
// needs more than maximumWindowImageSide pixels a side; the selection is the single window
// `windowID` (windowListOptionIncludingWindow alone) and that window is unknown, cannot be
// captured (its captureFails flag), or belongs to another process while this one lacks Screen
// Recording access. In a composite those windows are left out instead. Each call is counted in
// the world's captureService().windowImageRequests.
ImageRef windowListCreateImage(const Rect& screenBounds, WindowListOption listOption, WindowID windowID,
                               WindowImageOption imageOption);

// The C form of the image function, as the window-image library exports it under the name
// "CGWindowListCreateImage": an image under the create rule, or null; null, too, when no world
// exists.
CGImageRef createWindowListImage(CGWindowRect screenBounds, CGWindowListOption listOption, CGWindowID windowID,
                                 CGWindowImageOption imageOption);
// The matching release ("CGImageRelease"); null is ignored.
void releaseImage(CGImageRef image);
// Takes over an image under the create rule: the result holds the image, and the reference is
// released. Null for null.
ImageRef adoptImage(CGImageRef image);

inline CGWindowRect toWindowRect(const Rect& r) {
    return CGWindowRect{r.origin.x, r.origin.y, r.size.width, r.size.height};
}
inline Rect fromWindowRect(const CGWindowRect& r) { return Rect(r.x, r.y, r.width, r.height); }

// Loads the window-image library into the process, for everyone's symbol lookups, and installs
// the functions above into it. Once per process; the world calls it when it is made. Returns
// whether the library is in the process.
bool loadWindowImageLibrary();
// For a process that must run without the library: from now on loadWindowImageLibrary() loads
// nothing until allowed again. A library already loaded stays.
void setWindowImageLibraryAllowed(bool allowed);

}  // namespace cg
