#include "Models/DisplayInfo.hpp"
#include "System/ScreenGeometry.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

using stashbay::DisplayInfo;
using stashbay::MenuBarZones;
using stashbay::ScreenGeometry;

namespace {

// What the app computes from the world it starts with when no scenario is given.
class DefaultScenario : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }
    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_F(DefaultScenario, TheBuiltInPanelHasTheNotchAndA37PointMenuBar) {
    os::LogCapture capture;
    auto display = DisplayInfo::menuBarDisplay();

    ASSERT_TRUE(display);
    EXPECT_EQ(display->id(), 1u);
    EXPECT_TRUE(display->isBuiltIn());
    EXPECT_TRUE(display->isMain());
    EXPECT_EQ(display->displayName(), "Built-in Display");
    const ScreenGeometry& geometry = display->screenGeometry();
    EXPECT_EQ(geometry.notchRect(), cg::Rect(662, 945, 188, 37));
    EXPECT_EQ(geometry.menuBarHeight(), 37);
    EXPECT_EQ(geometry.menuBarRect(), cg::Rect(0, 945, 1512, 37));
    EXPECT_EQ(geometry.screenFrame(), cg::Rect(0, 0, 1512, 982));
    EXPECT_EQ(geometry.menuBarZones(), (MenuBarZones{cg::Rect(0, 945, 662, 37), cg::Rect(850, 945, 662, 37)}));
    EXPECT_EQ(capture.texts("display"), std::vector<std::string>{"Notch detected: x=662.000000, width=188.000000"});
    EXPECT_EQ(geometry, ScreenGeometry::forScreen(*ns::Screen::main()));
}

TEST_F(DefaultScenario, BothConversionsFlipAboutThe982PointPanel) {
    EXPECT_EQ(ScreenGeometry::cgRectToCocoa(cg::Rect(10, 0, 20, 24)), cg::Rect(10, 958, 20, 24));
    EXPECT_EQ(ScreenGeometry::cocoaRectToCG(cg::Rect(10, 958, 20, 24)), cg::Rect(10, 0, 20, 24));
    EXPECT_EQ(ScreenGeometry::cocoaToCGScreenY(945, 37), 0);
    // The menu bar is the top strip of the window server's space.
    EXPECT_EQ(ScreenGeometry::cocoaRectToCG(cg::Rect(0, 945, 1512, 37)), cg::Rect(0, 0, 1512, 37));
}

TEST_F(DefaultScenario, AStatusItemJustRightOfTheNotchIsHiddenAndOneFurtherRightIsNot) {
    auto geometry = ScreenGeometry::forScreen(ns::Screen::screens().at(0));
    // Status items in window-server space, as the window list reports them.
    cg::Rect nearNotch = ScreenGeometry::cgRectToCocoa(cg::Rect(852, 0, 30, 24));  // centre 867
    cg::Rect clear = ScreenGeometry::cgRectToCocoa(cg::Rect(856, 0, 30, 24));      // centre 871
    EXPECT_TRUE(geometry.isMenuExtraHiddenByNotch(nearNotch));
    EXPECT_FALSE(geometry.isMenuExtraHiddenByNotch(clear));
    EXPECT_TRUE(geometry.isRectBehindNotch(ScreenGeometry::cgRectToCocoa(cg::Rect(700, 5, 30, 24))));
}
