#pragma once

#include "macos/CoreFoundation/Value.hpp"

#include <cstdint>
#include <optional>

namespace cg {

using WindowID = std::uint32_t;
inline constexpr WindowID nullWindowID = 0;

// Which windows a window-list query (or a window image) covers, by the platform's raw bits.
// Without any of the first four bits every window is listed, on screen or not; "above" and
// "below" are relative to a window and list on-screen windows only; "including" adds the relative
// window itself, whether on screen or not.
using WindowListOption = std::uint32_t;
inline constexpr WindowListOption windowListOptionAll = 0;
inline constexpr WindowListOption windowListOptionOnScreenOnly = 1u << 0;
inline constexpr WindowListOption windowListOptionOnScreenAboveWindow = 1u << 1;
inline constexpr WindowListOption windowListOptionOnScreenBelowWindow = 1u << 2;
inline constexpr WindowListOption windowListOptionIncludingWindow = 1u << 3;
inline constexpr WindowListOption windowListExcludeDesktopElements = 1u << 4;

// The keys of a window's dictionary in the window list.
inline constexpr const char* windowNumberKey = "kCGWindowNumber";              // integer
inline constexpr const char* windowStoreTypeKey = "kCGWindowStoreType";        // integer
inline constexpr const char* windowLayerKey = "kCGWindowLayer";                // integer
inline constexpr const char* windowBoundsKey = "kCGWindowBounds";              // dictionary, the keys below
inline constexpr const char* windowSharingStateKey = "kCGWindowSharingState";  // integer
inline constexpr const char* windowAlphaKey = "kCGWindowAlpha";                // real
inline constexpr const char* windowOwnerPIDKey = "kCGWindowOwnerPID";          // integer
inline constexpr const char* windowMemoryUsageKey = "kCGWindowMemoryUsage";    // integer, bytes
inline constexpr const char* windowOwnerNameKey = "kCGWindowOwnerName";        // text; absent without a name
inline constexpr const char* windowNameKey = "kCGWindowName";                  // text; see below
inline constexpr const char* windowIsOnscreenKey = "kCGWindowIsOnscreen";      // boolean
// The bounds dictionary: window-server space (origin at the top left of the primary screen,
// y down), in points.
inline constexpr const char* boundsXKey = "X";
inline constexpr const char* boundsYKey = "Y";
inline constexpr const char* boundsWidthKey = "Width";
inline constexpr const char* boundsHeightKey = "Height";

// Sharing states and store types as the window list reports them.
inline constexpr std::int64_t windowSharingNone = 0;
inline constexpr std::int64_t windowSharingReadOnly = 1;
inline constexpr std::int64_t backingStoreBuffered = 2;

// The window server's list of windows, front to back: an array of dictionaries with the keys
// above. A window's name is left out when it has none, and also when it belongs to another
// process while this one lacks Screen Recording access. Nil when the window server does not
// answer (the world's windowListUnavailable fault). An unknown relative window gives an empty
// list for the relative options. Any executor.
std::optional<cf::Value> windowListCopyWindowInfo(WindowListOption options, WindowID relativeToWindow);

// The keys of the window levels, by the platform's raw values.
using WindowLevelKey = std::int32_t;
inline constexpr WindowLevelKey baseWindowLevelKey = 0;
inline constexpr WindowLevelKey minimumWindowLevelKey = 1;
inline constexpr WindowLevelKey desktopWindowLevelKey = 2;
inline constexpr WindowLevelKey backstopMenuLevelKey = 3;
inline constexpr WindowLevelKey normalWindowLevelKey = 4;
inline constexpr WindowLevelKey floatingWindowLevelKey = 5;
inline constexpr WindowLevelKey tornOffMenuWindowLevelKey = 6;
inline constexpr WindowLevelKey dockWindowLevelKey = 7;
inline constexpr WindowLevelKey mainMenuWindowLevelKey = 8;
inline constexpr WindowLevelKey statusWindowLevelKey = 9;
inline constexpr WindowLevelKey modalPanelWindowLevelKey = 10;
inline constexpr WindowLevelKey popUpMenuWindowLevelKey = 11;
inline constexpr WindowLevelKey draggingWindowLevelKey = 12;
inline constexpr WindowLevelKey screenSaverWindowLevelKey = 13;
inline constexpr WindowLevelKey maximumWindowLevelKey = 14;
inline constexpr WindowLevelKey overlayWindowLevelKey = 15;
inline constexpr WindowLevelKey helpWindowLevelKey = 16;
inline constexpr WindowLevelKey utilityWindowLevelKey = 17;
inline constexpr WindowLevelKey desktopIconWindowLevelKey = 18;
inline constexpr WindowLevelKey cursorWindowLevelKey = 19;
inline constexpr WindowLevelKey assistiveTechHighWindowLevelKey = 20;

using WindowLevel = std::int32_t;
// The level for a key: normal 0, status 25, pop-up menu 101 and the others of the platform; the
// normal level for an unknown key.
WindowLevel windowLevelForKey(WindowLevelKey key);
// Windows at or below this level are desktop elements (the desktop picture and its icons).
WindowLevel desktopElementsTopLevel();

// Screen Recording access. The check only reads; the request is counted by the world
// (permissions().screenRecordingRequests) and answers whether access is held, without granting
// anything: whether the user is asked is the system's business.
bool preflightScreenCaptureAccess();
bool requestScreenCaptureAccess();

}  // namespace cg
