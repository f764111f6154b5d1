#include "macos/AppKit/Workspace.hpp"

#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

namespace ns {

Workspace& Workspace::shared() {
    static Workspace workspace;
    return workspace;
}

std::vector<std::shared_ptr<RunningApplication>> Workspace::runningApplications() const {
    runtime::assertMainExecutor("NSWorkspace.runningApplications");
    std::vector<std::shared_ptr<RunningApplication>> out;
    for (const auto& process : sim::World::current().processes().listed()) {
        out.push_back(std::make_shared<RunningApplication>(process));
    }
    return out;
}

std::shared_ptr<RunningApplication> Workspace::frontmostApplication() const {
    const auto& processes = sim::World::current().processes();
    if (auto pid = processes.frontmost()) {
        if (auto process = processes.find(*pid)) return std::make_shared<RunningApplication>(process);
    }
    return nullptr;
}

NotificationCenter& Workspace::notificationCenter() const { return sim::workspaceNotificationCenter(); }

}  // namespace ns
