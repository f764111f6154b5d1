#include "Services/PermissionsManager.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using stashbay::PermissionsManager;

namespace {

constexpr const char* pollingStopped = "Permission polling stopped.";
constexpr const char* startingFast = "Starting permission polling (interval=2.000000s, fast=true).";
constexpr const char* startingNormal = "Starting permission polling (interval=30.000000s, fast=false).";
constexpr const char* accessibilityGrantedRecord = "Accessibility permission changed: granted";
constexpr const char* accessibilityDeniedRecord = "Accessibility permission changed: denied";
constexpr const char* screenRecordingGrantedRecord = "Screen Recording permission changed: granted";

constexpr const char* accessibilityPane =
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility";
constexpr const char* legacyAccessibilityPane =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
constexpr const char* screenRecordingPane =
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_ScreenCapture";
constexpr const char* legacyScreenRecordingPane =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

class PermissionsManagerTest : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }

    // Sets what the world grants, then makes the service, which reads it at once.
    void make(bool accessibility, bool screenRecording) {
        world.permissions().accessibility = accessibility;
        world.permissions().screenRecording = screenRecording;
        manager = PermissionsManager::create();
    }
    // The service's own records; the bridges write checks and requests of their own.
    std::vector<std::string> texts(std::optional<os::LogLevel> level = std::nullopt) const {
        static const std::set<std::string> formats{
            "Accessibility permission changed: %s",
            "Screen Recording permission changed: %s",
            "Starting permission polling (interval=%fs, fast=%{bool}d).",
            "Permission polling stopped.",
            "Requesting Accessibility permission (will prompt user).",
            "Requesting Screen Recording permission.",
            "Invalid settings URL: '%{public}s'",
            "Primary URL failed, trying legacy URL",
            "Failed to open settings: %{public}s",
        };
        std::vector<std::string> out;
        for (const auto& r : capture.records("permissions")) {
            if (formats.count(r.format) && (!level || r.level == *level)) out.push_back(r.text);
        }
        return out;
    }
    std::size_t liveTasks() { return loop.loop().liveRootCount(); }

    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture capture;
    std::shared_ptr<PermissionsManager> manager;
};

struct CreationCase {
    const char* what;
    bool accessibility;
    bool screenRecording;
    std::vector<std::string> records;
};

void PrintTo(const CreationCase& c, std::ostream* os) { *os << c.what; }

class PermissionsCreation : public PermissionsManagerTest, public ::testing::WithParamInterface<CreationCase> {};

}  // namespace

TEST_P(PermissionsCreation, ReadsBothAndLogsEachOneGranted) {
    const auto& c = GetParam();
    make(c.accessibility, c.screenRecording);

    EXPECT_EQ(manager->accessibilityGranted(), c.accessibility);
    EXPECT_EQ(manager->screenRecordingGranted(), c.screenRecording);
    EXPECT_EQ(manager->allPermissionsGranted(), c.accessibility && c.screenRecording);
    EXPECT_EQ(texts(), c.records);
    EXPECT_EQ(texts(os::LogLevel::info), c.records);
    EXPECT_EQ(liveTasks(), 0u);
}

