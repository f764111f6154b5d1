#pragma once

#include "macos/CoreGraphics/Event.hpp"

#include <cstdint>

namespace ns {

// Which event types a monitor wants: bit n for event type n.
using EventMask = std::uint64_t;
inline constexpr EventMask eventMaskKeyDown = EventMask{1} << 10;
inline constexpr EventMask eventMaskLeftMouseDown = EventMask{1} << 1;

// The modifier-flag bits of an event, the same bits as the window server's.
using ModifierFlags = std::uint64_t;
inline constexpr ModifierFlags modifierFlagCapsLock = 0x10000;
inline constexpr ModifierFlags modifierFlagShift = 0x20000;
inline constexpr ModifierFlags modifierFlagControl = 0x40000;
inline constexpr ModifierFlags modifierFlagOption = 0x80000;
inline constexpr ModifierFlags modifierFlagCommand = 0x100000;
inline constexpr ModifierFlags modifierFlagFunction = 0x800000;

// An application event: a view of one window-server event, shared rather than copied.
class Event {
public:
    explicit Event(cg::EventRef event) : event_(std::move(event)) {}

    cg::EventType type() const { return event_->type(); }
    // The virtual key code of a key event: a physical key position, not a character.
    std::uint16_t keyCode() const {
        return static_cast<std::uint16_t>(event_->integerValue(cg::EventField::keyboardEventKeycode));
    }
    ModifierFlags modifierFlags() const { return event_->flags(); }
    // Whether a key-down was made by the key repeating by itself.
    bool isARepeat() const { return event_->integerValue(cg::EventField::keyboardEventAutorepeat) != 0; }
    // A scroll's distance in points, positive up (y) and left (x), and whether it is exact (a
    // trackpad) rather than whole lines of a wheel.
    double scrollingDeltaX() const {
        return static_cast<double>(event_->integerValue(cg::EventField::scrollWheelEventPointDeltaAxis2));
    }
    double scrollingDeltaY() const {
        return static_cast<double>(event_->integerValue(cg::EventField::scrollWheelEventPointDeltaAxis1));
    }
    bool hasPreciseScrollingDeltas() const {
        return event_->integerValue(cg::EventField::scrollWheelEventIsContinuous) != 0;
    }
    // Window-server space: origin at the top left of the primary screen, y down.
    cg::Point location() const { return event_->location(); }
    const cg::EventRef& cgEvent() const { return event_; }

private:
    cg::EventRef event_;
};

}  // namespace ns
