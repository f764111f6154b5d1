#include "StashbayLaunch.hpp"

#include "App/Entry/StashbayApp.hpp"
#include "macos/os/Logger.hpp"

namespace desktop {

namespace {

class Launched final : public LaunchedStashbay {
public:
    Launched() : app_(stashbay::StashbayApp::launch()) {}

private:
    std::unique_ptr<stashbay::StashbayApp> app_;
};

}  // namespace

std::unique_ptr<LaunchedStashbay> launchStashbay() { return std::make_unique<Launched>(); }

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
    // TODO(lead): once the log's terminal sink with a settable level is merged, set it to `level`
    // here. Until then the terminal shows every record for info and debug, and none otherwise,
    // and the records are not kept, so a long run does not grow.
    auto& store = os::LogStore::shared();
    const bool verbose = level != "error";
    store.setCapturing(verbose);
    store.setEchoToStderr(verbose);
}

}  // namespace desktop
