#include "macos/CoreFoundation/MachPort.hpp"
#include "macos/CoreFoundation/RunLoop.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

namespace {

class RunLoopTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_F(RunLoopTest, SourcesJoinAndLeaveTheMainLoopByMode) {
    auto main = cf::runLoopGetMain();
    ASSERT_TRUE(main);
    EXPECT_EQ(main, cf::runLoopGetMain()) << "one main loop per world";
    auto port = std::make_shared<cf::MachPort>();
    auto source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->port(), port);

    cf::runLoopAddSource(main, source, cf::runLoopCommonModes);
    cf::runLoopAddSource(main, source, cf::runLoopCommonModes);
    EXPECT_EQ(main->sourceCount(), 1u) << "added once per mode";
    EXPECT_TRUE(main->services(*port));
    cf::runLoopRemoveSource(main, source, cf::runLoopDefaultMode);
    EXPECT_TRUE(cf::runLoopContainsSource(main, source, cf::runLoopCommonModes)) << "another mode stays";
    cf::runLoopRemoveSource(main, source, cf::runLoopCommonModes);
    EXPECT_FALSE(main->services(*port));
    cf::runLoopAddSource(main, source, "tracking");
    EXPECT_FALSE(main->services(*port)) << "the main loop runs in the default mode";
}

TEST_F(RunLoopTest, InvalidatingAPortTakesItsSourcesOffEveryLoop) {
    auto main = cf::runLoopGetMain();
    auto port = std::make_shared<cf::MachPort>();
    auto source = cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0);
    cf::runLoopAddSource(main, source, cf::runLoopCommonModes);
    cf::machPortInvalidate(port);
    EXPECT_FALSE(cf::machPortIsValid(port));
    EXPECT_FALSE(source->isValid());
    EXPECT_FALSE(cf::runLoopContainsSource(main, source, cf::runLoopCommonModes));
    EXPECT_EQ(main->sourceCount(), 0u);
    EXPECT_FALSE(cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0)) << "no source for a dead port";
    cf::runLoopAddSource(main, source, cf::runLoopCommonModes);
    EXPECT_EQ(main->sourceCount(), 0u);
}

TEST_F(RunLoopTest, SourceCreationFailsByTheFaultSwitchOrForNoPort) {
    auto port = std::make_shared<cf::MachPort>();
    EXPECT_FALSE(cf::machPortCreateRunLoopSource(cf::allocatorDefault, nullptr, 0));
    world.faults().runLoopSourceCreationFails = true;
    EXPECT_FALSE(cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0));
    world.faults().runLoopSourceCreationFails = false;
    EXPECT_TRUE(cf::machPortCreateRunLoopSource(cf::allocatorDefault, port, 0));
    EXPECT_NE(port->id(), std::make_shared<cf::MachPort>()->id());
}
