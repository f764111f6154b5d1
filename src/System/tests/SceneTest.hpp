#pragma once

#include "macos/os/LogCapture.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

// A fixture over one scenario: the loop, the world and the records, made afresh for every test
// and by `reload` for every row of a table.
class SceneTest : public ::testing::Test {
protected:
    SceneTest(std::string scenarioText, std::string fileName)
        : text_(std::move(scenarioText)), fileName_(std::move(fileName)) {}

    void SetUp() override { reload(); }

    void reload() {
        os::LogStore::shared().setEchoToStderr(false);
        capture.reset();
        world.reset();
        world = std::make_unique<sim::World>(sim::parseScenario(text_, fileName_));
        capture = std::make_unique<os::LogCapture>();
    }

    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world;
    std::unique_ptr<os::LogCapture> capture;

private:
    std::string text_;
    std::string fileName_;
};
