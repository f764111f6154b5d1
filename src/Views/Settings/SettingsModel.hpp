#pragma once

#include "App/AppState.hpp"
#include "Views/Settings/GeneralSettingsModel.hpp"
#include "Views/Settings/PermissionsSettingsModel.hpp"

#include <QString>

#include <memory>

namespace stashbay {

// The settings page: the back button, the General and Permissions sections and the version
// footer. Made anew each time the panel enters the settings mode, so each visit starts with a
// new update checker. Main executor only.
class SettingsModel {
public:
    static constexpr runtime::Duration backAnimationDuration = std::chrono::milliseconds(300);

    // The state gives the panel mode, the preferences and the permissions service.
    explicit SettingsModel(std::shared_ptr<AppState> state, UpdateCheckerConfiguration updates = {});

    // "Back".
    static QString backTitle();
    // "Stashbay v<version> (<build>)" from the main bundle, read at each call.
    static QString versionFooter();

    // Returns the panel to its normal content; nothing else.
    void back();

    GeneralSettingsModel& general() { return general_; }
    PermissionsSettingsModel& permissions() { return permissions_; }

private:
    std::shared_ptr<AppState> state_;
    GeneralSettingsModel general_;
    PermissionsSettingsModel permissions_;
};

}  // namespace stashbay
