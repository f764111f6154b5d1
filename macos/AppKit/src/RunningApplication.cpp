#include "macos/AppKit/RunningApplication.hpp"

#include "macos/sim/SystemNotifications.hpp"
#include "macos/sim/World.hpp"

namespace ns {

std::shared_ptr<RunningApplication> RunningApplication::withProcessIdentifier(std::int32_t pid) {
    if (auto process = sim::World::current().processes().find(pid))
        return std::make_shared<RunningApplication>(process);
    return nullptr;
}

std::shared_ptr<RunningApplication> RunningApplication::current() {
    return std::make_shared<RunningApplication>(sim::World::current().processes().self());
}

std::shared_ptr<RunningApplication> RunningApplication::fromNotification(const Notification& notification) {
    auto it = notification.userInfo.find(sim::notification::applicationKey);
    if (it == notification.userInfo.end()) return nullptr;
    if (auto process = it->second.as<sim::Process>()) return std::make_shared<RunningApplication>(process);
    return nullptr;
}

// A handle that outlived its world reaches no application.
bool RunningApplication::activate(ApplicationActivationOptions options) const {
    auto* world = sim::World::currentOrNull();
    return world && world->activate(*process_, static_cast<std::uint32_t>(options));
}

bool RunningApplication::unhide() const {
    auto* world = sim::World::currentOrNull();
    return world && world->unhide(*process_);
}

std::int32_t currentProcessIdentifier() { return sim::World::current().processes().selfPid(); }

}  // namespace ns
