#include "macos/CoreGraphics/Display.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

namespace {

// The default built-in panel, an external screen to its left sharing its bottom edge, and one
// without a display number.
sim::Scenario threeScreens() {
    auto scenario = sim::defaultScenario();
    sim::ScreenSpec left;
    left.frame = cg::Rect(-1920, 0, 1920, 1080);
    left.visibleFrame = left.frame;
    left.displayNumber = 2;
    sim::ScreenSpec unnumbered;
    unnumbered.frame = cg::Rect(1512, 0, 800, 600);
    unnumbered.visibleFrame = unnumbered.frame;
    scenario.screens.push_back(left);
    scenario.screens.push_back(unnumbered);
    return scenario;
}

class DisplayTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world{threeScreens()};
};

}  // namespace

TEST_F(DisplayTest, OnlyTheBuiltInPanelIsBuiltIn) {
    const std::pair<cg::DirectDisplayID, bool> cases[] = {{1, true}, {2, false}, {3, false}, {0, false}};
    for (auto [display, builtIn] : cases) EXPECT_EQ(cg::displayIsBuiltin(display), builtIn) << display;
}

TEST_F(DisplayTest, TheMainDisplayIsThePrimaryScreens) {
    EXPECT_EQ(cg::mainDisplayID(), 1u);
    world.removeScreen(0);
    EXPECT_EQ(cg::mainDisplayID(), 2u);
    world.removeScreen(0);
    EXPECT_EQ(cg::mainDisplayID(), cg::nullDirectDisplay);
}

TEST_F(DisplayTest, ActiveDisplaysAreTheNumberedScreensInOrder) {
    EXPECT_EQ(cg::activeDisplayList(), (std::vector<cg::DirectDisplayID>{1, 2}));
}

TEST_F(DisplayTest, BoundsAreInWindowServerSpace) {
    EXPECT_EQ(cg::displayBounds(1), cg::Rect(0, 0, 1512, 982));
    // Same bottom edge as the 982-point primary screen, so its top lies 98 points higher.
    EXPECT_EQ(cg::displayBounds(2), cg::Rect(-1920, -98, 1920, 1080));
    EXPECT_EQ(cg::displayBounds(9), cg::Rect::zero());
}
