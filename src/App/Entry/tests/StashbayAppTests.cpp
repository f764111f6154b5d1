#include "Views/StashbayPanel/tests/QtApplication.hpp"

#include "App/Entry/StashbayApp.hpp"
#include "Views/Onboarding/OnboardingView.hpp"
#include "Views/Settings/SettingsView.hpp"
#include "Views/StashbayPanel/IconTileView.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/SystemSettings.hpp"
#include "macos/sim/UserGesture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using stashbay::AppState;
using stashbay::MenuBarItem;
using stashbay::MenuBarItemID;
using stashbay::MenuBarSection;
using stashbay::StashbayApp;
using UpdateContent = stashbay::GeneralSettingsModel::UpdateContent;

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

using stashbay::testing::ensureQtApplication;

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

    void launch(bool onboardingDone, stashbay::UpdateCheckerConfiguration updates = {}) {
        ns::UserDefaults::standard().set(onboardingDone, "hasCompletedOnboarding");
        world.activate(*world.processes().find(301), 0);
        app = StashbayApp::launch(std::move(updates));
        loop.runUntilIdle();
    }
    // The person's click at a point of the screen (y down from its top).
    void click(cg::Point at, bool right = false) {
        world.events().injectUserMouse(right ? cg::EventType::rightMouseDown : cg::EventType::leftMouseDown, at);
        world.events().injectUserMouse(right ? cg::EventType::rightMouseUp : cg::EventType::leftMouseUp, at);
        loop.runUntilIdle();
    }
    // A click on Stashbay's own status item, which needs no permission.
    void clickStatusItem() {
        const auto* window = world.windowServer().find(stashbay::AppDelegate::statusItemWindow()->windowNumber());
        click({window->bounds.midX(), window->bounds.midY()});
    }
    // A click at a point of the panel's content, through the world like any other.
    void clickInPanel(QPointF point) {
        const auto* panel = world.windowServer().find(app->scene()->window()->windowNumber());
        ASSERT_NE(panel, nullptr);
        click({panel->bounds.minX() + point.x(), panel->bounds.minY() + point.y()});
    }
    // The page the panel shows in a mode, once the change of mode has played and the panel has
    // been laid out again.
    template <class Page>
    Page* page(AppState::PanelMode mode) {
        loop.advance(400ms);
        // Drawn as the desktop draws it: at the size of the panel's window.
        QImage image(640, 640, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        app->panelView()->draw(painter, {640, 640});
        return dynamic_cast<Page*>(app->panelView()->widget().modeContent(mode));
    }
    // The interval of the permission polling started last; empty before any.
    std::string lastPollingInterval() const {
        std::string out;
        for (const auto& text : capture.texts("permissions"))
            if (text.rfind("Starting permission polling (interval=", 0) == 0)
                out = text.substr(text.find('=') + 1, text.find('s', text.find('=')) - text.find('=') - 1);
        return out;
    }
    // Window-server space (y down) of a window of the world.
    cg::Rect bounds(const ns::Window& window) const { return world.windowServer().find(window.windowNumber())->bounds; }
    void hotkey() {
        world.events().injectUserKey(cg::EventType::keyDown, 46, ns::modifierFlagControl | ns::modifierFlagOption);
        loop.runUntilIdle();
    }
    // A click on the tile of the item with that name, in the open panel.
    void clickTile(const std::string& name) {
        auto& widget = app->panelView()->widget();
        widget.render();
        for (auto* tile : widget.tileViews()) {
            if (tile->model().item().displayName() != name) continue;
            const QPoint center = tile->mapTo(&widget, tile->rect().center());
            const cg::Rect panel = bounds(*app->scene()->window());
            click({panel.minX() + center.x(), panel.minY() + center.y()});
            return;
        }
        ADD_FAILURE() << "no tile " << name;
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
    // The tile row's need, 36 per tile plus 102, within 200 and 600.
    const Row rows[] = {
        {M::settings, sectionsOf({20}), 320}, {M::onboarding, sectionsOf({}), 320},  {M::normal, sectionsOf({}), 200},
        {M::normal, sectionsOf({0, 0}), 200}, {M::normal, sectionsOf({1}), 200},     {M::normal, sectionsOf({3}), 210},
        {M::normal, sectionsOf({4}), 246},    {M::normal, sectionsOf({3, 2}), 282},  {M::normal, sectionsOf({13}), 570},
        {M::normal, sectionsOf({14}), 600},   {M::normal, sectionsOf({12, 8}), 600},
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

TEST_F(StashbayAppTest, AnOpenPanelThatShowsNoChangeAsksForNoPaintAndBeingDrawnMovesNothing) {
    launch(true);
    loop.advance(1s);
    std::vector<sim::WindowNumber> asked;
    ns::Application::shared().setWindowNeedsDisplayHandler(
        [&asked](const ns::Window& window) { asked.push_back(window.windowNumber()); });
    auto qtTurns = [] {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    };
    QImage image(640, 640, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    auto draw = [&] { app->panelView()->draw(painter, app->scene()->window()->frame().size); };
    hotkey();
    loop.advance(5s);  // started, scanned, appeared
    // The first paint fits the content to its window: a change, laid out and drawn again.
    draw();
    loop.advance(1s);
    qtTurns();
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back(), app->scene()->window()->windowNumber());

    // Drawn again and again, as the desktop repaints for its own reasons: nothing is laid out
    // again, so no pass of the window positioner is scheduled and nothing asks to be drawn.
    asked.clear();
    for (int i = 0; i < 3; ++i) draw();
    const auto next = loop.loop().nextDeadline();
    EXPECT_TRUE(!next || *next - loop.now() > 150ms);
    // The scans every 2 s find the same items: the panel still asks for nothing.
    loop.advance(10s);
    qtTurns();
    EXPECT_TRUE(asked.empty()) << asked.size() << " requests";
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

TEST_F(StashbayAppTest, AFirstRunWalksTheOnboardingAsThePersonGrantsInSystemSettingsThenStartsTheState) {
    using Step = stashbay::OnboardingModel::OnboardingStep;
    using sim::systemSettings::PrivacyPane;
    world.permissions().accessibility = false;
    world.permissions().screenRecording = false;
    launch(false);
    loop.advance(1s);
    clickStatusItem();
    ASSERT_TRUE(app->scene()->isPresented());
    auto* onboarding = page<stashbay::OnboardingView>(AppState::PanelMode::onboarding);
    ASSERT_NE(onboarding, nullptr);
    EXPECT_EQ(onboarding->model().step(), Step::welcome);
    EXPECT_EQ(lastPollingInterval(), "2.000000");

    clickInPanel(onboarding->layout().primaryButton.center());
    ASSERT_EQ(onboarding->model().step(), Step::accessibility);
    clickInPanel(onboarding->layout().primaryButton.center());
    loop.advance(200ms);
    EXPECT_EQ(world.permissions().openedSettingsURLs,
              std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility"});
    // The person flips Stashbay's switches in the panes; each next 2-second check moves on.
    sim::systemSettings::setAllowed(world, PrivacyPane::accessibility, true);
    loop.advance(2s);
    ASSERT_EQ(onboarding->model().step(), Step::screenRecording);
    sim::systemSettings::setAllowed(world, PrivacyPane::screenRecording, true);
    loop.advance(2s);
    ASSERT_EQ(onboarding->model().step(), Step::complete);
    EXPECT_EQ(capture.count("appState", "AppState starting after onboarding..."), 0u);

    clickInPanel(onboarding->layout().primaryButton.center());
    EXPECT_TRUE(app->preferences()->hasCompletedOnboarding());
    EXPECT_EQ(app->appState()->panelMode(), AppState::PanelMode::normal);
    loop.advance(400ms);
    app->panelView()->widget().render();
    loop.runUntilIdle();
    EXPECT_EQ(app->panelView()->widget().modeContent(AppState::PanelMode::onboarding), nullptr);
    EXPECT_EQ(lastPollingInterval(), "30.000000");
    loop.advance(5s);
    EXPECT_EQ(capture.count("appState", "AppState started after onboarding"), 1u);
    EXPECT_FALSE(app->appState()->menuBarItems().empty());
    // Slow polling from now on: a revoked permission is seen only at the 30-second check.
    sim::systemSettings::setAllowed(world, PrivacyPane::screenRecording, false);
    loop.advance(20s);
    EXPECT_TRUE(app->appState()->permissions()->screenRecordingGranted());
    loop.advance(10s);
    EXPECT_FALSE(app->appState()->permissions()->screenRecordingGranted());
}

TEST_F(StashbayAppTest, TheSettingsPageTurnsTheHotkeyOffAndOnAndEachVisitStartsWithANewUpdateCheck) {
    using Target = stashbay::SettingsView::Target;
    // No server listens at the manifest's address, so a check fails at once.
    stashbay::UpdateCheckerConfiguration updates;
    updates.manifestURL = ns::URL::fromString("https://127.0.0.1:9/version.json");
    launch(true, updates);
    loop.advance(1s);
    hotkey();
    loop.advance(2s);
    auto& app_ = ns::Application::shared();
    ASSERT_EQ(app_.globalMonitorCount(), 1u);
    app->appState()->setPanelMode(AppState::PanelMode::settings);
    auto* settings = page<stashbay::SettingsView>(AppState::PanelMode::settings);
    ASSERT_NE(settings, nullptr);
    auto at = [&](Target target) {
        for (const auto& hit : settings->layout().hits)
            if (hit.target == target) return hit.rect.center();
        ADD_FAILURE() << "no such control";
        return QPointF();
    };

    clickInPanel(at(Target::globalHotkey));
    EXPECT_FALSE(app->preferences()->globalHotkeyEnabled());
    EXPECT_EQ(app_.globalMonitorCount() + app_.localMonitorCount(), 0u);
    hotkey();
    EXPECT_TRUE(app->scene()->isPresented()) << "the hotkey no longer closes the panel";
    clickInPanel(at(Target::globalHotkey));
    EXPECT_EQ(app_.globalMonitorCount(), 1u);
    EXPECT_EQ(app_.localMonitorCount(), 1u);

    clickInPanel(at(Target::updateButton));
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (settings->model().general().updateContent().kind != UpdateContent::Kind::failed &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(10ms);
        loop.runUntilIdle();
    }
    ASSERT_EQ(settings->model().general().updateContent().kind, UpdateContent::Kind::failed);
    clickInPanel(at(Target::back));
    ASSERT_EQ(page<stashbay::SettingsView>(AppState::PanelMode::settings), nullptr);
    app->appState()->setPanelMode(AppState::PanelMode::settings);
    settings = page<stashbay::SettingsView>(AppState::PanelMode::settings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->model().general().updateContent().kind, UpdateContent::Kind::checkButton);
}

TEST_F(StashbayAppTest, ThePanelHangsUnderItsItemAndATileClickedInItOpensTheMirroredMenuThere) {
    launch(true);
    loop.advance(1s);
    hotkey();
    loop.advance(5s);
    const auto panel = app->scene()->window();
    const auto item = stashbay::AppDelegate::statusItemWindow();
    ASSERT_NE(item, nullptr);
    EXPECT_NEAR(panel->frame().maxX(), item->frame().maxX(), 1.0) << "right edges flush";

    // A click in the panel window on the Stopwatch's tile.
    auto& widget = app->panelView()->widget();
    widget.render();
    stashbay::IconTileView* stopwatch = nullptr;
    for (auto* tile : widget.tileViews())
        if (tile->model().item().displayName() == "Stopwatch") stopwatch = tile;
    ASSERT_NE(stopwatch, nullptr);
    const QPoint center = stopwatch->mapTo(&widget, stopwatch->rect().center());
    click({bounds(*panel).minX() + center.x(), bounds(*panel).minY() + center.y()});

    // Its menu, mirrored in a pop-up window under the tile; the panel keeps the keyboard.
    auto* menu = app->panelView()->popUpMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->window()->isVisible());
    const cg::Rect shown = bounds(*menu->window());
    EXPECT_NEAR(shown.minY(), bounds(*panel).minY() + stopwatch->mapTo(&widget, QPoint(0, stopwatch->height())).y(),
                1.0);
    EXPECT_TRUE(panel->isKeyWindow());
    click({shown.minX() + 30,
           shown.minY() + stashbay::PopUpMenu::verticalPadding + 1.5 * stashbay::PopUpMenu::rowHeight});  // "Reset"
    ASSERT_EQ(world.menuChoices().size(), 1u);
    EXPECT_EQ(world.menuChoices()[0].path, (std::vector<std::size_t>{1}));
    EXPECT_FALSE(menu->window()->isVisible());
    EXPECT_TRUE(app->scene()->isPresented());
    EXPECT_EQ(world.alertSounds().count(), 0);

    // The panel's keys come from the world's keyboard: the arrows move the focus, Escape closes.
    for (std::uint16_t arrow : {124, 124}) {
        world.events().injectUserKey(cg::EventType::keyDown, arrow, 0);
        world.events().injectUserKey(cg::EventType::keyUp, arrow, 0);
    }
    loop.runUntilIdle();
    ASSERT_TRUE(app->panelView()->model().focusedItem().has_value());
    EXPECT_EQ(app->panelView()->model().focusedItem()->id(), app->panelView()->model().tiles().at(1).item.id());
    world.events().injectUserKey(cg::EventType::keyDown, 53, 0);
    loop.runUntilIdle();
    EXPECT_FALSE(app->scene()->isPresented());
    EXPECT_FALSE(app->panelView()->hasAppeared());
}

TEST_F(StashbayAppTest, QuitChosenInAMirroredMenuQuitsTheApplicationAndAfterTheScansItsTileGoes) {
    launch(true);
    loop.advance(1s);
    hotkey();
    loop.advance(5s);
    auto hasTile = [&](const char* name) {
        const auto tiles = app->panelView()->model().tiles();
        return std::any_of(tiles.begin(), tiles.end(), [name](const auto& t) { return t.item.displayName() == name; });
    };
    ASSERT_TRUE(hasTile("Tides"));
    clickTile("Tides");
    auto* menu = app->panelView()->popUpMenu();
    ASSERT_TRUE(menu && menu->isOpen());
    const cg::Rect shown = bounds(*menu->window());
    click({shown.minX() + 30, shown.minY() + stashbay::PopUpMenu::verticalPadding +
                                  1.5 * stashbay::PopUpMenu::rowHeight});  // "Quit Tides"
    ASSERT_EQ(world.menuChoices().size(), 1u);
    EXPECT_EQ(world.menuChoices()[0].path, (std::vector<std::size_t>{1}));
    EXPECT_FALSE(menu->isOpen());
    const auto running = ns::Workspace::shared().runningApplications();
    EXPECT_TRUE(
        std::none_of(running.begin(), running.end(), [](const auto& a) { return a->processIdentifier() == 446; }));
    EXPECT_TRUE(world.statusItemsOf(446).empty());
    for (const auto* item : world.statusItems()) EXPECT_NE(item->owner, 446);

    // The tile's activation paused scanning for 15 s; then, a scan every 2 s, the debounce carries
    // the vanished item through two scans and the third drops it.
    const auto chosenAt = loop.now();
    while (hasTile("Tides") && loop.now() - chosenAt < 40s) loop.advance(100ms);
    EXPECT_FALSE(hasTile("Tides"));
    EXPECT_EQ(capture.count("scanning", "Debouncing Tides: absent 1/3"), 1u);
    EXPECT_EQ(capture.count("scanning", "Debouncing Tides: absent 2/3"), 1u);
    EXPECT_GE(loop.now() - chosenAt, 15s + 2 * 2s);
    EXPECT_LE(loop.now() - chosenAt, 15s + 2 * 2s + 200ms);
    EXPECT_TRUE(hasTile("Ferry")) << "the other tiles stay";
}

TEST_F(StashbayAppTest, AMarkSwitchedInAMirroredMenuShowsSwitchedWhenTheMenuOpensAgain) {
    launch(true);
    loop.advance(1s);
    hotkey();
    loop.advance(5s);
    // The Stopwatch's "Start", made a switch that is on.
    world.mutableStatusItem(world.statusItemsOf(441).at(0)->id)->spec.menu.at(0).markChar = "\u2713";
    for (bool checked : {true, false, true}) {
        SCOPED_TRACE(checked);
        clickTile("Stopwatch");
        auto* menu = app->panelView()->popUpMenu();
        ASSERT_TRUE(menu && menu->isOpen());
        const auto* start = menu->menu().actions().at(0);
        EXPECT_EQ(start->text(), "Start");
        EXPECT_EQ(start->isChecked(), checked);
        const cg::Rect shown = bounds(*menu->window());
        click({shown.minX() + 30,
               shown.minY() + stashbay::PopUpMenu::verticalPadding + 0.5 * stashbay::PopUpMenu::rowHeight});
        EXPECT_FALSE(menu->isOpen());
    }
}

TEST_F(StashbayAppTest, ARightClickOnATileInThePanelWindowOpensTheItemsOwnMenuInTheWorld) {
    launch(true);
    loop.advance(1s);
    hotkey();
    loop.advance(5s);
    auto& widget = app->panelView()->widget();
    widget.render();
    stashbay::IconTileView* tally = nullptr;
    for (auto* tile : widget.tileViews())
        if (tile->model().item().displayName() == "Tally") tally = tile;
    ASSERT_NE(tally, nullptr);
    const QPoint center = tally->mapTo(&widget, tally->rect().center());
    const cg::Rect panel = bounds(*app->scene()->window());
    ASSERT_LT(center.x(), panel.width()) << "Tally's tile is in view";
    click({panel.minX() + center.x(), panel.minY() + center.y()}, true);
    loop.advance(5s);
    // Its menu is not in its accessibility tree: the activation chain opened it in the bar.
    EXPECT_EQ(app->panelView()->popUpMenu(), nullptr);
    ASSERT_TRUE(world.openMenuItem().has_value());
    EXPECT_EQ(world.statusItem(*world.openMenuItem())->spec.title, "Tally");
    loop.advance(40s);
}

TEST_F(StashbayAppTest, AMirroredMenuFollowsThePointerAndTheKeysEscapeClosesOnlyItAndAClickOutsideClosesIt) {
    launch(true);
    loop.advance(1s);
    hotkey();
    loop.advance(5s);
    const auto panel = app->scene()->window();
    auto& widget = app->panelView()->widget();
    widget.render();
    const auto tiles = widget.tileViews();
    std::size_t index = tiles.size();
    for (std::size_t i = 0; i < tiles.size(); ++i)
        if (tiles[i]->model().item().displayName() == "Stopwatch") index = i;
    ASSERT_LT(index, tiles.size());
    // From the keyboard: the menu hangs under the focused tile.
    for (std::size_t i = 0; i <= index; ++i) world.events().injectUserKey(cg::EventType::keyDown, 124, 0);
    world.events().injectUserKey(cg::EventType::keyDown, 36, 0);
    loop.runUntilIdle();
    auto* menu = app->panelView()->popUpMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->isOpen());
    const cg::Rect shown = bounds(*menu->window());
    const QPoint tileBottomLeft = tiles[index]->mapTo(&widget, QPoint(0, tiles[index]->height()));
    EXPECT_NEAR(shown.minX(), bounds(*panel).minX() + tileBottomLeft.x(), 1.0);
    EXPECT_NEAR(shown.minY(), bounds(*panel).minY() + tileBottomLeft.y(), 1.0);

    // The entry under the pointer is lit; Down moves on, Return chooses.
    world.events().injectUserMouse(cg::EventType::mouseMoved,
                                   {shown.minX() + 30, shown.minY() + stashbay::PopUpMenu::verticalPadding + 2});
    loop.runUntilIdle();
    ASSERT_NE(menu->highlighted(), nullptr);
    const QString first = menu->highlighted()->text();
    world.events().injectUserKey(cg::EventType::keyDown, 125, 0);
    loop.runUntilIdle();
    ASSERT_NE(menu->highlighted(), nullptr);
    EXPECT_NE(menu->highlighted()->text(), first);
    world.events().injectUserKey(cg::EventType::keyDown, 126, 0);
    world.events().injectUserKey(cg::EventType::keyDown, 125, 0);
    world.events().injectUserKey(cg::EventType::keyDown, 36, 0);
    loop.runUntilIdle();
    ASSERT_EQ(world.menuChoices().size(), 1u);
    EXPECT_EQ(world.menuChoices()[0].path, (std::vector<std::size_t>{1}));
    EXPECT_FALSE(menu->isOpen());
    EXPECT_TRUE(app->scene()->isPresented());

    // Escape closes the menu and leaves the panel open.
    world.events().injectUserKey(cg::EventType::keyDown, 36, 0);
    loop.runUntilIdle();
    menu = app->panelView()->popUpMenu();
    ASSERT_TRUE(menu && menu->isOpen());
    world.events().injectUserKey(cg::EventType::keyDown, 53, 0);
    loop.runUntilIdle();
    EXPECT_FALSE(menu->isOpen());
    EXPECT_TRUE(app->scene()->isPresented());

    // A click on the wallpaper closes it too, choosing nothing.
    world.events().injectUserKey(cg::EventType::keyDown, 36, 0);
    loop.runUntilIdle();
    menu = app->panelView()->popUpMenu();
    ASSERT_TRUE(menu && menu->isOpen());
    click({40, 600});
    // The wallpaper click closes the panel as well, and the menu goes with it.
    menu = app->panelView()->popUpMenu();
    EXPECT_TRUE(!menu || !menu->isOpen());
    EXPECT_EQ(world.menuChoices().size(), 1u);
}

TEST_F(StashbayAppTest, AMirroredMenusKeyboardHighlightIsDrawnWhileThePointerStaysOffIt) {
    launch(true);
    loop.advance(1s);
    hotkey();
    loop.advance(5s);
    clickTile("Stopwatch");
    auto* menu = app->panelView()->popUpMenu();
    ASSERT_TRUE(menu && menu->isOpen());
    const auto window = menu->window();
    auto picture = [&] {
        QImage image(static_cast<int>(window->frame().width()), static_cast<int>(window->frame().height()),
                     QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        window->contentView()->draw(painter, window->frame().size);
        return image;
    };
    // The pointer off the menu, on the wallpaper; then Down twice, the pointer still.
    world.events().injectUserMouse(cg::EventType::mouseMoved, {40, 700});
    loop.runUntilIdle();
    const QImage before = picture();
    std::vector<sim::WindowNumber> asked;
    ns::Application::shared().setWindowNeedsDisplayHandler(
        [&asked](const ns::Window& w) { asked.push_back(w.windowNumber()); });
    for (int i = 0; i < 2; ++i) {
        world.events().injectUserKey(cg::EventType::keyDown, 125, 0);
        world.events().injectUserKey(cg::EventType::keyUp, 125, 0);
    }
    loop.runUntilIdle();
    ASSERT_NE(menu->highlighted(), nullptr);
    EXPECT_EQ(menu->highlighted()->text(), "Reset");
    EXPECT_NE(std::find(asked.begin(), asked.end(), window->windowNumber()), asked.end())
        << "the menu's window was not asked to be drawn";
    EXPECT_NE(picture(), before);
    ns::Application::shared().setWindowNeedsDisplayHandler(nullptr);
    world.events().injectUserKey(cg::EventType::keyDown, 36, 0);
    loop.runUntilIdle();
    ASSERT_EQ(world.menuChoices().size(), 1u);
    EXPECT_EQ(world.menuChoices()[0].path, (std::vector<std::size_t>{1}));
}

TEST_F(StashbayAppTest, WhatAnItemActivatedFromItsTileOpensAppearsWhereThePlatformPutsItAndAMenuTakesTheKeyboard) {
    launch(true);
    loop.advance(1s);
    // Peek has no menu to mirror: its press opens its own menu in the bar, under the item where it
    // is, and that application now has the keyboard, so the panel goes as after a click elsewhere.
    hotkey();
    loop.advance(5s);
    clickTile("Peek");
    loop.advance(2s);
    ASSERT_TRUE(world.openMenuItem().has_value());
    const auto* peek = world.statusItem(*world.openMenuItem());
    EXPECT_EQ(peek->spec.title, "Peek");
    const cg::Rect menu = world.windowServer().find(*world.openMenuWindow())->bounds;
    EXPECT_EQ(menu.minX(), peek->frame.minX());
    EXPECT_EQ(menu.minY(), peek->frame.maxY());
    EXPECT_FALSE(app->scene()->isPresented()) << "the panel stays open under another application's menu";
    EXPECT_EQ(app->panelView()->popUpMenu(), nullptr);
    world.closeMenus();

    // Postcard, off the bar, opens its window where the platform puts a new window: centred
    // across the screen below the menu bar, a little above the middle.
    hotkey();
    loop.advance(5s);
    ASSERT_TRUE(app->scene()->isPresented());
    clickTile("Postcard");
    loop.advance(2s);
    ASSERT_TRUE(world.openPopoverWindow().has_value());
    const cg::Rect window = world.windowServer().find(*world.openPopoverWindow())->bounds;
    EXPECT_DOUBLE_EQ(window.midX(), 1512 / 2.0);
    EXPECT_DOUBLE_EQ(window.minY() - world.menuBarHeight(), (945 - window.height()) / 4);
    loop.advance(40s);
}

TEST_F(StashbayAppTest, CommandDraggingStashbaysOwnItemMovesItAsTheLogSays) {
    launch(true);
    loop.advance(1s);
    hotkey();
    loop.advance(5s);
    hotkey();
    ASSERT_FALSE(app->scene()->isPresented());
    const auto own = stashbay::AppDelegate::statusItemWindow();
    ASSERT_NE(own, nullptr);
    const auto* ownItem = world.statusItemForWindow(own->windowNumber());
    ASSERT_NE(ownItem, nullptr);
    // The visible item two places to its left.
    const sim::StatusItem* target = nullptr;
    for (const auto* item : world.statusItems())
        if (item->onBar && item->frame.maxX() < ownItem->frame.minX() - 30 &&
            (!target || item->frame.minX() > target->frame.minX()))
            target = item;
    ASSERT_NE(target, nullptr);
    const double before = ownItem->frame.minX();
    const auto ownID = ownItem->id;
    sim::DragGesture gesture{sim::centreOf(*ownItem), sim::centreOf(*target)};
    gesture.command = true;
    loop.advance(sim::performDrag(world, gesture) + 1s);
    EXPECT_FALSE(app->scene()->isPresented()) << "a Command-press is no click";
    EXPECT_LT(world.statusItem(ownID)->frame.minX(), before);
    bool logged = false;
    for (const auto& text : capture.texts("appState"))
        if (text.rfind("Moved app.stashbay.Stashbay to Visible", 0) == 0) logged = true;
    EXPECT_TRUE(logged);
}
