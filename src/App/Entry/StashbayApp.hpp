#pragma once

#include "App/AppDelegate.hpp"
#include "App/AppState.hpp"
#include "Persistence/UserPreferences.hpp"
#include "Updates/UpdateChecker.hpp"
#include "Views/StashbayPanel/StashbayPanelView.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "stashbay/runtime/Task.hpp"

#include <memory>
#include <vector>

namespace stashbay {

// The application description: the delegate, the one application state, the preferences and
// the start flag, and the only scene, a window-style menu-bar extra with the "MenuBarIcon" label
// whose content is the panel, sized by panelWidth() and started once by the start hook.
class StashbayApp {
public:
    // Builds the members in declaration order; starts nothing. The settings page's update checks
    // go where `updates` says (the maker's manifest by default).
    explicit StashbayApp(UpdateCheckerConfiguration updates = {});
    ~StashbayApp();
    StashbayApp(const StashbayApp&) = delete;
    StashbayApp& operator=(const StashbayApp&) = delete;

    // The process entry's runner: builds the description, installs the delegate, shows the scene
    // and finishes launching. The host's loop runs it from there.
    static std::unique_ptr<StashbayApp> launch(UpdateCheckerConfiguration updates = {});

    // The panel's width in points: 320 in the onboarding and settings modes; otherwise 200 for no
    // items, else what the tile row needs, 36 per item plus 102, raised to 200 and then lowered to
    // 600 (past that the row scrolls). The panel's own width also makes room for the whole loading
    // or empty line, within 600.
    double panelWidth() const;
    static double panelWidth(AppState::PanelMode mode, const std::vector<MenuBarSection>& sections);

    const std::shared_ptr<AppDelegate>& appDelegate() const { return appDelegate_; }
    const std::shared_ptr<AppState>& appState() const { return appState_; }
    const std::shared_ptr<UserPreferences>& preferences() const { return preferences_; }
    // The scene, once the body was evaluated.
    const std::shared_ptr<ns::MenuBarExtra>& scene() const { return scene_; }
    const std::shared_ptr<StashbayPanelView>& panelView() const { return panelView_; }

    // The scene declaration, evaluated once by the runner.
    void body();

private:
    class Content;
    static runtime::Task<void> startHook(std::shared_ptr<AppState> state, std::shared_ptr<UserPreferences> preferences,
                                         std::shared_ptr<bool> hasStarted);

    std::shared_ptr<AppDelegate> appDelegate_;
    std::shared_ptr<AppState> appState_;
    std::shared_ptr<UserPreferences> preferences_;
    std::shared_ptr<bool> hasStarted_;
    UpdateCheckerConfiguration updates_;
    std::shared_ptr<StashbayPanelView> panelView_;
    std::shared_ptr<ns::MenuBarExtra> scene_;
};

}  // namespace stashbay
