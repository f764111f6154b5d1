#pragma once

#include "macos/sim/Faults.hpp"
#include "macos/sim/ProcessTable.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/ScreenSet.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace sim {

// The simulated desktop that every stand-in framework answers from. Exactly one exists at a
// time, made after the runtime's loop and destroyed before it; each test builds its own from a
// scenario. Its state lives in one small class per concern; changes go through the world so that
// it can post what the platform posts.
class World {
public:
    // The embedded default scenario.
    World();
    // Throws std::invalid_argument for a scenario the world cannot hold (the loader never
    // produces one).
    explicit World(const Scenario& scenario);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // The world that exists; aborts when there is none.
    static World& current();
    static World* currentOrNull();

    const ScreenSet& screens() const { return screens_; }
    const ProcessTable& processes() const { return processes_; }
    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }

    // Screen configuration. Each change posts the screen-parameters notification on the default
    // centre; each throws std::invalid_argument and changes nothing for a bad index or spec.
    void addScreen(ScreenSpec spec, std::optional<std::size_t> at = std::nullopt);
    void removeScreen(std::size_t index);
    void replaceScreen(std::size_t index, ScreenSpec spec);
    // Moves the screen's frame origin (and every rectangle of it) to `origin`. Moving the
    // primary screen moves the others the opposite way, since it stays at the origin.
    void moveScreen(std::size_t index, cg::Point origin);
    // Gives the keyboard focus to another screen, or to none.
    void setMainScreen(std::optional<std::size_t> index);

    // Applications. Launching a finished application, or finishing the launch of one, posts the
    // did-launch notification on the workspace's centre; quitting posts did-terminate. Throws
    // std::invalid_argument for a pid in use.
    std::shared_ptr<const Process> launchApplication(ProcessSpec spec);
    // Returns false when the application is not running or has finished launching already.
    bool finishLaunching(ProcessID pid);
    // Returns false when the application is not running. Stashbay itself does not quit here.
    bool quitApplication(ProcessID pid);
    // Returns false when the application is not running.
    bool setHidden(ProcessID pid, bool hidden);
    // What the frameworks call for an application handle; recorded for tests. False when the
    // application is not running in this world.
    bool activate(const Process& process, std::uint32_t options);
    bool unhide(const Process& process);

private:
    void postScreenParametersChanged();
    void postWorkspace(const char* name, const std::shared_ptr<Process>& process);
    static void clearObservers();

    ScreenSet screens_;
    ProcessTable processes_;
    Faults faults_;
};

}  // namespace sim
