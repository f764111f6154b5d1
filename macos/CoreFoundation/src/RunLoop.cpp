#include "macos/CoreFoundation/RunLoop.hpp"

#include "macos/sim/World.hpp"

#include <algorithm>

namespace cf {

void RunLoop::purge() const {
    std::erase_if(entries_, [](const auto& e) { return !e.first->isValid(); });
}

void RunLoop::add(const RunLoopSourceRef& source, const RunLoopMode& mode) {
    purge();
    if (!source || !source->isValid() || contains(source, mode)) return;
    entries_.emplace_back(source, mode);
}

void RunLoop::remove(const RunLoopSourceRef& source, const RunLoopMode& mode) {
    std::erase_if(entries_, [&](const auto& e) { return e.first == source && e.second == mode; });
    purge();
}

bool RunLoop::contains(const RunLoopSourceRef& source, const RunLoopMode& mode) const {
    purge();
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const auto& e) { return e.first == source && e.second == mode; });
}

bool RunLoop::services(const MachPort& port) const {
    purge();
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) {
        return e.first->port().get() == &port && (e.second == runLoopCommonModes || e.second == runLoopDefaultMode);
    });
}

std::size_t RunLoop::sourceCount() const {
    purge();
    return entries_.size();
}

RunLoopRef runLoopGetMain() {
    auto* world = sim::World::currentOrNull();
    return world ? world->events().mainRunLoop() : nullptr;
}

void runLoopAddSource(const RunLoopRef& loop, const RunLoopSourceRef& source, const RunLoopMode& mode) {
    if (loop && source) loop->add(source, mode);
}

void runLoopRemoveSource(const RunLoopRef& loop, const RunLoopSourceRef& source, const RunLoopMode& mode) {
    if (loop && source) loop->remove(source, mode);
}

bool runLoopContainsSource(const RunLoopRef& loop, const RunLoopSourceRef& source, const RunLoopMode& mode) {
    return loop && source && loop->contains(source, mode);
}

}  // namespace cf
