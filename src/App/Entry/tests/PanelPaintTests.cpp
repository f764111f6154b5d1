#include "Views/StashbayPanel/tests/QtApplication.hpp"

#include "App/Entry/StashbayApp.hpp"
#include "Updates/LocalServer/LoopbackHttpsServer.hpp"
#include "Updates/ManifestFetch.hpp"
#include "Views/Onboarding/OnboardingView.hpp"
#include "Views/Settings/SettingsView.hpp"
#include "Views/StashbayPanel/EmptyStateView.hpp"
#include "Views/StashbayPanel/IconTileView.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/GeneratedScenario.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using stashbay::AppState;
using Mode = AppState::PanelMode;
using UpdateKind = stashbay::GeneralSettingsModel::UpdateContent::Kind;

namespace {

class PanelPaintTest;

// One change of what a window of Stashbay's shows, made with the pointer still, from a panel
// opened once (and, for the normal content, scanned).
struct PaintCase {
    const char* name;
    // The change, and how long it plays before the picture is looked at.
    std::function<void(PanelPaintTest&)> change;
    runtime::Duration plays{0};
    // What comes before it, unchecked, and whether its animations end before the change.
    std::function<void(PanelPaintTest&)> before = [](PanelPaintTest&) {};
    bool settles = true;
    // A spinner shown before the change turns, so the panel is not still then.
    bool startsStill = true;
    // The world and the launch.
    bool onboardingDone = true;
    bool accessibility = true;
    bool screenRecording = true;
    // Status items more than the default world's, pushed off the bar: a row longer than the panel.
    int extraItems = 0;
    // The first scan takes its time, so that the loading line shows.
    bool firstScanWaits = false;
    // Where the settings page's update checks go: a server that never answers by default.
    enum class Updates { silent, refused, newerVersion } updates = Updates::silent;
};

void PrintTo(const PaintCase& row, std::ostream* out) { *out << row.name; }

class PanelPaintTest : public ::testing::TestWithParam<PaintCase> {
public:
    AppState& state() { return *app->appState(); }
    stashbay::StashbayPanelView& panel() { return *app->panelView(); }
    std::shared_ptr<ns::Window> panelWindow() { return app->scene()->window(); }

    void runQt() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
    // Animations end and what they asked for has arrived.
    void settle() {
        loop.runUntilIdle();
        runQt();
        loop.advance(1s);
        runQt();
    }
    // The person presses a key and lets it go.
    void key(std::uint16_t code) {
        world->events().injectUserKey(cg::EventType::keyDown, code, 0);
        world->events().injectUserKey(cg::EventType::keyUp, code, 0);
        loop.runUntilIdle();
    }
    void setPermissions(bool accessibility, bool screenRecording) {
        world->permissions().accessibility = accessibility;
        world->permissions().screenRecording = screenRecording;
        state().permissions()->checkPermissions();
    }
    template <class Page>
    Page& page(Mode mode) {
        auto* shown = dynamic_cast<Page*>(panel().widget().modeContent(mode));
        if (!shown) throw std::runtime_error("the page is not shown");
        return *shown;
    }
    stashbay::SettingsView& settingsPage() { return page<stashbay::SettingsView>(Mode::settings); }
    stashbay::OnboardingModel& onboarding() { return page<stashbay::OnboardingView>(Mode::onboarding).model(); }
    void showSettings() {
        state().setPanelMode(Mode::settings);
        settle();
    }
    // The first hidden item's tile, and every application that shows a hidden item.
    stashbay::MenuBarItem firstTileItem() { return panel().model().tiles().at(0).item; }
    std::vector<sim::ProcessID> ownersOfHiddenItems() {
        std::vector<sim::ProcessID> owners;
        for (const auto& tile : panel().model().tiles())
            if (std::find(owners.begin(), owners.end(), tile.item.ownerPID()) == owners.end())
                owners.push_back(tile.item.ownerPID());
        return owners;
    }
    // The scans take a quit application's items out after they missed three of them.
    static constexpr runtime::Duration itemsGoneAfter = 10s;
    void quitOwnersOfHiddenItems() {
        for (auto pid : ownersOfHiddenItems()) world->quitApplication(pid);
    }
    // A check of the settings page's Updates row, waited for until it ends (the request goes to a
    // server of this process on a thread of its own).
    void checkForUpdatesToTheEnd() {
        auto& general = settingsPage().model().general();
        general.checkForUpdates();
        loop.runUntilIdle();
        const auto limit = std::chrono::steady_clock::now() + 20s;
        while ((general.updateContent().kind == UpdateKind::spinner || stashbay::ManifestFetch::workersRunning() > 0) &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(5ms);
            loop.runUntilIdle();
        }
        ASSERT_NE(general.updateContent().kind, UpdateKind::spinner);
    }
    // A wheel turned one notch with the pointer resting where it is.
    void wheelAtPointer() {
        const auto at = world->events().pointerLocation();
        auto scroll = std::make_shared<cg::Event>(cg::EventType::scrollWheel, at, nullptr);
        scroll->setIntegerValue(cg::EventField::scrollWheelEventPointDeltaAxis1, -30);
        scroll->setIntegerValue(cg::EventField::scrollWheelEventDeltaAxis1, -1);
        world->events().injectUser(scroll);
        loop.runUntilIdle();
    }
    // The pointer moves over the first tile and rests there.
    void restPointerOnTheRow() {
        auto& widget = panel().widget();
        widget.render();
        const auto* tile = widget.tileViews().at(0);
        const QPoint centre = tile->mapTo(&widget, tile->rect().center());
        const auto* shown = world->windowServer().find(panelWindow()->windowNumber());
        world->events().injectUserMouse(cg::EventType::mouseMoved,
                                        {shown->bounds.minX() + centre.x(), shown->bounds.minY() + centre.y()});
        loop.runUntilIdle();
    }

