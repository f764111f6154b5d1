#include "macos/AppKit/Workspace.hpp"
#include "macos/sim/SystemSettings.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <string>

namespace ns {

void Workspace::open(const URL& url, const WorkspaceOpenConfiguration& configuration,
                     WorkspaceOpenCompletion completion) const {
    (void)configuration;
    auto& world = sim::World::current();
    world.schedule(world.permissions().settingsOpenLatency,
                   [text = url.absoluteString(), completion = std::move(completion)] {
                       auto failure = sim::systemSettings::open(sim::World::current(), text);
                       if (!completion) return;
                       std::optional<Error> error;
                       if (failure) error.emplace(osStatusErrorDomain, failure->code, failure->description);
                       // Completions never run inside the platform's own work.
                       runtime::mainExecutor().enqueue(nullptr, [completion, error] { completion(nullptr, error); });
                   });
}

}  // namespace ns
