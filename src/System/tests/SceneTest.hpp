#pragma once

#include "macos/os/LogCapture.hpp"
#include "macos/sim/TestSupport.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

// A fixture over one scenario: the loop, the world and the records, made afresh for every test
// (and for every row of a table that calls `SetUp` again).
class SceneTest : public ::testing::Test {
protected:
    SceneTest(std::string scenarioText, std::string fileName) : scene(std::move(scenarioText), std::move(fileName)) {}

    void SetUp() override {
        scene.reload();
        world = &scene.world();
        capture = &scene.log();
    }

    runtime::ManualLoop loop;
    sim::testing::WorldUnderTest scene;
    sim::World* world = nullptr;
    os::LogCapture* capture = nullptr;
};
