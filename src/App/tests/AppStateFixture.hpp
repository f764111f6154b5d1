#pragma once

#include "App/AppState.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/UserGesture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// One world (the default scenario unless a test makes another), an Application Support folder of
// the test's own and the state made over them. Tear-down stops a started state and lets its
// tasks end before the world goes.
class AppStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        os::LogStore::shared().setEchoToStderr(false);
        base =
            std::filesystem::temp_directory_path() / ("stashbay-app-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base);
        ns::FileManager::defaultManager().setApplicationSupportOverride(base);
    }
    void TearDown() override {
        stopState();
        ns::FileManager::defaultManager().reset();
        std::filesystem::remove_all(base);
    }

    // A fresh world, folder and records, for another row of a table.
    void reload() {
        stopState();
        world.reset();
        world = std::make_unique<sim::World>();
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base);
        ns::FileManager::defaultManager().setApplicationSupportOverride(base);
        capture.clear();
    }
    void stopState() {
        if (state && started) {
            state->stop();
            loop.advance(std::chrono::seconds(1));
        }
        started = false;
        state.reset();
        loop.runUntilIdle();
    }

    std::shared_ptr<stashbay::AppState>& make() {
        state = stashbay::AppState::create();
        return state;
    }
    // start() to its end, then the first display list and snapshot.
    void startAndSettle() {
        if (!state) make();
        started = true;
        loop.run(state->start());
        loop.advance(std::chrono::milliseconds(10));
    }

    std::filesystem::path arrangementFile() const { return base / "app.stashbay.Stashbay" / "arrangement.json"; }
    std::string readArrangementFile() const {
        std::ifstream in(arrangementFile(), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    void writeArrangementFile(const std::string& text) const {
        std::filesystem::create_directories(arrangementFile().parent_path());
        std::ofstream out(arrangementFile(), std::ios::binary | std::ios::trunc);
        out << text;
    }

    // "owner/title" of every item of every section, in order.
    std::vector<std::string> sectionNames() const {
        std::vector<std::string> out;
        for (const auto& section : state->sections())
            for (const auto& item : section.items()) out.push_back(item.ownerName() + "/" + item.title().value_or(""));
        return out;
    }
    // How many scans the scanner has finished.
    std::size_t scans() const {
        std::size_t n = 0;
        for (const auto& r : capture.records("scanning"))
            if (r.text.rfind("Scan completed:", 0) == 0) ++n;
        return n;
    }
    // The world's status items that the last snapshot shows on screen and the panel does not
    // leave out, right to left.
    std::vector<const sim::StatusItem*> visibleUserItems() const {
        std::vector<const sim::StatusItem*> out;
        for (const auto& item : state->menuBarItems()) {
            if (!item.isOnScreen()) continue;
            if (item.ownerBundleID() && stashbay::AppState::excludedBundleIDs().count(*item.ownerBundleID())) continue;
            if (const auto* w = world->statusItemForWindow(item.windowID())) out.push_back(w);
        }
        return out;
    }

    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world = std::make_unique<sim::World>();
    os::LogCapture capture;
    std::filesystem::path base;
    std::shared_ptr<stashbay::AppState> state;
    bool started = false;
};
