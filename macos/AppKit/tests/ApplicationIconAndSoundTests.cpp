#include "macos/AppKit/Sound.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

namespace {

class ApplicationIconTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

TEST_F(ApplicationIconTest, ApplicationsOfTheWorldHaveAnAddressAndAnIconOfTheirOwn) {
    auto& workspace = ns::Workspace::shared();
    auto barometer = workspace.urlForApplication("net.tidewater.Barometer");
    ASSERT_TRUE(barometer);
    EXPECT_EQ(barometer->path(), "/Applications/net.tidewater.Barometer.app");
    EXPECT_FALSE(workspace.urlForApplication("com.example.not-installed"));
    EXPECT_FALSE(workspace.urlForApplication(""));

    const auto icon = workspace.iconForFile(barometer->path());
    ASSERT_TRUE(icon.cgImage());
    EXPECT_EQ(icon.size(), (cg::Size{32, 32}));
    EXPECT_EQ(icon.cgImage()->width(), 64u);
    const auto other = workspace.iconForFile(workspace.urlForApplication("io.quietbyte.Muffle")->path());
    EXPECT_NE(icon.cgImage()->pixels(), other.cgImage()->pixels());
    EXPECT_EQ(icon.cgImage()->pixels(), workspace.iconForFile(barometer->path()).cgImage()->pixels());
}

TEST_F(ApplicationIconTest, TheAlertSoundIsRecordedAndHeard) {
    int heard = 0;
    world.alertSounds().setListener([&] { ++heard; });
    ns::Sound::beep();
    ns::Sound::beep();
    EXPECT_EQ(world.alertSounds().count(), 2);
    EXPECT_EQ(heard, 2);
}

}  // namespace
