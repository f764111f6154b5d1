#include "macos/CoreGraphics/EventSource.hpp"

#include "macos/sim/World.hpp"

#include <algorithm>

namespace cg {

EventFilterMask EventSource::localEventsFilter(EventSuppressionState state) const {
    return state == EventSuppressionState::remoteMouseDrag ? duringRemoteDrag_ : duringInterval_;
}

void EventSource::setLocalEventsFilter(EventSuppressionState state, EventFilterMask filter) {
    filter &= eventFilterMaskPermitAllEvents;
    if (state == EventSuppressionState::remoteMouseDrag)
        duringRemoteDrag_ = filter;
    else if (state == EventSuppressionState::suppressionInterval)
        duringInterval_ = filter;
}

EventSourceRef eventSourceCreate(EventSourceStateID state) {
    auto* world = sim::World::currentOrNull();
    if (!world || world->faults().eventSourceCreationFails) return nullptr;
    auto source = std::make_shared<EventSource>(state);
    world->events().recordSource(source);
    return source;
}

void eventSourceSetLocalEventsFilterDuringSuppressionState(const EventSourceRef& source, EventFilterMask filter,
                                                           EventSuppressionState state) {
    if (source) source->setLocalEventsFilter(state, filter);
}

EventFilterMask eventSourceGetLocalEventsFilterDuringSuppressionState(const EventSourceRef& source,
                                                                      EventSuppressionState state) {
    return source ? source->localEventsFilter(state) : 0;
}

void eventSourceSetLocalEventsSuppressionInterval(const EventSourceRef& source, double seconds) {
    if (source) source->setLocalEventsSuppressionInterval(std::max(0.0, seconds));
}

double eventSourceGetLocalEventsSuppressionInterval(const EventSourceRef& source) {
    return source ? source->localEventsSuppressionInterval() : 0.0;
}

}  // namespace cg

namespace cg {

bool eventSourceButtonState(EventSourceStateID, MouseButton button) {
    auto* world = sim::World::currentOrNull();
    return world && world->events().isButtonDown(button);
}

}  // namespace cg
