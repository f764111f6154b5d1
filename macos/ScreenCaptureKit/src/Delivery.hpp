#pragma once

#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <functional>
#include <utility>

namespace sc::detail {

// Runs `answer` with the world after `latency` as a queued job on the main loop, unless the world
// goes first.
inline void deliverAfter(sim::World& world, runtime::Duration latency, std::function<void(const sim::World&)> answer) {
    world.schedule(latency, [answer = std::move(answer)] {
        runtime::mainExecutor().enqueue(nullptr, [answer] {
            if (const auto* world = sim::World::currentOrNull()) answer(*world);
        });
    });
}

inline bool holdsAccess(const sim::World& world) { return world.permissions().screenRecording; }

}  // namespace sc::detail
