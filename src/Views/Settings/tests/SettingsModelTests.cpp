#include "Updates/LocalServer/LoopbackHttpsServer.hpp"
#include "Updates/ManifestFetch.hpp"
#include "Utilities/BundleExtensions.hpp"
#include "Views/Settings/SettingsModel.hpp"
#include "Views/Settings/tests/PageFixture.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/ServiceManagement/AppService.hpp"
#include "macos/sim/SavedEnvironmentVariable.hpp"

#include <thread>

using namespace stashbay;
using namespace std::chrono_literals;
using Kind = GeneralSettingsModel::UpdateContent::Kind;
using State = UpdateChecker::State;

namespace {

class SettingsTest : public PageTest {
protected:
    SettingsModel& page() {
        if (!state) make();
        if (!settings) settings = std::make_unique<SettingsModel>(state);
        return *settings;
    }
    static std::optional<cf::Value> stored(const char* key) { return ns::UserDefaults::standard().object(key); }

    std::unique_ptr<SettingsModel> settings;
};

}  // namespace

TEST_F(SettingsTest, BackReturnsThePanelToNormalAndTheFooterNamesTheRunningVersion) {
    make();
    state->setPanelMode(AppState::PanelMode::settings);
    page().back();
    EXPECT_EQ(state->panelMode(), AppState::PanelMode::normal);
    const auto footer = SettingsModel::versionFooter();
    const auto& bundle = ns::Bundle::main();
    ASSERT_FALSE(shortVersionString(bundle).empty());
    ASSERT_FALSE(buildNumber(bundle).empty());
    // One space after the name, none after the v, one before the parenthesis.
    EXPECT_EQ(footer.toStdString(), "Stashbay v" + shortVersionString(bundle) + " (" + buildNumber(bundle) + ")");
    EXPECT_TRUE(GeneralSettingsModel::versionText().startsWith("v"));
    EXPECT_EQ(GeneralSettingsModel::rowLabels(),
              (std::array<QString, 4>{"Launch at Login", "Scan Interval", "Global Hotkey", "Updates"}));
}

TEST_F(SettingsTest, TheIntervalPickerShowsTheStoredSegmentAndStoresAChoiceAtOnce) {
    struct Case {
        double stored;
        std::optional<std::size_t> selected;
    };
    for (const auto& c : {Case{5.0, 2}, Case{1.0, 0}, Case{10.0, 3}, Case{3.0, std::nullopt}}) {
        SCOPED_TRACE(c.stored);
        settings.reset();
        reload();
        ns::UserDefaults::standard().set(cf::Value(c.stored), UserPreferences::Keys::scanInterval);
        make();
        EXPECT_EQ(page().general().selectedIntervalSegment(), c.selected);
    }
    page().general().chooseIntervalSegment(3);
    EXPECT_EQ(stored(UserPreferences::Keys::scanInterval), cf::Value(10.0));
    EXPECT_EQ(page().general().selectedIntervalSegment(), 3u);
}

TEST_F(SettingsTest, TheScannersNextPauseFollowsTheChosenInterval) {
    make();
    state->preferences()->setHasCompletedOnboarding(true);
    startAndSettle();
    page().general().chooseIntervalSegment(0);
    loop.advance(12s);
    auto before = scans();
    loop.advance(10s);
    const auto atOneSecond = scans() - before;
    page().general().chooseIntervalSegment(3);
    loop.advance(12s);
    before = scans();
    loop.advance(20s);
    const auto atTenSeconds = scans() - before;
    EXPECT_GE(atOneSecond, 8u);
    EXPECT_LE(atTenSeconds, 3u);
    EXPECT_GE(atTenSeconds, 1u);
}

TEST_F(SettingsTest, TheHotkeySwitchStoresAtOnceAndTheBadgeStaysTheSame) {
    const auto badge = GeneralSettingsModel::shortcutBadge();
    EXPECT_EQ(badge, "Ctrl+Opt+M");
    EXPECT_TRUE(page().general().globalHotkeyEnabled());
    page().general().setGlobalHotkeyEnabled(false);
    EXPECT_EQ(stored(UserPreferences::Keys::globalHotkeyEnabled), cf::Value(false));
    EXPECT_EQ(GeneralSettingsModel::shortcutBadge(), badge);
}