    runtime::ManualLoop loop;
    std::unique_ptr<sim::World> world;
    std::unique_ptr<stashbay::StashbayApp> app;
    // The windows asked to be drawn again, in order.
    std::vector<sim::WindowNumber> asked;
    // When a row marked a tile failed.
    std::optional<runtime::Instant> flashedAt;

protected:
    void SetUp() override {
        stashbay::testing::ensureQtApplication();
        os::LogStore::shared().setEchoToStderr(false);
        const auto& row = GetParam();
        world = std::make_unique<sim::World>(sim::scenarioWithMoreItems(row.extraItems));
        base = std::filesystem::temp_directory_path() /
               ("stashbay-paint-" + std::to_string(::getpid()) + "-" + std::string(row.name));
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base);
        ns::FileManager::defaultManager().setApplicationSupportOverride(base);
        ns::UserDefaults::resetStandard(std::nullopt);
        ns::UserDefaults::standard().set(row.onboardingDone, "hasCompletedOnboarding");
        world->permissions().accessibility = row.accessibility;
        world->permissions().screenRecording = row.screenRecording;
        world->activate(*world->processes().find(301), 0);
        app = stashbay::StashbayApp::launch(updatesFor(row.updates));
        loop.runUntilIdle();
        loop.advance(1s);
        if (row.firstScanWaits) {
            // Each icon comes by the screen-capture framework's screenshots, a second late: the
            // first scan takes that long for every item.
            world->faults().windowImageFails = true;
            world->captureService().shareableContentLatency = 1s;
        }
        // Opened by a click on Stashbay's item, which needs no permission; the pointer stays there.
        const auto* item = world->windowServer().find(stashbay::AppDelegate::statusItemWindow()->windowNumber());
        world->events().injectUserMouse(cg::EventType::leftMouseDown, {item->bounds.midX(), item->bounds.midY()});
        world->events().injectUserMouse(cg::EventType::leftMouseUp, {item->bounds.midX(), item->bounds.midY()});
        loop.runUntilIdle();
        ASSERT_TRUE(app->scene()->isPresented());
        loop.advance(2s);
        if (row.firstScanWaits) {
            ASSERT_TRUE(state().isScanning() && state().menuBarItems().empty()) << "loading";
        }
        ns::Application::shared().setWindowNeedsDisplayHandler(
            [this](const ns::Window& window) { asked.push_back(window.windowNumber()); });
        // The first paint fits the content to its window.
        (void)picture(*panelWindow());
        settle();
    }
    void TearDown() override {
        if (app) {
            app->appState()->stop();
            loop.advance(1s);
            app.reset();
            loop.runUntilIdle();
        }
        // A check still out ends at its time-out before the next test's world.
        const auto limit = std::chrono::steady_clock::now() + 20s;
        while (stashbay::ManifestFetch::workersRunning() > 0 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(5ms);
        ns::FileManager::defaultManager().reset();
        std::filesystem::remove_all(base);
    }

public:
    // What the window shows, drawn as the desktop draws it.
    QImage picture(const ns::Window& window) {
        const auto size = window.frame().size;
        QImage image(static_cast<int>(size.width), static_cast<int>(size.height), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        window.contentView()->draw(painter, size);
        return image;
    }

private:
    stashbay::UpdateCheckerConfiguration updatesFor(PaintCase::Updates updates) {
        stashbay::UpdateCheckerConfiguration configuration;
        configuration.connectTimeout = configuration.totalTimeout = 500ms;
        switch (updates) {
            case PaintCase::Updates::silent:
                configuration.manifestURL = ns::URL::fromString(silent.url("/version.json"));
                break;
            case PaintCase::Updates::refused:
                // No server listens there: the check fails at once.
                configuration.manifestURL = ns::URL::fromString("https://127.0.0.1:9/version.json");
                break;
            case PaintCase::Updates::newerVersion: {
                if (!testing_https::opensslCommandAvailable()) break;
                auto certificate = testing_https::makeTestCertificate(base, "manifest");
                if (!certificate) break;
                server = std::make_unique<testing_https::LoopbackHttpsServer>(*certificate);
                server->route("/version.json",
                              {200, R"({"version": "99.0.0", "download": "https://stashbay.app/Stashbay.dmg"})", {}});
                configuration.manifestURL = ns::URL::fromString(server->url("/version.json"));
                configuration.trustAnchorPEM = certificate->certificatePEM;
                break;
            }
        }
        return configuration;
    }

    std::filesystem::path base;
    testing_https::SilentServer silent;
    std::unique_ptr<testing_https::LoopbackHttpsServer> server;
};

const PaintCase cases[] = {
    // The panel's modes.
    {.name = "TheSettingsPageComes",
     .change = [](PanelPaintTest& t) { t.state().setPanelMode(Mode::settings); },
     .plays = 400ms},
    {.name = "TheSettingsPageGoes",
     .change = [](PanelPaintTest& t) { t.settingsPage().model().back(); },
     .plays = 400ms,
     .before = [](PanelPaintTest& t) { t.showSettings(); }},
    {.name = "TheOnboardingComes",
     .change = [](PanelPaintTest& t) { t.state().setPanelMode(Mode::onboarding); },
     .plays = 400ms},

    // The normal content's states and banners.
    {.name = "TheFirstScanEndsTheLoadingLine",
     .change =
         [](PanelPaintTest& t) {
             for (int second = 0; second < 600 && t.state().menuBarItems().empty(); ++second) t.loop.advance(1s);
         },
     .startsStill = false,
     .firstScanWaits = true},
    {.name = "TheLastHiddenItemsGoAndTheEmptyLineShows",
     .change = [](PanelPaintTest& t) { t.quitOwnersOfHiddenItems(); },
     .plays = PanelPaintTest::itemsGoneAfter},
    {.name = "HiddenItemsComeToTheEmptyPanel",
     .change =
         [](PanelPaintTest& t) {
             sim::ProcessSpec spec{std::nullopt, "com.example.crowd", "Crowd"};
             for (int i = 0; i < 12; ++i) {
                 sim::StatusItemSpec item;
                 item.title = "Crowd " + std::to_string(i);
                 spec.statusItems.push_back(item);
             }
             t.world->launchApplication(spec);
         },
     .plays = PanelPaintTest::itemsGoneAfter,
     .before =
         [](PanelPaintTest& t) {
             t.quitOwnersOfHiddenItems();
             t.loop.advance(PanelPaintTest::itemsGoneAfter);
         }},
    {.name = "TheEmptyLineFollowsThePermissions",
     .change = [](PanelPaintTest& t) { t.setPermissions(false, true); },
     .before =
         [](PanelPaintTest& t) {
             t.quitOwnersOfHiddenItems();
             t.loop.advance(PanelPaintTest::itemsGoneAfter);
         }},
    {.name = "TheScreenRecordingBannerComes", .change = [](PanelPaintTest& t) { t.setPermissions(true, false); }},
    {.name = "TheAccessibilityBannerComes", .change = [](PanelPaintTest& t) { t.setPermissions(false, true); }},
    {.name = "ABannerGoes",
     .change = [](PanelPaintTest& t) { t.setPermissions(true, true); },
     .before = [](PanelPaintTest& t) { t.setPermissions(true, false); }},

    // The tile row: focus and scroll.
    {.name = "RightHighlightsTheFirstTile", .change = [](PanelPaintTest& t) { t.key(124); }},
    {.name = "LeftMovesTheHighlight",
     .change = [](PanelPaintTest& t) { t.key(123); },
     .before = [](PanelPaintTest& t) { t.key(124); }},
    {.name = "TheHighlightScrollsTheLongRowToItsLastTile",
     .change = [](PanelPaintTest& t) { t.key(123); },
     .extraItems = 8},
    {.name = "TheWheelScrollsTheLongRow",
     .change = [](PanelPaintTest& t) { t.wheelAtPointer(); },
     .before = [](PanelPaintTest& t) { t.restPointerOnTheRow(); },
     .extraItems = 8},

    // Each tile's looks (its hover needs the pointer to move, and the drag source a drag).
    {.name = "AFailedActivationMarksItsTile",
     .change = [](PanelPaintTest& t) { t.panel().model().flashActivationFailure(t.firstTileItem().id()); },
     .plays = 300ms},
    {.name = "TheFailureMarkGoes",
     .change =
         [](PanelPaintTest& t) {
             t.loop.advance(*t.flashedAt + stashbay::StashbayPanelModel::failureMarkLife - t.loop.now());
         },
     .plays = 300ms,
     .before =
         [](PanelPaintTest& t) {
             t.flashedAt = t.loop.now();
             t.panel().model().flashActivationFailure(t.firstTileItem().id());
         },
     // It goes within the time the panel is watched for stillness.
     .startsStill = false},
    {.name = "TheFailureMarkFadesInFrameByFrame",
     .change = [](PanelPaintTest& t) { t.loop.advance(stashbay::FrameRequester::interval); },
     .before = [](PanelPaintTest& t) { t.panel().model().flashActivationFailure(t.firstTileItem().id()); },
     .settles = false,
     .startsStill = false},
    {.name = "ATileShowsItsItemsNewIcon",
     .change =
         [](PanelPaintTest& t) {
             const auto item = t.firstTileItem();
             // Its status window's colour is what the bar draws and the capture sees.
             for (const auto* each : t.world->statusItemsOf(item.ownerPID()))
                 t.world->windowServer().find(each->window)->color = 0xD02020FFu;
         },
     // Past the icon cache's thirty seconds.
     .plays = 31s},
    {.name = "ADisabledItemsTileFades",
     .change =
         [](PanelPaintTest& t) {
             const auto item = t.firstTileItem();
             for (const auto* each : t.world->statusItemsOf(item.ownerPID()))
                 t.world->mutableStatusItem(each->id)->spec.enabled = false;
         },
     .plays = 2s},

    // The settings page's rows.
    {.name = "LaunchAtLoginTurnsOn",
     .change = [](PanelPaintTest& t) { t.settingsPage().model().general().setLaunchAtLogin(true); },
     .before = [](PanelPaintTest& t) { t.showSettings(); }},
    {.name = "TheScanIntervalChanges",
     .change = [](PanelPaintTest& t) { t.settingsPage().model().general().chooseIntervalSegment(2); },
     .before = [](PanelPaintTest& t) { t.showSettings(); }},
    {.name = "TheHotkeyTurnsOff",
     .change = [](PanelPaintTest& t) { t.settingsPage().model().general().setGlobalHotkeyEnabled(false); },
     .before = [](PanelPaintTest& t) { t.showSettings(); }},
    {.name = "AnUpdateCheckBegins",
     .change = [](PanelPaintTest& t) { t.settingsPage().model().general().checkForUpdates(); },
     .before = [](PanelPaintTest& t) { t.showSettings(); }},
    {.name = "AnUpdateCheckFails",
     .change = [](PanelPaintTest& t) { t.checkForUpdatesToTheEnd(); },
     .before = [](PanelPaintTest& t) { t.showSettings(); },
     .updates = PaintCase::Updates::refused},
    {.name = "AnUpdateCheckFindsANewerVersion",
     .change = [](PanelPaintTest& t) { t.checkForUpdatesToTheEnd(); },
     .before = [](PanelPaintTest& t) { t.showSettings(); },
     .updates = PaintCase::Updates::newerVersion},
    {.name = "ThePermissionsSectionFollowsARevokedPermission",
     .change = [](PanelPaintTest& t) { t.setPermissions(false, true); },
     .before = [](PanelPaintTest& t) { t.showSettings(); }},

    // The onboarding's steps.
    {.name = "TheOnboardingMovesToAccessibility",
     .change = [](PanelPaintTest& t) { t.onboarding().pressPrimary(); },
     .plays = 400ms,
     .onboardingDone = false,
     .accessibility = false,
     .screenRecording = false},
    {.name = "TheOnboardingMovesOnWhenAccessibilityIsGranted",
     .change = [](PanelPaintTest& t) { t.world->permissions().accessibility = true; },
     // The onboarding's check every two seconds sees it.
     .plays = 2500ms,
     .before = [](PanelPaintTest& t) { t.onboarding().pressPrimary(); },
     .startsStill = false,
     .onboardingDone = false,
     .accessibility = false,
     .screenRecording = false},
    {.name = "TheOnboardingsLastStepFollowsARevokedPermission",
     .change = [](PanelPaintTest& t) { t.setPermissions(true, false); },
     .onboardingDone = false},

    {.name = "TheOnboardingEndsInTheNormalPanel",
     .change = [](PanelPaintTest& t) { t.onboarding().pressPrimary(); },
     .plays = 2s,
     .onboardingDone = false},

    // The spinners: a frame later each shows another turn.
    {.name = "TheLoadingSpinnerTurns",
     .change = [](PanelPaintTest& t) { t.loop.advance(stashbay::SkeletonLoadingView::spinnerStep); },
     .startsStill = false,
     .firstScanWaits = true},
    {.name = "TheUpdateSpinnerTurns",
     .change = [](PanelPaintTest& t) { t.loop.advance(stashbay::FrameRequester::interval); },
     .before =
         [](PanelPaintTest& t) {
             t.showSettings();
             t.settingsPage().model().general().checkForUpdates();
         },
     .startsStill = false},
    {.name = "TheOnboardingsWaitingSpinnerTurns",
     .change = [](PanelPaintTest& t) { t.loop.advance(stashbay::FrameRequester::interval); },
     .before = [](PanelPaintTest& t) { t.onboarding().pressPrimary(); },
     .startsStill = false,
     .onboardingDone = false,
     .accessibility = false,
     .screenRecording = false},

    // The mirrored menu's highlight, moved by the keys and by the pointer, and its submenus have a
    // table of their own, one window per open level:
    // PopUpMenuTest.EveryChangeOfWhatTheMenuShowsAsksItsWindowToBeDrawnAgainAndDrawsTheChange.
};

}  // namespace

TEST_P(PanelPaintTest, TheChangeAsksItsWindowToPaintAndChangesWhatItShows) {
    const auto& row = GetParam();
    if (row.updates == PaintCase::Updates::newerVersion && !testing_https::opensslCommandAvailable())
        GTEST_SKIP() << "the openssl command makes the manifest server's certificate";
    row.before(*this);
    const auto window = panelWindow();
    ASSERT_NE(window, nullptr);
    // The first paint after the window changed its size fits the content to it, a change of its
    // own; the desktop paints again for it.
    for (int paint = 0; paint < 2; ++paint) {
        if (row.settles) {
            settle();
        } else {
            loop.runUntilIdle();
            runQt();
        }
        (void)picture(*window);
    }
    if (row.startsStill) {
        asked.clear();
        loop.advance(1s);
        runQt();
        ASSERT_THAT(asked, ::testing::IsEmpty()) << "nothing asks for a paint before the change";
    }
    const QImage before = picture(*window);

    asked.clear();
    row.change(*this);
    loop.runUntilIdle();
    runQt();
    if (row.plays > runtime::Duration::zero()) {
        loop.advance(row.plays);
        runQt();
    }
    EXPECT_THAT(asked, ::testing::Contains(window->windowNumber())) << "its window was asked to paint";
    EXPECT_NE(picture(*window), before) << "what it shows changed";
}

INSTANTIATE_TEST_SUITE_P(Changes, PanelPaintTest, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });
