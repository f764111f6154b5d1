#include "Services/PermissionsManager.hpp"

#include "System/AccessibilityBridge.hpp"
#include "System/WindowListBridge.hpp"
#include "Utilities/LoggerExtensions.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/Foundation/URL.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Sleep.hpp"

namespace stashbay {

namespace {

constexpr const char* accessibilitySettingsURL =
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility";
constexpr const char* legacyAccessibilitySettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
constexpr const char* screenRecordingSettingsURL =
    "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_ScreenCapture";
constexpr const char* legacyScreenRecordingSettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

const char* grantText(bool granted) { return granted ? "granted" : "denied"; }

}  // namespace

// The constructor is private: the weak references that the service hands its tasks need a
// std::shared_ptr owner from the start.
std::shared_ptr<PermissionsManager> PermissionsManager::create() {
    return std::shared_ptr<PermissionsManager>(new PermissionsManager());
}

PermissionsManager::PermissionsManager() { checkPermissions(); }

PermissionsManager::~PermissionsManager() { pollingTask_.cancel(); }

void PermissionsManager::checkPermissions() {
    runtime::assertMainExecutor("PermissionsManager.checkPermissions");
    bool wasAccessibilityGranted = accessibilityGranted_.get();
    bool wasScreenRecordingGranted = screenRecordingGranted_.get();
    accessibilityGranted_.set(AccessibilityBridge::isAccessibilityGranted());
    screenRecordingGranted_.set(WindowListBridge::isScreenRecordingGranted());

    const auto& logger = log::permissions();
    if (accessibilityGranted_.get() != wasAccessibilityGranted)
        logger.info("Accessibility permission changed: %s", grantText(accessibilityGranted_.get()));
    if (screenRecordingGranted_.get() != wasScreenRecordingGranted)
        logger.info("Screen Recording permission changed: %s", grantText(screenRecordingGranted_.get()));
}

void PermissionsManager::startPolling(bool fast) {
    runtime::assertMainExecutor("PermissionsManager.startPolling");
    stopPolling();
    double interval = fast ? fastPollingInterval : normalPollingInterval;
    log::permissions().debug("Starting permission polling (interval=%fs, fast=%{bool}d).", interval, fast);
    checkPermissions();
    pollingTask_ =
        runtime::spawn(runtime::mainExecutor(), poll(weak_from_this(), runtime::durationFromSeconds(interval)));
}

void PermissionsManager::stopPolling() {
    runtime::assertMainExecutor("PermissionsManager.stopPolling");
    if (pollingTask_) {
        pollingTask_.cancel();
        pollingTask_ = {};
    }
    log::permissions().debug("Permission polling stopped.");
}

runtime::Task<void> PermissionsManager::poll(std::weak_ptr<PermissionsManager> weakSelf, runtime::Duration interval) {
    while (!runtime::isCancelled()) {
        // A cancelled sleep returns early; the check below ends the loop then.
        co_await runtime::sleepFor(interval);
        if (runtime::isCancelled()) co_return;
        // Nobody reads the result once the service is gone, so polling ends with it.
        auto self = weakSelf.lock();
        if (!self) co_return;
        self->checkPermissions();
    }
}

void PermissionsManager::requestAccessibility() {
    runtime::assertMainExecutor("PermissionsManager.requestAccessibility");
    log::permissions().info("Requesting Accessibility permission (will prompt user).");
    AccessibilityBridge::requestAccessibility(true);
    checkPermissions();
}

void PermissionsManager::requestScreenRecording() {
    runtime::assertMainExecutor("PermissionsManager.requestScreenRecording");
    log::permissions().info("Requesting Screen Recording permission.");
    WindowListBridge::requestScreenRecording();
    checkPermissions();
}

void PermissionsManager::openAccessibilitySettings() {
    openSystemSettings(accessibilitySettingsURL, legacyAccessibilitySettingsURL);
}

void PermissionsManager::openScreenRecordingSettings() {
    openSystemSettings(screenRecordingSettingsURL, legacyScreenRecordingSettingsURL);
}

void PermissionsManager::openSystemSettings(const std::string& primary, const std::string& fallback) {
    runtime::assertMainExecutor("PermissionsManager.openSystemSettings");
    auto url = ns::URL::fromString(primary);
    if (!url) {
        log::permissions().error("Invalid settings URL: '%{public}s'", primary);
        return;
    }
    // The handlers run wherever the platform calls them and touch nothing of the service.
    ns::Workspace::shared().open(
        *url, {}, [fallback](std::shared_ptr<ns::RunningApplication>, std::optional<ns::Error> error) {
            if (!error) return;
            auto fallbackURL = ns::URL::fromString(fallback);
            if (!fallbackURL) return;
            log::permissions().info("Primary URL failed, trying legacy URL");
            ns::Workspace::shared().open(
                *fallbackURL, {}, [](std::shared_ptr<ns::RunningApplication>, std::optional<ns::Error> error) {
                    if (error)
                        log::permissions().error("Failed to open settings: %{public}s", error->localizedDescription());
                });
        });
}

}  // namespace stashbay
