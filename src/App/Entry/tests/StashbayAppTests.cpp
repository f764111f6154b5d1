#include "App/Entry/StashbayApp.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <QApplication>

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace std::chrono_literals;
using stashbay::AppState;
using stashbay::MenuBarItem;
using stashbay::MenuBarItemID;
using stashbay::MenuBarSection;
using stashbay::StashbayApp;

namespace {

std::vector<MenuBarSection> sectionsOf(std::initializer_list<std::size_t> counts) {
    std::vector<MenuBarSection> out;
    int next = 0;
    for (auto count : counts) {
        std::vector<MenuBarItem> items;
        for (std::size_t i = 0; i < count; ++i) {
            items.emplace_back(MenuBarItemID("test.item", next++), 900, "test.item", "Test", std::nullopt, cg::Point{},
                               cg::Size{24, 24}, 0u, true, true, false, nullptr, runtime::Date{});
        }
        out.emplace_back(MenuBarSection::SectionType::hiddenByNotch, std::move(items));
    }
    return out;
}

// The panel's views need a Qt application; the offscreen platform draws without a display.
void ensureQtApplication() {
    if (QApplication::instance()) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "stashbay_app_entry_tests";
    static char* argv[] = {name, nullptr};
    // Kept for the life of the process: destroying it among the static destructors crashes Qt.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

class StashbayAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureQtApplication();
        os::LogStore::shared().setEchoToStderr(false);
        base =
            std::filesystem::temp_directory_path() / ("stashbay-entry-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base);
        ns::FileManager::defaultManager().setApplicationSupportOverride(base);
    }
    // A started state is stopped and its tasks end before the world goes.
    void TearDown() override {
        if (app) {
            app->appState()->stop();
            loop.advance(1s);
            app.reset();
            loop.runUntilIdle();
        }
        ns::FileManager::defaultManager().reset();
        std::filesystem::remove_all(base);
    }

    void launch(bool onboardingDone) {
        ns::UserDefaults::standard().set(onboardingDone, "hasCompletedOnboarding");
        world.activate(*world.processes().find(301), 0);
        app = StashbayApp::launch();
        loop.runUntilIdle();
    }
    void hotkey() {
        world.events().injectUserKey(cg::EventType::keyDown, 46, ns::modifierFlagControl | ns::modifierFlagOption);
        loop.runUntilIdle();
    }

    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture capture;
    std::filesystem::path base;
    std::unique_ptr<StashbayApp> app;
};

}  // namespace

TEST(StashbayAppWidth, FollowsTheModeAndTheItemsOfAllSections) {
    using M = AppState::PanelMode;
    struct Row {
        M mode;
        std::vector<MenuBarSection> sections;
        double width;
    };
    const Row rows[] = {
        {M::settings, sectionsOf({20}), 320},  {M::onboarding, sectionsOf({}), 320}, {M::normal, sectionsOf({}), 200},
        {M::normal, sectionsOf({0, 0}), 200},  {M::normal, sectionsOf({1}), 200},    {M::normal, sectionsOf({4}), 220},
        {M::normal, sectionsOf({3, 2}), 256},  {M::normal, sectionsOf({14}), 580},   {M::normal, sectionsOf({15}), 600},
        {M::normal, sectionsOf({12, 8}), 600},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.width);
        EXPECT_DOUBLE_EQ(StashbayApp::panelWidth(row.mode, row.sections), row.width);
    }
}

TEST_F(StashbayAppTest, TheHotkeyOpensThePanelAndTheStartHookStartsTheStateOnce) {
    launch(true);
    // Nothing starts before the panel first shows.
    EXPECT_EQ(capture.count("appState", "AppState starting..."), 0u);
    loop.advance(1s);
    ASSERT_NE(stashbay::AppDelegate::statusItemWindow(), nullptr);

    hotkey();
    ASSERT_TRUE(app->scene()->isPresented());
    EXPECT_TRUE(app->panelView()->hasAppeared());
    loop.advance(5s);
    EXPECT_EQ(capture.count("appState", "AppState started"), 1u);
    EXPECT_EQ(app->appState()->preferences(), app->preferences());
    EXPECT_EQ(app->panelView()->environment().object<stashbay::UserPreferences>(), app->preferences());
    EXPECT_FALSE(app->appState()->menuBarItems().empty());
    EXPECT_EQ(app->panelView()->model().normalContent(), stashbay::StashbayPanelModel::NormalContent::tiles);
    // The panel is as wide as the width rule says.
    const auto* shown = world.windowServer().find(app->scene()->window()->windowNumber());
    ASSERT_NE(shown, nullptr);
    EXPECT_DOUBLE_EQ(shown->bounds.width(), app->panelWidth());

    // Showing the content again does not start the state again.
    hotkey();
    EXPECT_FALSE(app->scene()->isPresented());
    hotkey();
    EXPECT_TRUE(app->scene()->isPresented());
    loop.advance(5s);
    EXPECT_EQ(capture.count("appState", "AppState starting..."), 1u);
}

TEST_F(StashbayAppTest, AFirstRunCancelledByClosingThePanelStillStartsOnceAndNeverAgain) {
    launch(true);
    loop.advance(1s);
    hotkey();
    ASSERT_TRUE(app->scene()->isPresented());
    hotkey();  // closed at once: the hook's task is cancelled
    ASSERT_FALSE(app->scene()->isPresented());
    loop.advance(5s);
    // The start itself was not cancelled midway.
    EXPECT_EQ(capture.count("appState", "AppState started"), 1u);
    hotkey();
    loop.advance(5s);
    EXPECT_EQ(capture.count("appState", "AppState starting..."), 1u);
}

TEST_F(StashbayAppTest, WithoutOnboardingTheHookAssignsThePreferencesAndSwitchesToOnboarding) {
    launch(false);
    loop.advance(1s);
    hotkey();
    loop.advance(2s);
    EXPECT_EQ(app->appState()->panelMode(), AppState::PanelMode::onboarding);
    EXPECT_EQ(app->appState()->preferences(), app->preferences());
    EXPECT_EQ(capture.count("appState", "AppState starting..."), 0u);
    // The onboarding width.
    const auto* shown = world.windowServer().find(app->scene()->window()->windowNumber());
    ASSERT_NE(shown, nullptr);
    EXPECT_DOUBLE_EQ(shown->bounds.width(), 320);
}
