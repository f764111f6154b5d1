#pragma once

#include "Interaction/MenuBarController.hpp"
#include "Models/MenuBarItem.hpp"
#include "macos/AppKit/Cursor.hpp"
#include "macos/CoreGraphics/EventTap.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// A small bar on one 800 x 600 screen without a camera housing, right to left: Anchor, Bell,
// Sleepy (moves only once a click woke it), Stuck (never moves), then Hidden, which does not fit
// and sits off the bar. Every item is 100 points wide; the bar ends at x 320.
inline sim::Scenario smallBar() {
    return sim::parseScenario(R"({
      "version": 1,
      "screens": [{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
                   "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 576}, "displayNumber": 1}],
      "applications": [
        {"pid": 10, "bundleIdentifier": "anchor", "name": "Anchor",
         "statusItems": [{"title": "Anchor", "width": 100, "menu": [{"title": "One"}]}]},
        {"pid": 11, "bundleIdentifier": "bell", "name": "Bell", "statusItems": [{"title": "Bell", "width": 100}]},
        {"pid": 12, "bundleIdentifier": "sleepy", "name": "Sleepy",
         "statusItems": [{"title": "Sleepy", "width": 100, "behaviour": {"move": "ignoresUntilClick"}}]},
        {"pid": 13, "bundleIdentifier": "stuck", "name": "Stuck",
         "statusItems": [{"title": "Stuck", "width": 100, "behaviour": {"move": "never"}}]},
        {"pid": 14, "bundleIdentifier": "hidden", "name": "Hidden",
         "statusItems": [{"title": "Hidden", "width": 100, "menu": [{"title": "Two"}]}]}
      ]})",
                              "small-bar.json");
}

// One world per test, its log records, and the engine.
class EngineTest : public ::testing::Test {
public:
    explicit EngineTest(sim::Scenario scenario = smallBar()) : world(std::move(scenario)) {
        os::LogStore::shared().setEchoToStderr(false);
        capture = std::make_unique<os::LogCapture>();
    }

    stashbay::MenuBarController& engine() { return stashbay::MenuBarController::shared(); }

    const sim::StatusItem& byTitle(const std::string& title) {
        for (const auto* item : world.statusItems())
            if (item->spec.title == title) return *item;
        throw std::invalid_argument("no status item " + title);
    }
    // The item as a scan would have reported it.
    stashbay::MenuBarItem itemOf(const sim::StatusItem& item) {
        auto process = world.processes().find(item.owner);
        return stashbay::MenuBarItem({process->bundleIdentifier(), 0}, item.owner, process->bundleIdentifier(),
                                     process->localizedName().value_or("unknown"), item.spec.title, item.frame.origin,
                                     item.frame.size, item.window, true, true, item.onBar, nullptr,
                                     runtime::currentDate());
    }
    stashbay::MenuBarItem itemOf(const std::string& title) { return itemOf(byTitle(title)); }

    template <class T>
    T run(runtime::Task<T> task) {
        return loop.run(std::move(task));
    }
    // Steps virtual time by `step` until `done` holds; the time it took.
    runtime::Duration advanceUntil(const std::function<bool()>& done,
                                   runtime::Duration step = std::chrono::milliseconds(10),
                                   runtime::Duration limit = std::chrono::seconds(60)) {
        const auto start = loop.now();
        while (!done()) {
            if (loop.now() - start > limit) throw std::runtime_error("the condition never held");
            loop.advance(step);
        }
        return loop.now() - start;
    }
    // Lets every pending timer of the engine run out, so nothing outlives the test.
    void settle() { loop.advance(std::chrono::seconds(60)); }

    // Mouse events of one type that reached a process, counting each delivery.
    std::size_t delivered(sim::ProcessID pid, cg::EventType type) {
        std::size_t n = 0;
        for (const auto& d : world.events().deliveries(pid))
            if (cg::eventGetType(d.event) == type) ++n;
        return n;
    }
    std::vector<std::string> texts() { return capture->texts("menuBarController"); }

    runtime::ManualLoop loop;
    sim::World world;
    std::unique_ptr<os::LogCapture> capture;
};
