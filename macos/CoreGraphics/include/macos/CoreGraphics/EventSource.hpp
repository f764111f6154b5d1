#pragma once

#include "macos/CoreGraphics/Event.hpp"

#include <cstdint>

namespace cg {

enum class EventSourceStateID : std::int32_t { privateState = -1, combinedSessionState = 0, hidSystemState = 1 };

// The two states in which the user's own input may be held back after events were posted:
// a short interval after every post, and while a posted mouse button is down (a remote drag).
enum class EventSuppressionState : std::uint32_t { suppressionInterval = 0, remoteMouseDrag = 1 };

// Which of the user's own events get through while suppressed.
using EventFilterMask = std::uint32_t;
inline constexpr EventFilterMask eventFilterMaskPermitLocalMouseEvents = 1;
inline constexpr EventFilterMask eventFilterMaskPermitLocalKeyboardEvents = 2;
inline constexpr EventFilterMask eventFilterMaskPermitSystemDefinedEvents = 4;
inline constexpr EventFilterMask eventFilterMaskPermitAllEvents = 7;

// Where posted events say they come from, and how they hold back the user's input. Defaults:
// only system-defined events get through in either state, for 0.25 s after each post.
class EventSource {
public:
    explicit EventSource(EventSourceStateID state) : state_(state) {}

    EventSourceStateID stateID() const { return state_; }
    EventFilterMask localEventsFilter(EventSuppressionState state) const;
    void setLocalEventsFilter(EventSuppressionState state, EventFilterMask filter);
    double localEventsSuppressionInterval() const { return suppressionInterval_; }
    void setLocalEventsSuppressionInterval(double seconds) { suppressionInterval_ = seconds; }

private:
    EventSourceStateID state_;
    EventFilterMask duringInterval_ = eventFilterMaskPermitSystemDefinedEvents;
    EventFilterMask duringRemoteDrag_ = eventFilterMaskPermitSystemDefinedEvents;
    double suppressionInterval_ = 0.25;
};

// Null when the world's fault switch is on. Every source made is recorded by the world.
EventSourceRef eventSourceCreate(EventSourceStateID state);
// Null sources are ignored; their readers give the defaults' zero values.
void eventSourceSetLocalEventsFilterDuringSuppressionState(const EventSourceRef& source, EventFilterMask filter,
                                                           EventSuppressionState state);
EventFilterMask eventSourceGetLocalEventsFilterDuringSuppressionState(const EventSourceRef& source,
                                                                      EventSuppressionState state);
// Negative intervals count as 0.
void eventSourceSetLocalEventsSuppressionInterval(const EventSourceRef& source, double seconds);
double eventSourceGetLocalEventsSuppressionInterval(const EventSourceRef& source);
// Whether `button` is down now. Every state reads the window server's view of the buttons, which
// the user's input and events posted at the three points move; false without a world.
bool eventSourceButtonState(EventSourceStateID state, MouseButton button);

}  // namespace cg