TEST_F(SettingsTest, LaunchAtLoginWritesAndRemovesTheAutostartEntryAndARefusalTurnsTheSwitchBack) {
    const auto config = base / "config";
    sim::testing::SavedEnvironmentVariable xdg("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    auto& loginItem = sm::AppService::mainApp();
    loginItem.reset();
    const auto entry = config / "autostart" / "app.stashbay.Stashbay.desktop";

    page().general().setLaunchAtLogin(true);
    EXPECT_TRUE(std::filesystem::exists(entry));
    EXPECT_TRUE(page().general().launchAtLogin());
    page().general().setLaunchAtLogin(false);
    EXPECT_FALSE(std::filesystem::exists(entry));

    sm::AppService::Faults faults;
    faults.registerError = ns::Error(sm::AppService::serviceErrorDomain, 1, "Operation not permitted");
    loginItem.setFaults(faults);
    page().general().setLaunchAtLogin(true);
    EXPECT_FALSE(page().general().launchAtLogin());
    EXPECT_EQ(stored(UserPreferences::Keys::launchAtLogin), cf::Value(false));
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(capture.contains("persistence", os::LogLevel::error,
                                 "Failed to update launch-at-login: Operation not permitted"));
    loginItem.resetInMemory();
}

TEST_F(SettingsTest, TheLaunchAtLoginSwitchShowsTheLoginItemAfterTheSystemRefusesARegistration) {
    const auto config = base / "config";
    sim::testing::SavedEnvironmentVariable xdg("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    auto& loginItem = sm::AppService::mainApp();
    const auto entry = config / "autostart" / "app.stashbay.Stashbay.desktop";
    struct Case {
        const char* what;
        std::string entryText;
        bool switchAfter;
        const char* record;
    };
    const std::string header = "[Desktop Entry]\nType=Application\nExec=stashbay\n";
    for (const auto& c : {Case{"registered before, with the switch off", header, true,
                               "Failed to update launch-at-login: The login item is already registered"},
                          Case{"turned off by the person in Login Items", header + "Hidden=true\n", false,
                               "Failed to update launch-at-login: The login item was turned off by the user"}}) {
        SCOPED_TRACE(c.what);
        settings.reset();
        reload();
        loginItem.reset();
        std::filesystem::create_directories(entry.parent_path());
        ns::FileManager::defaultManager().writeAtomically(entry, c.entryText);
        ns::UserDefaults::standard().set(cf::Value(false), UserPreferences::Keys::launchAtLogin);
        make();
        ASSERT_FALSE(page().general().launchAtLogin());
        page().general().setLaunchAtLogin(true);
        EXPECT_EQ(page().general().launchAtLogin(), c.switchAfter);
        EXPECT_EQ(stored(UserPreferences::Keys::launchAtLogin), cf::Value(c.switchAfter));
        EXPECT_TRUE(capture.contains("persistence", os::LogLevel::error, c.record));
        EXPECT_EQ(ns::FileManager::defaultManager().contents(entry), c.entryText) << "the entry is left alone";
    }
    loginItem.resetInMemory();
}

TEST_F(SettingsTest, TheUpdatesRowShowsOneContentPerCheckerState) {
    const auto url = *ns::URL::fromString("https://stashbay.app/download/Stashbay-1.4.0.dmg");
    struct Case {
        State state;
        Kind kind;
        QString text;
        QString button;
    };
    for (const auto& c :
         {Case{State::idle(), Kind::checkButton, "Check for Updates", ""},
          Case{State::checking(), Kind::spinner, "", ""}, Case{State::upToDate(), Kind::upToDate, "Up to date", ""},
          Case{State::updateAvailable("1.4.0", url), Kind::updateAvailable, "v1.4.0 available", "Download"},
          Case{State::failed("Couldn't check for updates"), Kind::failed, "Couldn't check for updates", ""}}) {
        const auto content = GeneralSettingsModel::updateContent(c.state);
        EXPECT_EQ(content.kind, c.kind);
        EXPECT_EQ(content.text, c.text);
        EXPECT_EQ(content.buttonTitle, c.button);
    }
    // A fresh page offers the check.
    EXPECT_EQ(page().general().updateContent().kind, Kind::checkButton);
}

TEST_F(SettingsTest, ThePermissionRowsShowTheirOwnBadgeAndOpenOnlyTheirPane) {
    world->permissions().accessibility = true;
    world->permissions().screenRecording = false;
    auto rows = page().permissions().rows();
    EXPECT_EQ(rows[0].label, "Accessibility");
    EXPECT_EQ(rows[0].badge.text, "Granted");
    EXPECT_EQ(rows[0].badge.symbol, "checkmark.circle.fill");
    EXPECT_EQ(rows[1].label, "Screen Recording");
    EXPECT_EQ(rows[1].badge.text, "Missing");
    EXPECT_EQ(rows[1].badge.symbol, "xmark.circle.fill");
    EXPECT_EQ(rows[1].badge.textColor, rows[1].badge.symbolColor);

    page().permissions().click(PermissionsSettingsModel::Row::screenRecording);
    loop.advance(100ms);
    EXPECT_EQ(world->permissions().openedSettingsURLs,
              std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_ScreenCapture"});
    // Granting in the pane changes the badge only at the service's next check.
    world->permissions().screenRecording = true;
    EXPECT_EQ(page().permissions().rows()[1].badge.text, "Missing");
    state->permissions()->checkPermissions();
    EXPECT_EQ(page().permissions().rows()[1].badge.text, "Granted");
}

TEST_F(SettingsTest, CheckForUpdatesRunsOneCheckAndDownloadOpensTheLinkInTheBrowserOnce) {
    if (!testing_https::opensslCommandAvailable()) GTEST_SKIP() << "the openssl command makes the server's certificate";
    auto certificate = testing_https::makeTestCertificate(base, "server");
    ASSERT_TRUE(certificate);
    const std::string link = "https://stashbay.app/download/Stashbay-9.4.0.dmg";
    testing_https::LoopbackHttpsServer server(*certificate);
    server.route("/version.json", {200, R"({"version": "9.4.0", "download": ")" + link + R"("})", {}});
    UpdateCheckerConfiguration updates;
    updates.manifestURL = ns::URL::fromString(server.url("/version.json"));
    updates.trustAnchorPEM = certificate->certificatePEM;
    make();
    SettingsModel settingsPage(state, updates);
    auto& general = settingsPage.general();

    general.checkForUpdates();
    loop.runUntilIdle();
    EXPECT_EQ(general.updateContent().kind, Kind::spinner);
    // The fetch answers from its worker thread: wait for it, in real time but bounded.
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while ((general.updateContent().kind == Kind::spinner || stashbay::ManifestFetch::workersRunning() > 0) &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(10ms);
        loop.runUntilIdle();
    }
    ASSERT_EQ(general.updateContent().kind, Kind::updateAvailable);
    EXPECT_EQ(general.updateContent().text, "v9.4.0 available");
    EXPECT_EQ(server.requests().size(), 1u);

    general.download();
    loop.advance(200ms);
    EXPECT_EQ(world->permissions().openedWebURLs, std::vector<std::string>{link});
    EXPECT_EQ(general.updateContent().kind, Kind::updateAvailable);
}
