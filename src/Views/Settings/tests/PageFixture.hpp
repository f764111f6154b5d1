#pragma once

#include "App/tests/AppStateFixture.hpp"
#include "Persistence/UserPreferences.hpp"

#include <memory>

// The state as the panel's scene gives it to the settings page and the onboarding: with the
// preferences object beside it, read from the world's user defaults when the state is made.
class PageTest : public AppStateTest {
protected:
    std::shared_ptr<stashbay::AppState>& make() {
        AppStateTest::make();
        state->setPreferences(std::make_shared<stashbay::UserPreferences>());
        return state;
    }
};
