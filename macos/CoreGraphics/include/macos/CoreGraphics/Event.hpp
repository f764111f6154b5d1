#pragma once

#include "macos/CoreGraphics/Geometry.hpp"

#include <cstdint>
#include <map>
#include <memory>

namespace cg {

// The platform's raw event type numbers. Any raw value may be carried, so the enumeration is
// open: static_cast a number to it.
enum class EventType : std::uint32_t {
    null = 0,
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    scrollWheel = 22,
    otherMouseDown = 25,
    otherMouseUp = 26,
    otherMouseDragged = 27,
    // What a tap's callback is told when the system switched the tap off.
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

constexpr std::uint32_t rawValue(EventType type) { return static_cast<std::uint32_t>(type); }

// Bit n set: events of type n. A type of 64 or more has no bit.
using EventMask = std::uint64_t;
constexpr EventMask eventMaskBit(EventType type) {
    return rawValue(type) < 64 ? EventMask{1} << rawValue(type) : EventMask{0};
}

bool isMouseEventType(EventType type);
bool isMouseDownType(EventType type);
bool isKeyboardEventType(EventType type);

using EventFlags = std::uint64_t;
inline constexpr EventFlags eventFlagMaskShift = 0x20000;
inline constexpr EventFlags eventFlagMaskControl = 0x40000;
inline constexpr EventFlags eventFlagMaskAlternate = 0x80000;
inline constexpr EventFlags eventFlagMaskCommand = 0x100000;

enum class MouseButton : std::uint32_t { left = 0, right = 1, center = 2 };

// Integer fields of an event. Open like EventType: the window field 51 has no name.
enum class EventField : std::uint32_t {
    mouseEventClickState = 1,
    mouseEventButtonNumber = 3,
    keyboardEventAutorepeat = 8,
    keyboardEventKeycode = 9,
    // A scroll: lines (wheel notches) and points, axis 1 vertical, axis 2 horizontal; positive
    // is up and left. Continuous for a trackpad, whose points are exact.
    scrollWheelEventDeltaAxis1 = 11,
    scrollWheelEventDeltaAxis2 = 12,
    scrollWheelEventIsContinuous = 88,
    scrollWheelEventPointDeltaAxis1 = 96,
    scrollWheelEventPointDeltaAxis2 = 97,
    eventTargetUnixProcessID = 40,
    eventSourceUnixProcessID = 41,
    eventSourceUserData = 42,
    mouseEventWindowUnderMousePointer = 91,
    mouseEventWindowUnderMousePointerThatCanHandleThisEvent = 92,
};

// Where an event enters, or a tap listens, in the window server's stream: as input arrives
// from the hardware, where it enters the login session, and after the session annotated it.
enum class EventTapLocation : std::uint32_t { hid = 0, session = 1, annotatedSession = 2 };

class EventSource;
using EventSourceRef = std::shared_ptr<EventSource>;

// One event. Handles are shared: the platform's reference semantics, so a tag read from the
// object's address names the same event wherever the handle travels; a copy is a new event.
class Event {
public:
    Event(EventType type, Point location, EventSourceRef source);

    EventType type() const { return type_; }
    void setType(EventType type) { type_ = type; }
    Point location() const { return location_; }
    void setLocation(Point p) { location_ = p; }
    EventFlags flags() const { return flags_; }
    void setFlags(EventFlags flags) { flags_ = flags; }
    // Fields never set read as 0.
    std::int64_t integerValue(EventField field) const;
    void setIntegerValue(EventField field, std::int64_t value);
    const std::map<std::uint32_t, std::int64_t>& fields() const { return fields_; }
    const EventSourceRef& source() const { return source_; }

    // A new event with the same contents and source.
    std::shared_ptr<Event> copy() const;

private:
    EventType type_;
    Point location_;
    EventFlags flags_ = 0;
    std::map<std::uint32_t, std::int64_t> fields_;
    EventSourceRef source_;
};
using EventRef = std::shared_ptr<Event>;

// A null event (type 0) at the pointer's location; null when the world's fault switch is on.
// The source may be null.
EventRef eventCreate(const EventSourceRef& source);
// A mouse event of `type` for `button`, click state 0, no flags; null when the fault switch is on.
EventRef eventCreateMouseEvent(const EventSourceRef& source, EventType type, Point location, MouseButton button);
// Null for a null event or when the copy fault is on.
EventRef eventCreateCopy(const EventRef& event);
// The source the event was made from; null when it had none.
EventSourceRef eventCreateSourceFromEvent(const EventRef& event);

// Readers give the platform's zero values for a null event; writers ignore one.
EventType eventGetType(const EventRef& event);
void eventSetType(const EventRef& event, EventType type);
Point eventGetLocation(const EventRef& event);
void eventSetLocation(const EventRef& event, Point location);
EventFlags eventGetFlags(const EventRef& event);
void eventSetFlags(const EventRef& event, EventFlags flags);
std::int64_t eventGetIntegerValueField(const EventRef& event, EventField field);
void eventSetIntegerValueField(const EventRef& event, EventField field, std::int64_t value);

// Posting. The event is copied as it is now and routed later, as a job on the main loop: a poster
// never sees its event delivered inside the call. At the HID point it passes the HID, session and
// annotated-session taps; at the session point the last two; to a process only that process's
// taps, when the process reads its queue. A null event is ignored, and so is every event while the poster lacks
// Accessibility trust: it goes nowhere and nobody is told.
void eventPost(EventTapLocation location, const EventRef& event);
void eventPostToPid(std::int32_t pid, const EventRef& event);

}  // namespace cg
