#pragma once

#include "macos/Observation/Observation.hpp"
#include "stashbay/runtime/Task.hpp"
#include "stashbay/runtime/Time.hpp"

#include <functional>
#include <memory>
#include <string>

namespace stashbay {

// Knows whether the app holds Accessibility and Screen Recording: reads both when created, again
// on request and on a repeating timer, and publishes them for the interface. It also asks the
// system for each permission and opens the matching System Settings pane, trying the legacy
// address when the current one does not open.
//
// Main executor only. It lives in a std::shared_ptr held by its owner: the polling loop holds it
// weakly, and ends when it is destroyed. Only create() makes one, so no other ownership exists.
class PermissionsManager : public std::enable_shared_from_this<PermissionsManager> {
public:
    // Seconds between two checks while the onboarding is shown, and otherwise.
    static constexpr double fastPollingInterval = 2.0;
    static constexpr double normalPollingInterval = 30.0;

    // Reads both permissions once, logging each one that is granted.
    static std::shared_ptr<PermissionsManager> create();
    // Cancels the polling loop.
    ~PermissionsManager();
    PermissionsManager(const PermissionsManager&) = delete;
    PermissionsManager& operator=(const PermissionsManager&) = delete;

    // As last read. Reading one registers the reader with any observation tracking in progress;
    // observers hear of a change only when the value differs.
    bool accessibilityGranted() const { return accessibilityGranted_.get(); }
    bool screenRecordingGranted() const { return screenRecordingGranted_.get(); }
    bool allPermissionsGranted() const { return accessibilityGranted() && screenRecordingGranted(); }
    [[nodiscard]] observation::ObservationToken observeAccessibilityGranted(
        std::function<void(const bool&)> onChange) const {
        return accessibilityGranted_.observe(std::move(onChange));
    }
    [[nodiscard]] observation::ObservationToken observeScreenRecordingGranted(
        std::function<void(const bool&)> onChange) const {
        return screenRecordingGranted_.observe(std::move(onChange));
    }

    // Re-reads both permissions and logs each change.
    void checkPermissions();
    // (Re)starts polling: a check now, then one every fast or normal interval.
    void startPolling(bool fast);
    void stopPolling();
    // Asks the system to prompt for Accessibility, then re-reads.
    void requestAccessibility();
    // Asks the system for Screen Recording, then re-reads.
    void requestScreenRecording();
    void openAccessibilitySettings();
    void openScreenRecordingSettings();

private:
    PermissionsManager();

    void openSystemSettings(const std::string& primary, const std::string& fallback);
    static runtime::Task<void> poll(std::weak_ptr<PermissionsManager> weakSelf, runtime::Duration interval);

    observation::Observable<bool> accessibilityGranted_{false};
    observation::Observable<bool> screenRecordingGranted_{false};
    runtime::TaskHandle<void> pollingTask_;
};

}  // namespace stashbay
