#include "StashbayLaunch.hpp"

#include "App/Entry/StashbayApp.hpp"
#include "macos/os/Logger.hpp"

namespace desktop {

namespace {

class Launched final : public LaunchedStashbay {
public:
    explicit Launched(stashbay::UpdateCheckerConfiguration updates)
        : app_(stashbay::StashbayApp::launch(std::move(updates))) {}

private:
    std::unique_ptr<stashbay::StashbayApp> app_;
};

}  // namespace

std::unique_ptr<LaunchedStashbay> launchStashbay(stashbay::UpdateCheckerConfiguration updates) {
    return std::make_unique<Launched>(std::move(updates));
}

void bringFinderToFront(sim::World& world) {
    const sim::Process* chosen = nullptr;
    for (const auto& process : world.processes().listed()) {
        if (process->isTerminated() || process->pid() == world.processes().selfPid()) continue;
        if (process->bundleIdentifier() == "com.apple.finder") {
            chosen = process.get();
            break;
        }
        if (!chosen) chosen = process.get();
    }
    if (chosen) world.activate(*chosen, 0);
}

void configureLog(const std::string& level) {
    // The terminal shows errors unless the person asked for more; nothing else is kept.
    auto& store = os::LogStore::shared();
    store.setEchoToStderr(true);
    store.setTerminalLevel(level == "debug"  ? os::LogLevel::debug
                           : level == "info" ? os::LogLevel::info
                                             : os::LogLevel::error);
}

}  // namespace desktop
