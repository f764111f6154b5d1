#include "macos/AppKit/Workspace.hpp"
#include "macos/sim/SystemSettings.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr const char* accessibilityPane =
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility";
constexpr const char* legacyScreenRecordingPane =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

struct Outcome {
    bool called = false;
    bool application = false;
    std::optional<ns::Error> error;
};

class WorkspaceOpeningTest : public ::testing::Test {
protected:
    void open(const std::string& text, Outcome& outcome) {
        auto url = ns::URL::fromString(text);
        ASSERT_TRUE(url);
        ns::Workspace::shared().open(
            *url, {}, [&outcome](std::shared_ptr<ns::RunningApplication> app, std::optional<ns::Error> error) {
                EXPECT_TRUE(runtime::isOnMainExecutor());
                outcome.called = true;
                outcome.application = app != nullptr;
                outcome.error = std::move(error);
            });
    }

    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_F(WorkspaceOpeningTest, EveryPaneOpensAfterTheLatencyAndIsRecorded) {
    for (const auto& pane : sim::systemSettings::paneURLs()) {
        SCOPED_TRACE(pane);
        Outcome outcome;
        open(pane, outcome);
        loop.runUntilIdle();
        EXPECT_FALSE(outcome.called);
        loop.advance(99ms);
        EXPECT_FALSE(outcome.called);
        EXPECT_TRUE(world.permissions().openedSettingsURLs.empty() ||
                    world.permissions().openedSettingsURLs.back() != pane);
        loop.advance(1ms);
        EXPECT_TRUE(outcome.called);
        EXPECT_FALSE(outcome.error);
        EXPECT_FALSE(outcome.application);
    }
    EXPECT_EQ(world.permissions().openedSettingsURLs, sim::systemSettings::paneURLs());
}

TEST_F(WorkspaceOpeningTest, NeverCallsTheCompletionInsideTheOpenCall) {
    world.permissions().settingsOpenLatency = 0ms;
    Outcome outcome;
    open(accessibilityPane, outcome);
    EXPECT_FALSE(outcome.called);
    loop.runUntilIdle();
    EXPECT_FALSE(outcome.called);
    loop.advance(0ms);
    EXPECT_TRUE(outcome.called);
}

TEST_F(WorkspaceOpeningTest, APaneATestMadeFailDoesNotOpen) {
    world.permissions().failingSettingsURLs.insert(legacyScreenRecordingPane);
    Outcome outcome;
    open(legacyScreenRecordingPane, outcome);
    loop.advance(100ms);

    ASSERT_TRUE(outcome.called);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), ns::osStatusErrorDomain);
    EXPECT_EQ(outcome.error->code(), -10810) << "the launch services' unknown error";
    EXPECT_EQ(outcome.error->localizedDescription(),
              std::string("System Settings could not open the URL ") + legacyScreenRecordingPane + ".");
    EXPECT_TRUE(world.permissions().openedSettingsURLs.empty());
}

TEST_F(WorkspaceOpeningTest, AnAddressNoApplicationOpensFailsToOpen) {
    for (std::string text : {"ftp://stashbay.app/downloads/version.json", "relative/path"}) {
        SCOPED_TRACE(text);
        Outcome outcome;
        open(text, outcome);
        loop.advance(100ms);
        ASSERT_TRUE(outcome.called);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code(), -10814);
        EXPECT_EQ(outcome.error->localizedDescription(), "There is no application set to open the URL " + text + ".");
    }
    EXPECT_TRUE(world.permissions().openedSettingsURLs.empty());
}

TEST_F(WorkspaceOpeningTest, ASettingsAddressWithAnAnchorSystemSettingsDoesNotKnowStillOpensIt) {
    const std::string camera = "x-apple.systempreferences:com.apple.preference.security?Privacy_Camera";
    Outcome outcome;
    open(camera, outcome);
    loop.advance(100ms);
    ASSERT_TRUE(outcome.called);
    EXPECT_FALSE(outcome.error) << "a Mac brings System Settings up on whatever page it shows";
    EXPECT_EQ(world.permissions().openedSettingsURLs, std::vector<std::string>{camera});
    EXPECT_FALSE(sim::systemSettings::paneOf(camera)) << "no privacy pane of Stashbay's";
}

TEST_F(WorkspaceOpeningTest, TheOutcomeIsDecidedWhenTheLatencyEnds) {
    Outcome outcome;
    open(accessibilityPane, outcome);
    loop.advance(50ms);
    world.permissions().failingSettingsURLs.insert(accessibilityPane);
    loop.advance(50ms);
    ASSERT_TRUE(outcome.called);
    EXPECT_TRUE(outcome.error);
}

TEST_F(WorkspaceOpeningTest, AnEmptyCompletionStillOpensThePane) {
    ns::Workspace::shared().open(*ns::URL::fromString(accessibilityPane), {}, nullptr);
    loop.advance(100ms);
    EXPECT_EQ(world.permissions().openedSettingsURLs, (std::vector<std::string>{accessibilityPane}));
}

TEST_F(WorkspaceOpeningTest, AWebLinkOpensInTheBrowserAndIsRecordedApartFromThePanes) {
    Outcome outcome;
    open("https://stashbay.app/download/Stashbay-1.4.0.dmg", outcome);
    loop.advance(100ms);
    ASSERT_TRUE(outcome.called);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(world.permissions().openedWebURLs,
              (std::vector<std::string>{"https://stashbay.app/download/Stashbay-1.4.0.dmg"}));
    EXPECT_TRUE(world.permissions().openedSettingsURLs.empty());
}

TEST_F(WorkspaceOpeningTest, ThePanesSwitchesChangeTheWorldsPermissions) {
    using sim::systemSettings::PrivacyPane;
    world.permissions().accessibility = false;
    world.permissions().screenRecording = false;
    EXPECT_EQ(sim::systemSettings::paneOf(legacyScreenRecordingPane), PrivacyPane::screenRecording);
    EXPECT_EQ(sim::systemSettings::paneOf(accessibilityPane), PrivacyPane::accessibility);
    EXPECT_FALSE(sim::systemSettings::paneOf("https://stashbay.app"));

    sim::systemSettings::setAllowed(world, PrivacyPane::accessibility, true);
    EXPECT_TRUE(world.permissions().accessibility);
    EXPECT_FALSE(world.permissions().screenRecording);
    sim::systemSettings::setAllowed(world, PrivacyPane::screenRecording, true);
    sim::systemSettings::setAllowed(world, PrivacyPane::accessibility, false);
    EXPECT_FALSE(world.permissions().accessibility);
    EXPECT_TRUE(world.permissions().screenRecording);
}
