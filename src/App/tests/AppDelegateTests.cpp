#include "App/AppDelegate.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr std::uint16_t keyM = 46;
constexpr std::uint16_t keyN = 45;
constexpr std::uint16_t keyA = 0;
constexpr cg::EventFlags control = ns::modifierFlagControl;
constexpr cg::EventFlags option = ns::modifierFlagOption;

// Panel content that counts the key-downs that reach it.
class CountingView final : public ns::View {
public:
    cg::Size fittingSize() const override { return {200, 120}; }
    void keyDown(const ns::Event&) override { ++keyDowns; }
    int keyDowns = 0;
};

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }

    // The menu-bar scene's status item and panel, as the application description makes them.
    void makeScene() {
        content = std::make_shared<CountingView>();
        scene = ns::MenuBarExtra::create(std::nullopt, content);
    }

    void launch() {
        delegate = std::make_shared<stashbay::AppDelegate>();
        ns::Application::shared().setDelegate(delegate);
        ns::Application::shared().finishLaunching();
        loop.runUntilIdle();
    }

    void makeFrontmost(sim::ProcessID pid) { world.activate(*world.processes().find(pid), 0); }

    void pressKey(std::uint16_t code, cg::EventFlags flags, bool repeat = false) {
        world.events().injectUserKey(cg::EventType::keyDown, code, flags, repeat);
        loop.runUntilIdle();
    }

    std::vector<std::string> texts() const { return capture.texts("appDelegate"); }
    std::size_t count(const std::string& text) const { return capture.count("appDelegate", text); }

    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture capture;
    std::shared_ptr<CountingView> content;
    std::shared_ptr<ns::MenuBarExtra> scene;
    std::shared_ptr<stashbay::AppDelegate> delegate;
};

const std::string foundLine = "Set autosaveName on Stashbay status item";
const std::string gaveUpLine =
    "Could not find status item window after 6 attempts — hotkey toggle and panel alignment unavailable";

}  // namespace

TEST_F(AppDelegateTest, LaunchRegistersTheHotkeyAndFindsTheStatusItemWindowAfterOneSecond) {
    makeScene();
    launch();
    EXPECT_EQ(texts(), (std::vector<std::string>{"Stashbay launched", "Global hotkey Ctrl+Opt+M registered"}));
    EXPECT_EQ(ns::Application::shared().globalMonitorCount(), 1u);
    EXPECT_EQ(ns::Application::shared().localMonitorCount(), 1u);
    EXPECT_TRUE(delegate->applicationSupportsSecureRestorableState(ns::Application::shared()));

    loop.advance(999ms);
    EXPECT_EQ(stashbay::AppDelegate::statusItemWindow(), nullptr);
    loop.advance(1ms);
    EXPECT_EQ(stashbay::AppDelegate::statusItemWindow(), scene->statusItem()->window());
    EXPECT_EQ(scene->statusItem()->autosaveName(), "app.stashbay.Stashbay.statusItem");
    EXPECT_TRUE(capture.contains("appDelegate", os::LogLevel::info, foundLine));

    // No further try follows a find.
    loop.advance(20s);
    EXPECT_EQ(count(foundLine), 1u);
    EXPECT_EQ(count(gaveUpLine), 0u);

    // Held weakly: the window's end empties it.
    scene.reset();
    EXPECT_EQ(stashbay::AppDelegate::statusItemWindow(), nullptr);
}

TEST_F(AppDelegateTest, WithoutAStatusItemTheSearchTriesSixTimesAndTheHotkeyReportsIt) {
    // A status-level window without a status item is skipped without failing.
    auto stray = ns::Window::create(cg::Rect{10, 10, 20, 20}, 25);
    launch();
    makeFrontmost(301);
    loop.advance(10999ms);
    EXPECT_EQ(count(gaveUpLine), 0u);
    loop.advance(1ms);
    EXPECT_EQ(count(gaveUpLine), 1u);
    EXPECT_TRUE(capture.contains("appDelegate", os::LogLevel::error, gaveUpLine));
    loop.advance(60s);
    EXPECT_EQ(count(gaveUpLine), 1u);
    // A status item that appears after the search ended is never picked up.
    makeScene();
    loop.advance(10s);
    EXPECT_EQ(stashbay::AppDelegate::statusItemWindow(), nullptr);

    pressKey(keyM, control | option);
    EXPECT_EQ(count("Cannot toggle panel: status item window not found"), 1u);
    EXPECT_FALSE(scene->isPresented());
}

