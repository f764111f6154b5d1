#pragma once

#include "macos/os/LogCapture.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

// Pieces that tests of several layers share. Tests only.
namespace sim::testing {

// Remembers an environment variable and puts it back when destroyed.
class SavedEnvironmentVariable {
public:
    explicit SavedEnvironmentVariable(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) saved_ = value;
    }
    ~SavedEnvironmentVariable() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    SavedEnvironmentVariable(const SavedEnvironmentVariable&) = delete;
    SavedEnvironmentVariable& operator=(const SavedEnvironmentVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// A world made from scenario text and a capture of the records written since, both made afresh
// by `reload` (a table of cases can start every row from scratch). The runtime's loop must exist
// first and outlive it.
class WorldUnderTest {
public:
    WorldUnderTest(std::string scenarioText, std::string fileName)
        : text_(std::move(scenarioText)), fileName_(std::move(fileName)) {
        reload();
    }

    void reload() {
        os::LogStore::shared().setEchoToStderr(false);
        capture_.reset();
        world_.reset();
        world_ = std::make_unique<World>(parseScenario(text_, fileName_));
        capture_ = std::make_unique<os::LogCapture>();
    }

    World& world() { return *world_; }
    os::LogCapture& log() { return *capture_; }

private:
    std::string text_;
    std::string fileName_;
    std::unique_ptr<World> world_;
    std::unique_ptr<os::LogCapture> capture_;
};

}  // namespace sim::testing
