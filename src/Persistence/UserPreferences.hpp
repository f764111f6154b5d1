#pragma once

#include "macos/Observation/Observation.hpp"
#include "macos/ServiceManagement/AppService.hpp"
#include "macos/os/Logger.hpp"

#include <functional>

namespace stashbay {

// The app's four settings, kept in the standard user defaults and observable by the interface.
// One instance lives for the whole process, used on the main executor.
//
// Reading a setting registers the reader with any observation tracking in progress. Setting one
// announces the change to observers only when the value differs, and then always writes the
// value to the user defaults at once (the scanner and the hotkey observer read the defaults
// directly); setting launchAtLogin also registers or unregisters the login item, every time.
// When that login-item step fails, the setting and its key return to the login item's actual
// status (on only when it is enabled). A modify call changes the value in place and is always announced.
class UserPreferences {
public:
    // The user-defaults keys of the whole app.
    struct Keys {
        static constexpr const char* launchAtLogin = "launchAtLogin";
        static constexpr const char* scanInterval = "scanInterval";
        static constexpr const char* hasCompletedOnboarding = "hasCompletedOnboarding";
        static constexpr const char* globalHotkeyEnabled = "globalHotkeyEnabled";
    };

    // Reads the four keys; writes nothing and leaves the login item alone. A stored scan
    // interval is held to 1 ... 10 seconds here, while the defaults keep what they hold.
    UserPreferences();
    UserPreferences(const UserPreferences&) = delete;
    UserPreferences& operator=(const UserPreferences&) = delete;

    bool launchAtLogin() const { return launchAtLogin_.get(); }
    void setLaunchAtLogin(bool value);
    void modifyLaunchAtLogin(const std::function<void(bool&)>& change);
    [[nodiscard]] observation::ObservationToken observeLaunchAtLogin(std::function<void(const bool&)> onChange) const {
        return launchAtLogin_.observe(std::move(onChange));
    }

    // Seconds the scanner waits between scans; a set is written as given, unclamped.
    double scanInterval() const { return scanInterval_.get(); }
    void setScanInterval(double value);
    void modifyScanInterval(const std::function<void(double&)>& change);
    [[nodiscard]] observation::ObservationToken observeScanInterval(std::function<void(const double&)> onChange) const {
        return scanInterval_.observe(std::move(onChange));
    }

    bool hasCompletedOnboarding() const { return hasCompletedOnboarding_.get(); }
    void setHasCompletedOnboarding(bool value);
    void modifyHasCompletedOnboarding(const std::function<void(bool&)>& change);
    [[nodiscard]] observation::ObservationToken observeHasCompletedOnboarding(
        std::function<void(const bool&)> onChange) const {
        return hasCompletedOnboarding_.observe(std::move(onChange));
    }

    bool globalHotkeyEnabled() const { return globalHotkeyEnabled_.get(); }
    void setGlobalHotkeyEnabled(bool value);
    void modifyGlobalHotkeyEnabled(const std::function<void(bool&)>& change);
    [[nodiscard]] observation::ObservationToken observeGlobalHotkeyEnabled(
        std::function<void(const bool&)> onChange) const {
        return globalHotkeyEnabled_.observe(std::move(onChange));
    }

    // The login item's status as the platform reports it now.
    sm::AppService::Status launchAtLoginStatus() const;

private:
    void writeLaunchAtLogin();
    void writeScanInterval();
    void writeHasCompletedOnboarding();
    void writeGlobalHotkeyEnabled();
    void updateLaunchAtLogin(bool enabled);

    const os::Logger& logger_;
    observation::Observable<bool> launchAtLogin_;
    observation::Observable<double> scanInterval_;
    observation::Observable<bool> hasCompletedOnboarding_;
    observation::Observable<bool> globalHotkeyEnabled_;
};

}  // namespace stashbay
