#include "macos/sim/World.hpp"

#include "macos/Foundation/Bundle.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/ServiceManagement/AppService.hpp"
#include "macos/sim/SystemNotifications.hpp"
#include "stashbay/BuildInfo.hpp"
#include "stashbay/runtime/EventLoop.hpp"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
World* gCurrent = nullptr;
}  // namespace

ns::NotificationCenter& workspaceNotificationCenter() {
    static ns::NotificationCenter center;
    return center;
}

World::World() : World(defaultScenario()) {}

World::World(const Scenario& scenario) : screens_(scenario.screens, scenario.mainScreen), faults_(scenario.faults) {
    if (gCurrent) {
        std::fprintf(stderr, "only one sim::World may exist at a time\n");
        std::abort();
    }
    if (!runtime::EventLoop::currentOrNull()) {
        std::fprintf(stderr, "a sim::World needs the runtime's loop: make it first\n");
        std::abort();
    }
    for (const auto& spec : scenario.applications) {
        auto process = processes_.launch(spec);
        if (!processes_.self() && process->bundleIdentifier() == stashbay::build::bundleIdentifier) {
            processes_.makeSelf(process);
        }
    }
    if (!processes_.self()) {
        ProcessSpec self;
        self.bundleIdentifier = stashbay::build::bundleIdentifier;
        self.localizedName = "Stashbay";
        processes_.makeSelf(processes_.launch(std::move(self)));
    }
    // Observers left by an earlier test must not see this world's changes, and a fresh world
    // starts with empty defaults, no login item and the build's own bundle information, all in
    // memory. The app points the defaults and the login item at their real files afterwards.
    clearObservers();
    ns::UserDefaults::resetStandard(std::nullopt);
    sm::AppService::mainApp().resetInMemory();
    ns::Bundle::main().reset();
    gCurrent = this;
}

World::~World() {
    clearObservers();
    gCurrent = nullptr;
}

World& World::current() {
    if (!gCurrent) {
        std::fprintf(stderr, "no sim::World exists: the frameworks answer from one\n");
        std::abort();
    }
    return *gCurrent;
}

World* World::currentOrNull() { return gCurrent; }

void World::clearObservers() {
    ns::NotificationCenter::defaultCenter().removeAllObservers();
    workspaceNotificationCenter().removeAllObservers();
}

void World::postScreenParametersChanged() {
    ns::NotificationCenter::defaultCenter().post(notification::screenParametersChanged);
}

void World::postWorkspace(const char* name, const std::shared_ptr<Process>& process) {
    ns::Notification n{name, 0, {}};
    n.userInfo[notification::applicationKey] = cf::Value(cf::Value::ObjectRef(process));
    workspaceNotificationCenter().post(n);
}

void World::addScreen(ScreenSpec spec, std::optional<std::size_t> at) {
    screens_.add(std::move(spec), at);
    postScreenParametersChanged();
}

void World::removeScreen(std::size_t index) {
    screens_.remove(index);
    postScreenParametersChanged();
}

void World::replaceScreen(std::size_t index, ScreenSpec spec) {
    screens_.replace(index, std::move(spec));
    postScreenParametersChanged();
}

void World::moveScreen(std::size_t index, cg::Point origin) {
    screens_.moveTo(index, origin);
    postScreenParametersChanged();
}

void World::setMainScreen(std::optional<std::size_t> index) {
    screens_.setMain(index);
    postScreenParametersChanged();
}

std::shared_ptr<const Process> World::launchApplication(ProcessSpec spec) {
    auto process = processes_.launch(std::move(spec));
    if (process->isFinishedLaunching() && !process->isTerminated()) {
        postWorkspace(notification::didLaunchApplication, process);
    }
    return process;
}

bool World::finishLaunching(ProcessID pid) {
    if (!processes_.finishLaunching(pid)) return false;
    postWorkspace(notification::didLaunchApplication, processes_.find(pid));
    return true;
}

bool World::quitApplication(ProcessID pid) {
    if (pid == processes_.selfPid()) return false;
    auto process = processes_.terminate(pid);
    if (!process) return false;
    postWorkspace(notification::didTerminateApplication, process);
    return true;
}

bool World::setHidden(ProcessID pid, bool hidden) { return processes_.setHidden(pid, hidden); }

bool World::activate(const Process& process, std::uint32_t options) { return processes_.activate(process, options); }

bool World::unhide(const Process& process) { return processes_.unhide(process); }

}  // namespace sim
