#include "macos/sim/SystemSettings.hpp"

#include "macos/sim/World.hpp"

#include <algorithm>

namespace sim::systemSettings {

namespace {
// The launch services' status codes: no application for the address, and their unknown error,
// which a launch that fails gives.
constexpr long applicationNotFound = -10814;
constexpr long unknownError = -10810;
}  // namespace

const std::vector<std::string>& paneURLs() {
    static const std::vector<std::string> urls{
        "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility",
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility",
        "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_ScreenCapture",
        "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture",
    };
    return urls;
}

bool knows(const std::string& url) {
    const auto& urls = paneURLs();
    return std::find(urls.begin(), urls.end(), url) != urls.end();
}

bool isWebLink(const std::string& url) { return url.starts_with("https://") || url.starts_with("http://"); }

bool isSettingsAddress(const std::string& url) { return url.starts_with("x-apple.systempreferences:"); }

std::optional<PrivacyPane> paneOf(const std::string& url) {
    if (!knows(url)) return std::nullopt;
    return url.ends_with("Privacy_Accessibility") ? PrivacyPane::accessibility : PrivacyPane::screenRecording;
}

void setAllowed(World& world, PrivacyPane pane, bool allowed) {
    auto& permissions = world.permissions();
    (pane == PrivacyPane::accessibility ? permissions.accessibility : permissions.screenRecording) = allowed;
}

std::optional<OpenFailure> open(World& world, const std::string& url) {
    auto& permissions = world.permissions();
    if (isWebLink(url)) {
        permissions.openedWebURLs.push_back(url);
        return std::nullopt;
    }
    // System Settings takes every address of its scheme; one whose pane or anchor it does not
    // know still brings System Settings up, on whatever page it shows then.
    if (!isSettingsAddress(url))
        return OpenFailure{applicationNotFound, "There is no application set to open the URL " + url + "."};
    if (permissions.failingSettingsURLs.count(url))
        return OpenFailure{unknownError, "System Settings could not open the URL " + url + "."};
    permissions.openedSettingsURLs.push_back(url);
    return std::nullopt;
}

}  // namespace sim::systemSettings
