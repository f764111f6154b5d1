#include "Utilities/RunningApplicationExtensions.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(RunningApplicationNames, FallBackFromNameToIdentifierToProcessId) {
    runtime::ManualLoop loop;
    sim::World world(sim::parseScenario(R"({"version": 1, "applications": [
        {"pid": 4242},
        {"pid": 4243, "bundleIdentifier": "dev.nightjar.sync-agent"},
        {"pid": 4244, "name": "battery-monitor"},
        {"pid": 4245, "bundleIdentifier": "net.tidewater.Barometer", "name": "Barometer"},
        {"pid": 4246, "bundleIdentifier": "io.quietbyte.Muffle", "name": ""}]})",
                                        "apps.json"));
    struct Case {
        int pid;
        std::string identifier;
        std::string name;
    };
    const Case cases[] = {
        {4242, "pid-4242", "Unknown (4242)"},
        {4243, "dev.nightjar.sync-agent", "dev.nightjar.sync-agent"},
        {4244, "pid-4244", "battery-monitor"},
        {4245, "net.tidewater.Barometer", "Barometer"},
        // An empty name is a name.
        {4246, "io.quietbyte.Muffle", ""},
    };
    for (const auto& c : cases) {
        auto application = ns::RunningApplication::withProcessIdentifier(c.pid);
        ASSERT_TRUE(application) << c.pid;
        EXPECT_EQ(stashbay::identifierOrFallback(*application), c.identifier) << c.pid;
        EXPECT_EQ(stashbay::displayName(*application), c.name) << c.pid;
    }
}
