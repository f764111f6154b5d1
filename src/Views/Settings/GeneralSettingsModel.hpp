#pragma once

#include "Persistence/UserPreferences.hpp"
#include "Updates/UpdateChecker.hpp"

#include <QString>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace stashbay {

// The General section of the settings page: launch at login, the scan interval, the global
// hotkey and the on-demand update check. The three settings are the preferences' own values,
// assigned the moment a control changes; the section owns one update checker for as long as it
// is shown. Main executor only.
class GeneralSettingsModel {
public:
    struct IntervalSegment {
        QString title;
        double seconds;
    };
    // What the Updates row shows after the version text.
    struct UpdateContent {
        enum class Kind { checkButton, spinner, upToDate, updateAvailable, failed };
        Kind kind;
        // The button's title, "Up to date", "v<version> available" or the failure message.
        QString text;
        // "Download" beside an available version; empty otherwise.
        QString buttonTitle;
    };

    explicit GeneralSettingsModel(std::shared_ptr<UserPreferences> preferences,
                                  UpdateCheckerConfiguration updates = {});

    static QString title();
    // "Launch at Login", "Scan Interval", "Global Hotkey", "Updates".
    static std::array<QString, 4> rowLabels();
    // "1s", "2s", "5s", "10s" with their seconds.
    static const std::array<IntervalSegment, 4>& intervalSegments();
    // "Ctrl+Opt+M".
    static QString shortcutBadge();
    // "v" and the running version.
    static QString versionText();
    static UpdateContent updateContent(const UpdateChecker::State& state);

    bool launchAtLogin() const { return preferences_->launchAtLogin(); }
    void setLaunchAtLogin(bool on) { preferences_->setLaunchAtLogin(on); }
    // The segment whose value is the stored interval; none for any other interval.
    std::optional<std::size_t> selectedIntervalSegment() const;
    void chooseIntervalSegment(std::size_t index);
    bool globalHotkeyEnabled() const { return preferences_->globalHotkeyEnabled(); }
    void setGlobalHotkeyEnabled(bool on) { preferences_->setGlobalHotkeyEnabled(on); }

    UserPreferences& preferences() { return *preferences_; }
    const UpdateChecker& updateChecker() const { return *updateChecker_; }
    UpdateContent updateContent() const { return updateContent(updateChecker_->state()); }
    // "Check for Updates": starts one check in a task of its own and returns at once.
    void checkForUpdates();
    // "Download": asks the workspace to open the available version's link; the row stays.
    void download();

private:
    static runtime::Task<void> runCheck(std::shared_ptr<UpdateChecker> checker);

    std::shared_ptr<UserPreferences> preferences_;
    std::shared_ptr<UpdateChecker> updateChecker_;
};

}  // namespace stashbay