INSTANTIATE_TEST_SUITE_P(PermissionsManager, PermissionsCreation,
                         ::testing::Values(
                             CreationCase{
                                 "BothGranted", true, true, {accessibilityGrantedRecord, screenRecordingGrantedRecord}},
                             CreationCase{"OnlyScreenRecording", false, true, {screenRecordingGrantedRecord}},
                             CreationCase{"OnlyAccessibility", true, false, {accessibilityGrantedRecord}},
                             CreationCase{"NeitherGranted", false, false, {}}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(PermissionsManagerTest, FirstFastPollingStopsThenStartsThenChecksAtOnceAndEveryTwoSeconds) {
    make(false, true);
    capture.clear();
    world.permissions().accessibility = true;
    manager->startPolling(true);

    EXPECT_EQ(texts(), (std::vector<std::string>{pollingStopped, startingFast, accessibilityGrantedRecord}));
    EXPECT_EQ(texts(os::LogLevel::debug), (std::vector<std::string>{pollingStopped, startingFast}));
    EXPECT_TRUE(manager->accessibilityGranted());

    capture.clear();
    world.permissions().accessibility = false;
    loop.advance(1999ms);
    EXPECT_TRUE(texts().empty());
    loop.advance(1ms);
    EXPECT_EQ(texts(), (std::vector<std::string>{accessibilityDeniedRecord}));
    world.permissions().accessibility = true;
    loop.advance(2s);
    EXPECT_EQ(texts(), (std::vector<std::string>{accessibilityDeniedRecord, accessibilityGrantedRecord}));
}

TEST_F(PermissionsManagerTest, StartingTwiceLeavesOneLoopAtTheSecondPace) {
    make(false, true);
    capture.clear();
    manager->startPolling(true);
    manager->startPolling(false);
    loop.runUntilIdle();
    EXPECT_EQ(liveTasks(), 1u);
    EXPECT_EQ(texts(), (std::vector<std::string>{pollingStopped, startingFast, pollingStopped, startingNormal}));

    capture.clear();
    loop.advance(1s);
    world.permissions().accessibility = true;
    loop.advance(28999ms);
    EXPECT_TRUE(texts().empty());
    EXPECT_FALSE(manager->accessibilityGranted());
    loop.advance(1ms);
    EXPECT_EQ(texts(), (std::vector<std::string>{accessibilityGrantedRecord}));
}

TEST_F(PermissionsManagerTest, AnUnchangedCheckWritesNothingAndNotifiesNobody) {
    make(true, false);
    int accessibilityChanges = 0;
    int screenRecordingChanges = 0;
    int trackedChanges = 0;
    auto a = manager->observeAccessibilityGranted([&](const bool&) { ++accessibilityChanges; });
    auto s = manager->observeScreenRecordingGranted([&](const bool&) { ++screenRecordingChanges; });
    observation::withObservationTracking([&] { return manager->allPermissionsGranted(); }, [&] { ++trackedChanges; });
    capture.clear();

    manager->checkPermissions();
    EXPECT_TRUE(texts().empty());
    EXPECT_EQ(accessibilityChanges + screenRecordingChanges + trackedChanges, 0);

    world.permissions().screenRecording = true;
    manager->checkPermissions();
    EXPECT_EQ(texts(), (std::vector<std::string>{screenRecordingGrantedRecord}));
    EXPECT_EQ(accessibilityChanges, 0);
    EXPECT_EQ(screenRecordingChanges, 1);
    EXPECT_EQ(trackedChanges, 1);
    EXPECT_TRUE(manager->allPermissionsGranted());
}

TEST_F(PermissionsManagerTest, AGrantDuringNormalPollingShowsWithinThirtySecondsWithOneRecord) {
    make(false, true);
    manager->startPolling(false);
    capture.clear();
    bool seen = false;
    auto token = manager->observeAccessibilityGranted([&](const bool& granted) { seen = granted; });

    loop.advance(10s);
    world.permissions().accessibility = true;
    loop.advance(19999ms);
    EXPECT_FALSE(seen);
    loop.advance(1ms);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(manager->accessibilityGranted());
    loop.advance(2min);
    EXPECT_EQ(texts(), (std::vector<std::string>{accessibilityGrantedRecord}));
}

TEST_F(PermissionsManagerTest, StopPollingDuringASleepEndsTheLoopWithoutAnotherCheck) {
    make(true, true);
    manager->startPolling(true);
    loop.advance(1s);
    capture.clear();
    manager->stopPolling();
    world.permissions().accessibility = false;
    loop.advance(1min);

    EXPECT_EQ(texts(), (std::vector<std::string>{pollingStopped}));
    EXPECT_TRUE(manager->accessibilityGranted());
    EXPECT_EQ(liveTasks(), 0u);
}

TEST_F(PermissionsManagerTest, PollingEndsWhenTheServiceGoesAndNeverKeepsItAlive) {
    make(true, true);
    manager->startPolling(true);
    loop.advance(3s);
    std::weak_ptr<PermissionsManager> weak = manager;
    manager.reset();
    EXPECT_TRUE(weak.expired());

    loop.runUntilIdle();
    EXPECT_EQ(liveTasks(), 0u);
    capture.clear();
    world.permissions().accessibility = false;
    loop.advance(1min);
    EXPECT_TRUE(texts().empty());
}

namespace {

struct RequestCase {
    const char* what;
    std::function<void(PermissionsManager&)> request;
    const char* record;
    // Whether the request reached the world, per permission.
    int accessibilityPrompts;
    int screenRecordingRequests;
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.what; }

class PermissionRequests : public PermissionsManagerTest, public ::testing::WithParamInterface<RequestCase> {};

}  // namespace

TEST_P(PermissionRequests, AskTheSystemThenReadBothAgain) {
    const auto& c = GetParam();
    make(false, false);
    capture.clear();
    // Granted by the user meanwhile, so the request's own check shows it.
    world.permissions().accessibility = true;
    c.request(*manager);

    EXPECT_EQ(texts(), (std::vector<std::string>{c.record, accessibilityGrantedRecord}));
    EXPECT_EQ(texts(os::LogLevel::info), texts());
    EXPECT_EQ(world.permissions().accessibilityPrompts, c.accessibilityPrompts);
    EXPECT_EQ(world.permissions().screenRecordingRequests, c.screenRecordingRequests);
}

INSTANTIATE_TEST_SUITE_P(
    PermissionsManager, PermissionRequests,
    ::testing::Values(RequestCase{"Accessibility", [](PermissionsManager& m) { m.requestAccessibility(); },
                                  "Requesting Accessibility permission (will prompt user).", 0, 0},
                      RequestCase{"ScreenRecording", [](PermissionsManager& m) { m.requestScreenRecording(); },
                                  "Requesting Screen Recording permission.", 0, 1}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(PermissionsManagerTest, TheAccessibilityRequestPromptsAnUntrustedProcess) {
    make(false, false);
    manager->requestAccessibility();
    EXPECT_EQ(world.permissions().accessibilityPrompts, 1);
    EXPECT_FALSE(manager->accessibilityGranted());
}

namespace {

struct SettingsCase {
    const char* what;
    bool accessibility;
    std::set<std::string> failing;
    std::vector<std::string> opened;
    std::vector<std::string> infoRecords;
    std::vector<std::string> errorRecords;
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.what; }

const std::string legacyFailed = "Primary URL failed, trying legacy URL";

const SettingsCase settingsCases[] = {
    {"AccessibilityOpens", true, {}, {accessibilityPane}, {}, {}},
    {"AccessibilityFallsBackToTheLegacyPane", true, {accessibilityPane}, {legacyAccessibilityPane}, {legacyFailed}, {}},
    {"AccessibilityPanesBothFail",
     true,
     {accessibilityPane, legacyAccessibilityPane},
     {},
     {legacyFailed},
     {std::string("Failed to open settings: System Settings could not open the URL ") + legacyAccessibilityPane + "."}},
    {"ScreenRecordingOpens", false, {}, {screenRecordingPane}, {}, {}},
    {"ScreenRecordingFallsBackToTheLegacyPane",
     false,
     {screenRecordingPane},
     {legacyScreenRecordingPane},
     {legacyFailed},
     {}},
    {"ScreenRecordingPanesBothFail",
     false,
     {screenRecordingPane, legacyScreenRecordingPane},
     {},
     {legacyFailed},
     {std::string("Failed to open settings: System Settings could not open the URL ") + legacyScreenRecordingPane +
      "."}},
    // Only the legacy pane failing never matters: it is not tried.
    {"ScreenRecordingWithABrokenLegacyPane", false, {legacyScreenRecordingPane}, {screenRecordingPane}, {}, {}},
};

class SettingsPanes : public PermissionsManagerTest, public ::testing::WithParamInterface<SettingsCase> {};

}  // namespace

TEST_P(SettingsPanes, OpenThePrimaryPaneElseTheLegacyOne) {
    const auto& c = GetParam();
    make(true, true);
    world.permissions().failingSettingsURLs = c.failing;
    capture.clear();
    if (c.accessibility)
        manager->openAccessibilitySettings();
    else
        manager->openScreenRecordingSettings();
    EXPECT_TRUE(world.permissions().openedSettingsURLs.empty());
    loop.advance(1s);

    EXPECT_EQ(world.permissions().openedSettingsURLs, c.opened);
    EXPECT_EQ(texts(os::LogLevel::info), c.infoRecords);
    EXPECT_EQ(texts(os::LogLevel::error), c.errorRecords);
    EXPECT_EQ(texts().size(), c.infoRecords.size() + c.errorRecords.size());
}

INSTANTIATE_TEST_SUITE_P(PermissionsManager, SettingsPanes, ::testing::ValuesIn(settingsCases),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(PermissionsManagerTest, AGrantGivenInTheOpenedPaneIsPickedUpByPolling) {
    make(false, true);
    manager->startPolling(true);
    manager->openAccessibilitySettings();
    loop.advance(100ms);
    ASSERT_EQ(world.permissions().openedSettingsURLs, (std::vector<std::string>{accessibilityPane}));
    capture.clear();

    // The user switches the app on in the pane.
    world.permissions().accessibility = true;
    loop.advance(1900ms);
    EXPECT_TRUE(manager->accessibilityGranted());
    EXPECT_EQ(texts(), (std::vector<std::string>{accessibilityGrantedRecord}));
}

TEST(PermissionsManagerDeathTest, AbortsOffTheMainExecutor) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is compiled into debug builds only";
#else
    os::LogStore::shared().setEchoToStderr(false);
    auto checkOn = [](bool main) {
        runtime::ManualLoop loop;
        sim::World world;
        auto manager = PermissionsManager::create();
        runtime::SerialExecutor other("Scanner");
        (main ? runtime::mainExecutor() : other).enqueue(nullptr, [&manager] { manager->checkPermissions(); });
        loop.runUntilIdle();
    };
    checkOn(true);
    EXPECT_DEATH(checkOn(false), "main-thread check failed: PermissionsManager.checkPermissions");
#endif
}