TEST_F(AppDelegateTest, TheHotkeyMatchesKeyCodeAndBothModifiersWhateverElseIsHeld) {
    struct Row {
        const char* name;
        std::uint16_t key;
        cg::EventFlags flags;
        bool repeat;
        bool toggles;
    };
    const Row rows[] = {
        {"control-option-M", keyM, control | option, false, true},
        {"with shift", keyM, control | option | ns::modifierFlagShift, false, true},
        {"with command", keyM, control | option | ns::modifierFlagCommand, false, true},
        {"with caps lock and function", keyM, control | option | ns::modifierFlagCapsLock | ns::modifierFlagFunction,
         false, true},
        {"auto-repeat", keyM, control | option, true, true},
        {"control only", keyM, control, false, false},
        {"option only", keyM, option, false, false},
        {"no modifiers", keyM, 0, false, false},
        {"another key", keyN, control | option, false, false},
    };
    makeScene();
    launch();
    loop.advance(1s);
    ASSERT_NE(stashbay::AppDelegate::statusItemWindow(), nullptr);
    // Another application is frontmost, so the global monitor sees the keys.
    makeFrontmost(301);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const bool before = scene->isPresented();
        const auto toggled = count("Panel toggled via hotkey");
        pressKey(row.key, row.flags, row.repeat);
        EXPECT_EQ(scene->isPresented() != before, row.toggles);
        EXPECT_EQ(count("Panel toggled via hotkey") - toggled, row.toggles ? 1u : 0u);
        // Opening the panel makes Stashbay frontmost; give the keyboard back to the other one.
        if (scene->isPresented()) pressKey(keyM, control | option);
        makeFrontmost(301);
    }
}

TEST_F(AppDelegateTest, OtherApplicationsKeysReachTheGlobalMonitorOnlyWhileTrusted) {
    makeScene();
    launch();
    loop.advance(1s);
    makeFrontmost(301);
    world.permissions().accessibility = false;
    pressKey(keyM, control | option);
    EXPECT_FALSE(scene->isPresented());
    world.permissions().accessibility = true;
    pressKey(keyM, control | option);
    EXPECT_TRUE(scene->isPresented());
}

TEST_F(AppDelegateTest, TheLocalMonitorConsumesTheHotkeyAndPassesOtherKeys) {
    makeScene();
    launch();
    loop.advance(1s);
    // A click on the status item opens the panel; Stashbay is frontmost and the panel is key.
    auto item = scene->statusItem()->window()->frame();
    auto bar = world.statusItem(scene->statusItem()->worldItem())->frame;
    ASSERT_GT(item.width(), 0);
    world.events().injectUserMouse(cg::EventType::leftMouseDown, {bar.midX(), bar.midY()});
    world.events().injectUserMouse(cg::EventType::leftMouseUp, {bar.midX(), bar.midY()});
    loop.runUntilIdle();
    ASSERT_TRUE(scene->isPresented());
    ASSERT_EQ(world.processes().frontmost(), world.processes().selfPid());

    pressKey(keyA, 0);
    EXPECT_EQ(content->keyDowns, 1);
    pressKey(keyM, control);
    EXPECT_EQ(content->keyDowns, 2);
    pressKey(keyM, control | option);
    EXPECT_EQ(content->keyDowns, 2);
    EXPECT_FALSE(scene->isPresented());
    EXPECT_EQ(count("Panel toggled via hotkey"), 1u);
}

TEST_F(AppDelegateTest, TheHotkeyFollowsThePreferenceWithoutARestart) {
    auto& defaults = ns::UserDefaults::standard();
    auto& app = ns::Application::shared();
    defaults.set(false, "globalHotkeyEnabled");
    launch();
    EXPECT_TRUE(capture.contains("appDelegate", os::LogLevel::info, "Global hotkey disabled by user preference"));
    EXPECT_EQ(app.globalMonitorCount() + app.localMonitorCount(), 0u);

    struct Step {
        const char* name;
        std::optional<bool> value;  // none: the key is removed
        std::size_t monitors;
    };
    const Step steps[] = {
        {"turned on", true, 2},
        {"turned off", false, 0},
        {"on again", true, 2},
        {"on once more", true, 2},
        {"key removed counts as on", std::nullopt, 2},
        {"off", false, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.value)
            defaults.set(*step.value, "globalHotkeyEnabled");
        else
            defaults.removeObject("globalHotkeyEnabled");
        loop.runUntilIdle();
        EXPECT_EQ(app.globalMonitorCount(), step.monitors / 2);
        EXPECT_EQ(app.localMonitorCount(), step.monitors / 2);
    }
}

TEST_F(AppDelegateTest, TerminationEndsTheObservationThenRemovesTheMonitorsThenLogs) {
    auto& app = ns::Application::shared();
    makeScene();
    launch();
    app.terminate();
    loop.runUntilIdle();
    EXPECT_EQ(app.globalMonitorCount() + app.localMonitorCount(), 0u);
    ASSERT_FALSE(texts().empty());
    EXPECT_EQ(texts().back(), "Stashbay terminating");
    // The observation is gone: the preference no longer installs monitors.
    ns::UserDefaults::standard().set(true, "globalHotkeyEnabled");
    loop.runUntilIdle();
    EXPECT_EQ(app.globalMonitorCount() + app.localMonitorCount(), 0u);
}

TEST_F(AppDelegateTest, TerminationWithoutMonitorsIsHarmless) {
    ns::UserDefaults::standard().set(false, "globalHotkeyEnabled");
    launch();
    ns::Application::shared().terminate();
    EXPECT_EQ(texts().back(), "Stashbay terminating");
    EXPECT_EQ(count("Stashbay terminating"), 1u);
}
