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

void configureLog(const std::optional<std::string>& level) {
    // Nothing else is kept: without a capture or the terminal, records are not even formatted.
    auto& store = os::LogStore::shared();
    store.setEchoToStderr(level.has_value());
    if (!level) return;
    store.setTerminalLevel(*level == "debug"  ? os::LogLevel::debug
                           : *level == "info" ? os::LogLevel::info
                                              : os::LogLevel::error);
}

}  // namespace desktop
