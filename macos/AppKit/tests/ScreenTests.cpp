#include "macos/AppKit/Screen.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

// The built-in panel of the default scenario and an external screen to its right, in an order
// and with a focus a test chooses.
sim::Scenario laptopWithExternal(bool externalFirst, std::size_t main) {
    auto scenario = sim::defaultScenario();
    sim::ScreenSpec external;
    external.localizedName = "Studio 27";
    external.frame = cg::Rect(1512, 0, 2560, 1440);
    external.visibleFrame = cg::Rect(1512, 0, 2560, 1415);
    external.displayNumber = 2;
    if (externalFirst) {
        for (auto& s : scenario.screens) s = s.offsetBy(-1512, 0);
        external = external.offsetBy(-1512, 0);
        scenario.screens.insert(scenario.screens.begin(), external);
    } else {
        scenario.screens.push_back(external);
    }
    scenario.mainScreen = main;
    return scenario;
}

class ScreenTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
};

}  // namespace

TEST_F(ScreenTest, TheDefaultBuiltInDisplayReadsAsTheScenarioSaysIt) {
    sim::World world;
    auto screens = ns::Screen::screens();
    ASSERT_EQ(screens.size(), 1u);
    const auto& s = screens[0];
    EXPECT_EQ(s.frame(), cg::Rect(0, 0, 1512, 982));
    EXPECT_EQ(s.visibleFrame(), cg::Rect(0, 0, 1512, 945));
    EXPECT_EQ(s.safeAreaInsets().top, 37);
    EXPECT_EQ(s.auxiliaryTopLeftArea(), cg::Rect(0, 945, 662, 37));
    EXPECT_EQ(s.auxiliaryTopRightArea(), cg::Rect(850, 945, 662, 37));
    EXPECT_EQ(s.deviceDescription().at("NSScreenNumber").asUInt32(), 1u);
    EXPECT_EQ(s.localizedName(), "Built-in Retina Display");
    EXPECT_EQ(s.backingScaleFactor(), 2.0);
    ASSERT_TRUE(ns::Screen::main());
    EXPECT_TRUE(ns::Screen::main()->isSameScreen(s));
}

TEST_F(ScreenTest, TheFocusedScreenNeedNotBeTheFirst) {
    sim::World world(laptopWithExternal(true, 1));
    auto screens = ns::Screen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].localizedName(), "Studio 27");
    EXPECT_EQ(screens[0].frame(), cg::Rect(0, 0, 2560, 1440));
    EXPECT_EQ(screens[1].frame(), cg::Rect(-1512, 0, 1512, 982));
    EXPECT_FALSE(screens[0].auxiliaryTopLeftArea());
    EXPECT_EQ(screens[0].safeAreaInsets(), ns::EdgeInsets{});
    ASSERT_TRUE(ns::Screen::main());
    EXPECT_TRUE(ns::Screen::main()->isSameScreen(screens[1]));
}

TEST_F(ScreenTest, TheScreenNumberCanBeMissingOrNotANumber) {
    auto scenario = laptopWithExternal(false, 0);
    scenario.screens[1].displayNumber.reset();
    sim::World world(scenario);
    EXPECT_EQ(ns::Screen::screens()[1].deviceDescription().count("NSScreenNumber"), 0u);

    sim::ScreenSpec odd = scenario.screens[1];
    odd.displayNumber = 3;
    odd.deviceDescription = cf::Value::Dictionary{{"NSScreenNumber", cf::Value("three")}};
    world.replaceScreen(1, odd);
    auto number = ns::Screen::screens()[1].deviceDescription().at("NSScreenNumber");
    EXPECT_FALSE(number.isNumber());
}

TEST_F(ScreenTest, WithoutScreensThereIsNoListAndNoMainScreen) {
    auto scenario = sim::defaultScenario();
    scenario.screens.clear();
    scenario.mainScreen.reset();
    sim::World world(scenario);
    EXPECT_TRUE(ns::Screen::screens().empty());
    EXPECT_FALSE(ns::Screen::main());
}

TEST_F(ScreenTest, AValueKeepsWhatItReadWhenTheScreenMovesLater) {
    sim::World world(laptopWithExternal(false, 0));
    auto before = ns::Screen::screens()[1];
    world.moveScreen(1, {-2560, 0});
    auto after = ns::Screen::screens()[1];
    EXPECT_EQ(before.frame(), cg::Rect(1512, 0, 2560, 1440));
    EXPECT_EQ(after.frame(), cg::Rect(-2560, 0, 2560, 1440));
    EXPECT_TRUE(before.isSameScreen(after));
}

TEST_F(ScreenTest, ObserversOfTheScreenParametersNotificationRunOnTheMainQueue) {
    sim::World world(laptopWithExternal(false, 0));
    int changes = 0;
    auto token = ns::NotificationCenter::defaultCenter().addObserver(
        ns::applicationDidChangeScreenParametersNotification, &ns::OperationQueue::main(),
        [&](const ns::Notification&) { ++changes; });
    world.removeScreen(1);
    EXPECT_EQ(changes, 0);  // queued, not inline
    loop.runUntilIdle();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(std::string(ns::applicationDidChangeScreenParametersNotification),
              "NSApplicationDidChangeScreenParametersNotification");
}
