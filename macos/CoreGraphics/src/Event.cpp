#include "macos/CoreGraphics/Event.hpp"

#include "macos/CoreGraphics/EventSource.hpp"
#include "macos/sim/World.hpp"

namespace cg {

namespace {

bool fault(bool sim::Faults::*which) {
    auto* world = sim::World::currentOrNull();
    return world && world->faults().*which;
}

}  // namespace

bool isMouseEventType(EventType type) {
    auto raw = rawValue(type);
    return (raw >= rawValue(EventType::leftMouseDown) && raw <= rawValue(EventType::rightMouseDragged)) ||
           (raw >= rawValue(EventType::otherMouseDown) && raw <= rawValue(EventType::otherMouseDragged));
}

bool isMouseDownType(EventType type) {
    return type == EventType::leftMouseDown || type == EventType::rightMouseDown || type == EventType::otherMouseDown;
}

bool isKeyboardEventType(EventType type) {
    return type == EventType::keyDown || type == EventType::keyUp || type == EventType::flagsChanged;
}

Event::Event(EventType type, Point location, EventSourceRef source)
    : type_(type), location_(location), source_(std::move(source)) {}

std::int64_t Event::integerValue(EventField field) const {
    auto it = fields_.find(static_cast<std::uint32_t>(field));
    return it == fields_.end() ? 0 : it->second;
}

void Event::setIntegerValue(EventField field, std::int64_t value) {
    fields_[static_cast<std::uint32_t>(field)] = value;
}

std::shared_ptr<Event> Event::copy() const { return std::make_shared<Event>(*this); }

EventRef eventCreate(const EventSourceRef& source) {
    auto* world = sim::World::currentOrNull();
    if (!world || world->faults().eventCreationFails) return nullptr;
    return std::make_shared<Event>(EventType::null, world->events().pointerLocation(), source);
}

EventRef eventCreateMouseEvent(const EventSourceRef& source, EventType type, Point location, MouseButton button) {
    if (fault(&sim::Faults::eventCreationFails)) return nullptr;
    auto event = std::make_shared<Event>(type, location, source);
    event->setIntegerValue(EventField::mouseEventButtonNumber, static_cast<std::int64_t>(button));
    event->setIntegerValue(EventField::mouseEventClickState, 0);
    return event;
}

EventRef eventCreateCopy(const EventRef& event) {
    if (!event || fault(&sim::Faults::eventCopyFails)) return nullptr;
    return event->copy();
}

EventSourceRef eventCreateSourceFromEvent(const EventRef& event) { return event ? event->source() : nullptr; }

EventType eventGetType(const EventRef& event) { return event ? event->type() : EventType::null; }

void eventSetType(const EventRef& event, EventType type) {
    if (event) event->setType(type);
}

Point eventGetLocation(const EventRef& event) { return event ? event->location() : Point{}; }

void eventSetLocation(const EventRef& event, Point location) {
    if (event) event->setLocation(location);
}

EventFlags eventGetFlags(const EventRef& event) { return event ? event->flags() : 0; }

void eventSetFlags(const EventRef& event, EventFlags flags) {
    if (event) event->setFlags(flags);
}

std::int64_t eventGetIntegerValueField(const EventRef& event, EventField field) {
    return event ? event->integerValue(field) : 0;
}

void eventSetIntegerValueField(const EventRef& event, EventField field, std::int64_t value) {
    if (event) event->setIntegerValue(field, value);
}

namespace {

// The platform drops what an untrusted process posts, without telling it.
sim::World* trustedPoster() {
    auto* world = sim::World::currentOrNull();
    return world && world->permissions().accessibility ? world : nullptr;
}

}  // namespace

void eventPost(EventTapLocation location, const EventRef& event) {
    if (auto* world = trustedPoster()) world->events().post(location, event);
}

void eventPostToPid(std::int32_t pid, const EventRef& event) {
    if (auto* world = trustedPoster()) world->events().postToProcess(pid, event);
}

}  // namespace cg
