#pragma once

#include "App/AppState.hpp"
#include "Persistence/UserPreferences.hpp"
#include "Services/PermissionsManager.hpp"
#include "Views/Environment.hpp"
#include "macos/AppKit/Window.hpp"

#include <memory>
#include <optional>

namespace stashbay {

// The panel's root view. It reads the application state, the permissions service and the
// preferences from its environment by type and requires all three. Its tiles, banners,
// settings and onboarding come later; for now it shows the app's name, what the state is doing
// and how many items are hidden.
class StashbayPanelView final : public ns::View {
public:
    StashbayPanelView() = default;

    Environment& environment() { return environment_; }
    const Environment& environment() const { return environment_; }

    // What the panel shows, as text lines (the painted view draws these).
    std::vector<std::string> lines() const;
    bool hasAppeared() const { return hasAppeared_; }

    cg::Size fittingSize() const override;
    void viewDidAppear() override { hasAppeared_ = true; }
    void viewDidDisappear() override { hasAppeared_ = false; }
    void draw(QPainter& painter, cg::Size size) const override;

private:
    Environment environment_;
    bool hasAppeared_ = false;
    std::optional<int> focusedIndex_;
};

}  // namespace stashbay
