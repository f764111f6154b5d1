#include "Persistence/UserPreferences.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/Foundation/UserDefaults.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

namespace stashbay {

namespace {

constexpr double defaultScanInterval = 2.0;
constexpr double minimumScanInterval = 1.0;
constexpr double maximumScanInterval = 10.0;

// The user defaults' own readings, with a default for a key that holds nothing.
bool stashbayBool(const ns::UserDefaults& defaults, const std::string& key, bool fallback) {
    if (!defaults.object(key)) return fallback;
    return defaults.boolForKey(key);
}

double stashbayDouble(const ns::UserDefaults& defaults, const std::string& key, double fallback) {
    if (!defaults.object(key)) return fallback;
    return defaults.doubleForKey(key);
}

template <class T>
T clamped(T value, T lower, T upper) {
    return std::min(std::max(value, lower), upper);
}

double loadScanInterval(const ns::UserDefaults& defaults) {
    double stored = stashbayDouble(defaults, UserPreferences::Keys::scanInterval, defaultScanInterval);
    // Not a number has no place in the range; read it as if nothing were stored.
    if (std::isnan(stored)) return defaultScanInterval;
    return clamped(stored, minimumScanInterval, maximumScanInterval);
}

}  // namespace

UserPreferences::UserPreferences()
    : logger_(log::persistence()),
      launchAtLogin_(ns::UserDefaults::standard().boolForKey(Keys::launchAtLogin)),
      scanInterval_(loadScanInterval(ns::UserDefaults::standard())),
      hasCompletedOnboarding_(ns::UserDefaults::standard().boolForKey(Keys::hasCompletedOnboarding)),
      globalHotkeyEnabled_(stashbayBool(ns::UserDefaults::standard(), Keys::globalHotkeyEnabled, true)) {}

void UserPreferences::setLaunchAtLogin(bool value) {
    launchAtLogin_.set(value);
    writeLaunchAtLogin();
}

void UserPreferences::modifyLaunchAtLogin(const std::function<void(bool&)>& change) {
    launchAtLogin_.modify(change);
    writeLaunchAtLogin();
}

void UserPreferences::setScanInterval(double value) {
    scanInterval_.set(value);
    writeScanInterval();
}

void UserPreferences::modifyScanInterval(const std::function<void(double&)>& change) {
    scanInterval_.modify(change);
    writeScanInterval();
}

void UserPreferences::setHasCompletedOnboarding(bool value) {
    hasCompletedOnboarding_.set(value);
    writeHasCompletedOnboarding();
}

void UserPreferences::modifyHasCompletedOnboarding(const std::function<void(bool&)>& change) {
    hasCompletedOnboarding_.modify(change);
    writeHasCompletedOnboarding();
}

void UserPreferences::setGlobalHotkeyEnabled(bool value) {
    globalHotkeyEnabled_.set(value);
    writeGlobalHotkeyEnabled();
}

void UserPreferences::modifyGlobalHotkeyEnabled(const std::function<void(bool&)>& change) {
    globalHotkeyEnabled_.modify(change);
    writeGlobalHotkeyEnabled();
}

sm::AppService::Status UserPreferences::launchAtLoginStatus() const { return sm::AppService::mainApp().status(); }

// The write-backs read the property after the change, observers included, so that the user
// defaults end up holding what the property holds even when an observer sets it again.
void UserPreferences::writeLaunchAtLogin() {
    bool value = launchAtLogin_.get();
    ns::UserDefaults::standard().set(cf::Value(value), Keys::launchAtLogin);
    updateLaunchAtLogin(value);
}

void UserPreferences::writeScanInterval() {
    ns::UserDefaults::standard().set(cf::Value(scanInterval_.get()), Keys::scanInterval);
}

void UserPreferences::writeHasCompletedOnboarding() {
    ns::UserDefaults::standard().set(cf::Value(hasCompletedOnboarding_.get()), Keys::hasCompletedOnboarding);
}

void UserPreferences::writeGlobalHotkeyEnabled() {
    ns::UserDefaults::standard().set(cf::Value(globalHotkeyEnabled_.get()), Keys::globalHotkeyEnabled);
}

// A failure is logged, and then the setting and its key return to what the login item really is,
// so that the switch never shows a change the system refused.
void UserPreferences::updateLaunchAtLogin(bool enabled) {
    auto& service = sm::AppService::mainApp();
    try {
        if (enabled) {
            service.registerService();
            logger_.info("Registered launch-at-login");
        } else {
            service.unregisterService();
            logger_.info("Unregistered launch-at-login");
        }
    } catch (const std::exception& error) {
        logger_.error("Failed to update launch-at-login: %@", error);
        bool actual = service.status() == sm::AppService::Status::enabled;
        // Set without a new login-item step: only the record of the wanted state changes.
        launchAtLogin_.set(actual);
        ns::UserDefaults::standard().set(cf::Value(launchAtLogin_.get()), Keys::launchAtLogin);
    }
}

}  // namespace stashbay
