#pragma once

#include "macos/sim/Scenario.hpp"

#include <cstdint>
#include <string>

namespace sim {

// The default world's screens and first application with `count` more applications of one status
// item each, for building large worlds in tests and benchmarks.
inline Scenario scenarioWithManyItems(int count) {
    Scenario scenario = defaultScenario();
    scenario.applications.resize(1);
    scenario.applications.front().statusItems.clear();
    for (int i = 0; i < count; ++i) {
        ProcessSpec app;
        app.pid = 1000 + i;
        app.bundleIdentifier = "com.example.app" + std::to_string(i);
        StatusItemSpec item;
        item.title = "Item " + std::to_string(i);
        item.width = 20 + i % 13;
        app.statusItems.push_back(std::move(item));
        scenario.applications.push_back(std::move(app));
    }
    return scenario;
}

// The default world with `extra` more status items of one application, which push that many more
// items off the bar: a tile row longer than the panel.
inline Scenario scenarioWithMoreItems(int extra) {
    Scenario scenario = defaultScenario();
    for (auto& application : scenario.applications) {
        if (application.bundleIdentifier.value_or("") != "com.apple.finder") continue;
        for (int i = 0; i < extra; ++i) {
            StatusItemSpec item;
            item.title = "Extra " + std::to_string(i);
            item.iconColor = 0x30A050FFu + static_cast<std::uint32_t>(i) * 0x10000000u;
            application.statusItems.push_back(item);
        }
    }
    return scenario;
}

}  // namespace sim
