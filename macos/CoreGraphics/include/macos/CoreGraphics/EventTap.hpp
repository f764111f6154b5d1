#pragma once

#include "macos/CoreFoundation/MachPort.hpp"
#include "macos/CoreGraphics/Event.hpp"

#include <cstdint>

namespace cg {

enum class EventTapPlacement : std::uint32_t { headInsert = 0, tailAppend = 1 };
// An active tap may drop or replace what it sees; a listen-only tap only watches.
enum class EventTapOptions : std::uint32_t { defaultTap = 0, listenOnly = 1 };

// Names the tap a callback runs for; opaque to the callback.
struct EventTapProxy {
    std::uint64_t tap = 0;
};

// Called on the main run loop with a copy of each event the tap sees (or with one of the two
// "tap disabled" types). Returns the event to pass on, or null to drop it; an active tap's
// answer counts, a listen-only tap's is ignored.
using EventTapCallBack = EventRef (*)(EventTapProxy proxy, EventType type, const EventRef& event, void* userInfo);

// A tap at a point of the window server's stream, or on the stream of one process. `userInfo` is
// handed back to every callback untouched and never owned. The callback runs only while a source
// of the returned port is on the main run loop in a mode it runs in, the tap is enabled and the
// port valid; a new tap is enabled. A head-inserted tap runs before the taps already at its point,
// a tail-appended one after them. Null without accessibility trust, when the fault switch is on,
// or for a null callback. Releasing the last reference to the port removes the tap.
cf::MachPortRef eventTapCreate(EventTapLocation location, EventTapPlacement placement, EventTapOptions options,
                               EventMask eventsOfInterest, EventTapCallBack callback, void* userInfo);
cf::MachPortRef eventTapCreateForPid(std::int32_t pid, EventTapPlacement placement, EventTapOptions options,
                                     EventMask eventsOfInterest, EventTapCallBack callback, void* userInfo);
// Ignored for a port that is not a live tap.
void eventTapEnable(const cf::MachPortRef& tap, bool enable);
bool eventTapIsEnabled(const cf::MachPortRef& tap);

}  // namespace cg
