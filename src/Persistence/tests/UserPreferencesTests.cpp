#include "Persistence/UserPreferences.hpp"
#include "macos/Foundation/FileManager.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/LogCapture.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using stashbay::UserPreferences;
using Keys = UserPreferences::Keys;
using Status = sm::AppService::Status;

namespace {

// A fresh world gives empty in-memory defaults and an in-memory login item.
class UserPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { os::LogStore::shared().setEchoToStderr(false); }

    std::optional<cf::Value> stored(const char* key) const { return defaults().object(key); }
    static ns::UserDefaults& defaults() { return ns::UserDefaults::standard(); }
    static sm::AppService& loginItem() { return sm::AppService::mainApp(); }

    runtime::ManualLoop loop;
    sim::World world;
    os::LogCapture capture;
};

// Counts the announced changes of one setting and the writes of its key.
struct Watch {
    Watch(const char* key, observation::ObservationToken token)
        : token(std::move(token)),
          writes(ns::UserDefaults::standard().observe(
              key, [this](const auto&, const std::optional<cf::Value>& value) { written.push_back(value); })) {}
    int changes = 0;
    std::vector<std::optional<cf::Value>> written;
    observation::ObservationToken token;
    ns::KeyValueObservation writes;
};

}  // namespace

TEST_F(UserPreferencesTest, WithoutStoredKeysItTakesTheDefaultsAndWritesNothing) {
    UserPreferences preferences;

    EXPECT_FALSE(preferences.launchAtLogin());
    EXPECT_EQ(preferences.scanInterval(), 2.0);
    EXPECT_FALSE(preferences.hasCompletedOnboarding());
    EXPECT_TRUE(preferences.globalHotkeyEnabled());
    EXPECT_TRUE(defaults().dictionaryRepresentation().empty());
    EXPECT_EQ(loginItem().registerCallCount(), 0u);
    EXPECT_EQ(loginItem().unregisterCallCount(), 0u);
    EXPECT_TRUE(capture.records("persistence").empty());
}

namespace {

struct StoredInterval {
    const char* what;
    cf::Value stored;
    double reads;
};

void PrintTo(const StoredInterval& c, std::ostream* os) { *os << c.what; }

class LoadingTheScanInterval : public UserPreferencesTest, public ::testing::WithParamInterface<StoredInterval> {};

}  // namespace

TEST_P(LoadingTheScanInterval, ClampsInTheObjectOnlyAndLeavesTheStoredValue) {
    const auto& c = GetParam();
    defaults().set(c.stored, Keys::scanInterval);

    UserPreferences preferences;

    EXPECT_EQ(preferences.scanInterval(), c.reads);
    auto kept = stored(Keys::scanInterval);
    ASSERT_TRUE(kept);
    // Not a number is unequal to itself; it must still be what was stored.
    bool bothNaN = kept->asDouble() && std::isnan(*kept->asDouble()) && std::isnan(*c.stored.asDouble());
    EXPECT_TRUE(*kept == c.stored || bothNaN);
}

INSTANTIATE_TEST_SUITE_P(UserPreferences, LoadingTheScanInterval,
                         ::testing::Values(StoredInterval{"HalfASecondReadsAsOne", cf::Value(0.5), 1.0},
                                           StoredInterval{"ThirtyReadsAsTen", cf::Value(30), 10.0},
                                           StoredInterval{"ZeroReadsAsOne", cf::Value(0), 1.0},
                                           StoredInterval{"NegativeReadsAsOne", cf::Value(-4.0), 1.0},
                                           StoredInterval{"InRangeIsKept", cf::Value(3.5), 3.5},
                                           StoredInterval{"BoundsAreKept", cf::Value(10.0), 10.0},
                                           StoredInterval{"TextIsReadAsANumber", cf::Value("4.25 seconds"), 4.25},
                                           StoredInterval{"UnreadableTextReadsAsZeroThenOne", cf::Value("soon"), 1.0},
                                           StoredInterval{"TrueReadsAsOne", cf::Value(true), 1.0},
                                           StoredInterval{"InfinityReadsAsTen",
                                                          cf::Value(std::numeric_limits<double>::infinity()), 10.0},
                                           StoredInterval{"NotANumberReadsAsTheDefault", cf::Value(std::nan("")), 2.0}),
                         [](const auto& info) { return std::string(info.param.what); });

namespace {

struct StoredFlag {
    const char* what;
    const char* key;
    std::optional<cf::Value> stored;
    bool (UserPreferences::*read)() const;
    bool reads;
};

void PrintTo(const StoredFlag& c, std::ostream* os) { *os << c.what; }

class LoadingAFlag : public UserPreferencesTest, public ::testing::WithParamInterface<StoredFlag> {};

}  // namespace

TEST_P(LoadingAFlag, ReadsTheStoredBooleanOrItsDefault) {
    const auto& c = GetParam();
    if (c.stored) defaults().set(*c.stored, c.key);

    UserPreferences preferences;

    EXPECT_EQ((preferences.*c.read)(), c.reads);
    EXPECT_EQ(stored(c.key), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    UserPreferences, LoadingAFlag,
    ::testing::Values(StoredFlag{"HotkeyStoredFalse", Keys::globalHotkeyEnabled, cf::Value(false),
                                 &UserPreferences::globalHotkeyEnabled, false},
                      StoredFlag{"HotkeyAbsentIsOn", Keys::globalHotkeyEnabled, std::nullopt,
                                 &UserPreferences::globalHotkeyEnabled, true},
                      StoredFlag{"HotkeyStoredAsZero", Keys::globalHotkeyEnabled, cf::Value(0),
                                 &UserPreferences::globalHotkeyEnabled, false},
                      StoredFlag{"HotkeyStoredAsTextNo", Keys::globalHotkeyEnabled, cf::Value("no"),
                                 &UserPreferences::globalHotkeyEnabled, false},
                      // Not a boolean, number or text: the platform's reading gives false, not the default.
                      StoredFlag{"HotkeyStoredAsAList", Keys::globalHotkeyEnabled, cf::Value::array({cf::Value(true)}),
                                 &UserPreferences::globalHotkeyEnabled, false},
                      StoredFlag{"LaunchAtLoginStoredTrue", Keys::launchAtLogin, cf::Value(true),
                                 &UserPreferences::launchAtLogin, true},
                      StoredFlag{"LaunchAtLoginStoredAsTextYes", Keys::launchAtLogin, cf::Value("YES"),
                                 &UserPreferences::launchAtLogin, true},
                      StoredFlag{"OnboardingStoredTrue", Keys::hasCompletedOnboarding, cf::Value(true),
                                 &UserPreferences::hasCompletedOnboarding, true},
                      StoredFlag{"OnboardingAbsentIsNotDone", Keys::hasCompletedOnboarding, std::nullopt,
                                 &UserPreferences::hasCompletedOnboarding, false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(UserPreferencesTest, LoadingAStoredLaunchAtLoginLeavesTheLoginItemAlone) {
    defaults().set(true, Keys::launchAtLogin);
    UserPreferences preferences;
    EXPECT_EQ(loginItem().registerCallCount(), 0u);
    EXPECT_EQ(preferences.launchAtLoginStatus(), Status::notRegistered);
    EXPECT_TRUE(capture.records("persistence").empty());
}

TEST_F(UserPreferencesTest, SettingTheScanIntervalWritesItUnclamped) {
    UserPreferences preferences;
    Watch watch(Keys::scanInterval, preferences.observeScanInterval([&](const double& value) {
        ++watch.changes;
        EXPECT_EQ(value, 20.0);
    }));

    preferences.setScanInterval(20);

    EXPECT_EQ(preferences.scanInterval(), 20.0);
    EXPECT_EQ(stored(Keys::scanInterval), cf::Value(20.0));
    EXPECT_EQ(stored(Keys::scanInterval)->kind(), cf::Value::Kind::real);
    EXPECT_EQ(watch.changes, 1);
    EXPECT_EQ(watch.written, (std::vector<std::optional<cf::Value>>{cf::Value(20.0)}));
}

namespace {

// One setting reached through the object's accessors, so that every setting runs the same cases.
struct Setting {
    const char* name;
    const char* key;
    bool (UserPreferences::*read)() const;
    void (UserPreferences::*set)(bool);
    void (UserPreferences::*modify)(const std::function<void(bool&)>&);
    observation::ObservationToken (UserPreferences::*observe)(std::function<void(const bool&)>) const;
};

void PrintTo(const Setting& s, std::ostream* os) { *os << s.name; }

const Setting flags[] = {
    {"launchAtLogin", Keys::launchAtLogin, &UserPreferences::launchAtLogin, &UserPreferences::setLaunchAtLogin,
     &UserPreferences::modifyLaunchAtLogin, &UserPreferences::observeLaunchAtLogin},
    {"hasCompletedOnboarding", Keys::hasCompletedOnboarding, &UserPreferences::hasCompletedOnboarding,
     &UserPreferences::setHasCompletedOnboarding, &UserPreferences::modifyHasCompletedOnboarding,
     &UserPreferences::observeHasCompletedOnboarding},
    {"globalHotkeyEnabled", Keys::globalHotkeyEnabled, &UserPreferences::globalHotkeyEnabled,
     &UserPreferences::setGlobalHotkeyEnabled, &UserPreferences::modifyGlobalHotkeyEnabled,
     &UserPreferences::observeGlobalHotkeyEnabled},
};

class SettingAFlag : public UserPreferencesTest, public ::testing::WithParamInterface<Setting> {
protected:
    UserPreferences preferences;
    const Setting& s = GetParam();
    Watch watch{s.key, (preferences.*s.observe)([this](const bool&) { ++watch.changes; })};
};

std::vector<std::optional<cf::Value>> writes(std::initializer_list<bool> values) {
    std::vector<std::optional<cf::Value>> out;
    for (bool v : values) out.emplace_back(cf::Value(v));
    return out;
}

}  // namespace

TEST_P(SettingAFlag, WritesEveryChangeAtOnce) {
    bool initial = (preferences.*s.read)();
    (preferences.*s.set)(!initial);
    EXPECT_EQ((preferences.*s.read)(), !initial);
    EXPECT_EQ(stored(s.key), cf::Value(!initial));
    (preferences.*s.set)(initial);
    EXPECT_EQ(watch.written, writes({!initial, initial}));
    EXPECT_EQ(watch.changes, 2);
}

TEST_P(SettingAFlag, AnEqualSetWritesAgainWithoutNotifying) {
    bool initial = (preferences.*s.read)();
    (preferences.*s.set)(initial);
    (preferences.*s.set)(initial);
    EXPECT_EQ(watch.changes, 0);
    EXPECT_EQ(watch.written, writes({initial, initial}));
}

TEST_P(SettingAFlag, AChangeInPlaceAlwaysNotifiesAndWrites) {
    bool initial = (preferences.*s.read)();
    (preferences.*s.modify)([](bool& value) { value = !value; });
    EXPECT_EQ((preferences.*s.read)(), !initial);
    (preferences.*s.modify)([](bool&) {});
    EXPECT_EQ(watch.changes, 2);
    auto expected = writes({!initial, !initial});
    // Registering the login item again is refused as already done; the key is then written again
    // with what the login item is.
    if (std::string(s.name) == "launchAtLogin" && !initial) expected.push_back(expected.back());
    EXPECT_EQ(watch.written, expected);
}

TEST_P(SettingAFlag, ObservationTrackingSeesTheNextChange) {
    int fired = 0;
    observation::withObservationTracking([&] { (void)(preferences.*s.read)(); }, [&] { ++fired; });
    bool initial = (preferences.*s.read)();
    (preferences.*s.set)(initial);
    EXPECT_EQ(fired, 0);
    (preferences.*s.set)(!initial);
    (preferences.*s.set)(initial);
    EXPECT_EQ(fired, 1);
}

INSTANTIATE_TEST_SUITE_P(UserPreferences, SettingAFlag, ::testing::ValuesIn(flags),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserPreferencesTest, TheScanIntervalFollowsTheSameRules) {
    UserPreferences preferences;
    Watch watch(Keys::scanInterval, preferences.observeScanInterval([&](const double&) { ++watch.changes; }));

    preferences.setScanInterval(2.0);
    preferences.modifyScanInterval([](double& value) { value *= 1.5; });
    preferences.modifyScanInterval([](double&) {});
    preferences.setScanInterval(0.25);

    EXPECT_EQ(watch.changes, 3);
    EXPECT_EQ(watch.written,
              (std::vector<std::optional<cf::Value>>{cf::Value(2.0), cf::Value(3.0), cf::Value(3.0), cf::Value(0.25)}));
    EXPECT_EQ(preferences.scanInterval(), 0.25);
}

TEST_F(UserPreferencesTest, LaunchAtLoginRegistersAndUnregistersOnEverySet) {
    UserPreferences preferences;

    preferences.setLaunchAtLogin(true);
    EXPECT_EQ(preferences.launchAtLoginStatus(), Status::enabled);
    preferences.setLaunchAtLogin(true);
    preferences.setLaunchAtLogin(false);
    EXPECT_EQ(preferences.launchAtLoginStatus(), Status::notRegistered);
    preferences.modifyLaunchAtLogin([](bool& value) { value = !value; });

    EXPECT_EQ(loginItem().registerCallCount(), 3u);
    EXPECT_EQ(loginItem().unregisterCallCount(), 1u);
    // The second registration meets one already there, which the platform refuses; the setting
    // stays on, as the login item is.
    EXPECT_EQ(capture.texts("persistence", os::LogLevel::info),
              (std::vector<std::string>{"Registered launch-at-login", "Unregistered launch-at-login",
                                        "Registered launch-at-login"}));
    EXPECT_EQ(capture.texts("persistence", os::LogLevel::error),
              (std::vector<std::string>{"Failed to update launch-at-login: The login item is already registered"}));
    EXPECT_EQ(stored(Keys::launchAtLogin), cf::Value(true));
}

TEST_F(UserPreferencesTest, AFailedRegistrationIsLoggedAndTheSettingReturnsToTheLoginItemsStatus) {
    UserPreferences preferences;
    sm::AppService::Faults faults;
    faults.registerError = ns::Error(sm::AppService::serviceErrorDomain, 1, "Operation not permitted");
    loginItem().setFaults(faults);
    std::vector<bool> shown;
    auto token = preferences.observeLaunchAtLogin([&](const bool& value) { shown.push_back(value); });

    preferences.setLaunchAtLogin(true);

    EXPECT_FALSE(preferences.launchAtLogin());
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    EXPECT_EQ(stored(Keys::launchAtLogin), cf::Value(false));
    EXPECT_EQ(loginItem().registerCallCount(), 1u);
    EXPECT_EQ(preferences.launchAtLoginStatus(), Status::notRegistered);
    auto records = capture.records("persistence");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, os::LogLevel::error);
    EXPECT_EQ(records[0].text, "Failed to update launch-at-login: Operation not permitted");
}

TEST_F(UserPreferencesTest, AFailedUnregistrationIsLoggedAndTheSettingReturnsToTheLoginItemsStatus) {
    UserPreferences preferences;
    preferences.setLaunchAtLogin(true);
    sm::AppService::Faults faults;
    faults.unregisterError = ns::Error(sm::AppService::serviceErrorDomain, 2, "The entry is busy");
    loginItem().setFaults(faults);
    capture.clear();

    preferences.setLaunchAtLogin(false);

    EXPECT_TRUE(preferences.launchAtLogin());
    EXPECT_EQ(stored(Keys::launchAtLogin), cf::Value(true));
    EXPECT_EQ(preferences.launchAtLoginStatus(), Status::enabled);
    EXPECT_EQ(capture.texts("persistence", os::LogLevel::error),
              std::vector<std::string>{"Failed to update launch-at-login: The entry is busy"});
    EXPECT_TRUE(capture.texts("persistence", os::LogLevel::info).empty());
}

TEST_F(UserPreferencesTest, TheOtherSettingsNeverTouchTheLoginItem) {
    UserPreferences preferences;
    preferences.setScanInterval(5);
    preferences.setHasCompletedOnboarding(true);
    preferences.setGlobalHotkeyEnabled(false);
    EXPECT_EQ(loginItem().registerCallCount() + loginItem().unregisterCallCount(), 0u);
    EXPECT_TRUE(capture.records("persistence").empty());
}

TEST_F(UserPreferencesTest, AnObserverThatSetsTheSettingAgainLeavesTheDefaultsInStep) {
    UserPreferences preferences;
    // The interface refusing an interval below two seconds by setting it back.
    auto token = preferences.observeScanInterval([&](const double& value) {
        if (value < 2.0) preferences.setScanInterval(2.0);
    });
    preferences.setScanInterval(5);
    preferences.setScanInterval(1.5);
    EXPECT_EQ(preferences.scanInterval(), 2.0);
    EXPECT_EQ(stored(Keys::scanInterval), cf::Value(2.0));
}

TEST_F(UserPreferencesTest, ASettingThatCouldNotBeSavedIsLoggedOnceAndSavedWithTheNextChange) {
    const auto dir = std::filesystem::temp_directory_path() / ("stashbay-preferences-" + std::to_string(::getpid()));
    const auto file = dir / "app.stashbay.Stashbay" / "defaults.json";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(file.parent_path());
    ns::UserDefaults::resetStandard(file);
    auto& files = ns::FileManager::defaultManager();
    ns::FileFaults readOnly;
    readOnly.readOnlyFolders = {file.parent_path()};
    files.setFaults(readOnly);
    {
        UserPreferences preferences;
        preferences.setHasCompletedOnboarding(true);
        preferences.setScanInterval(3.0);
        EXPECT_TRUE(preferences.hasCompletedOnboarding());
        EXPECT_EQ(capture.texts("persistence", os::LogLevel::error),
                  std::vector<std::string>{"The user defaults file " + file.string() +
                                           " could not be saved (The file "
                                           "could not be saved \"" +
                                           file.string() +
                                           "\": Permission denied); the values stay in memory and are written at the "
                                           "next change"});

        files.setFaults({});
        preferences.setGlobalHotkeyEnabled(false);
    }
    // The next launch.
    ns::UserDefaults::resetStandard(file);
    UserPreferences relaunched;
    EXPECT_TRUE(relaunched.hasCompletedOnboarding());
    EXPECT_EQ(relaunched.scanInterval(), 3.0);
    EXPECT_FALSE(relaunched.globalHotkeyEnabled());
    ns::UserDefaults::resetStandard(std::nullopt);
    files.reset();
    std::filesystem::remove_all(dir);
}
