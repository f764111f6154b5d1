#include "Views/Onboarding/OnboardingModel.hpp"
#include "Views/Settings/tests/PageFixture.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/sim/SystemSettings.hpp"

#include <QCoreApplication>

using namespace stashbay;
using namespace std::chrono_literals;
using Step = OnboardingModel::OnboardingStep;
using sim::systemSettings::PrivacyPane;

namespace {

// The onboarding over a state made in the world; the tests play the panel's part of showing and
// removing the page.
class OnboardingTest : public PageTest {
protected:
    void show(bool accessibility, bool screenRecording) {
        world->permissions().accessibility = accessibility;
        world->permissions().screenRecording = screenRecording;
        make();
        state->setPanelMode(AppState::PanelMode::onboarding);
        model = OnboardingModel::create(state);
        model->appear();
    }
    void grant(PrivacyPane pane, bool allowed = true) { sim::systemSettings::setAllowed(*world, pane, allowed); }
    // The polling intervals announced, in order.
    std::vector<std::string> pollingStarts() const {
        std::vector<std::string> out;
        for (const auto& text : capture.texts("permissions"))
            if (text.rfind("Starting permission polling", 0) == 0) out.push_back(text);
        return out;
    }
    std::vector<bool> reachedDots() const {
        std::vector<bool> out;
        for (const auto& dot : model->dots()) out.push_back(dot.reached);
        return out;
    }
    std::vector<double> dotScales() const {
        std::vector<double> out;
        for (const auto& dot : model->dots()) out.push_back(dot.scale);
        return out;
    }

    std::shared_ptr<OnboardingModel> model;
};

}  // namespace

TEST_F(OnboardingTest, AFirstRunWalksFromWelcomeToCompleteAsThePersonGrantsInSystemSettingsThenStartsTheState) {
    show(false, false);
    EXPECT_EQ(model->step(), Step::welcome);
    EXPECT_EQ(reachedDots(), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(dotScales(), (std::vector<double>{1.3, 1.0, 1.0, 1.0}));
    EXPECT_EQ(model->content().primaryButton, "Get Started");

    model->pressPrimary();
    ASSERT_EQ(model->step(), Step::accessibility);
    EXPECT_TRUE(model->content().showsWaiting);
    model->pressPrimary();
    EXPECT_EQ(world->permissions().accessibilityPrompts, 1);
    loop.advance(100ms);
    EXPECT_EQ(world->permissions().openedSettingsURLs,
              std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility"});
    EXPECT_EQ(model->step(), Step::accessibility);

    // The person flips the switch in the pane; the next 2-second check moves the flow on.
    grant(PrivacyPane::accessibility);
    loop.advance(1800ms);
    EXPECT_EQ(model->step(), Step::accessibility);
    loop.advance(100ms);
    ASSERT_EQ(model->step(), Step::screenRecording);
    ASSERT_EQ(model->content().statusRows.size(), 1u);
    EXPECT_EQ(model->content().statusRows[0].text, "Accessibility granted");

    grant(PrivacyPane::screenRecording);
    loop.advance(2s);
    ASSERT_EQ(model->step(), Step::complete);
    EXPECT_EQ(reachedDots(), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(model->content().primaryButton, "Start Using Stashbay");
    EXPECT_FALSE(state->preferences()->hasCompletedOnboarding());

    model->pressPrimary();
    started = true;
    EXPECT_EQ(ns::UserDefaults::standard().object(UserPreferences::Keys::hasCompletedOnboarding), cf::Value(true));
    EXPECT_EQ(state->panelMode(), AppState::PanelMode::normal);
    model->disappear();
    EXPECT_FALSE(capture.contains("appState", os::LogLevel::info, "AppState starting after onboarding..."));
    loop.advance(10ms);
    EXPECT_TRUE(capture.contains("appState", os::LogLevel::info, "AppState started after onboarding"));
    loop.advance(1s);
    EXPECT_FALSE(state->sections().empty());

    // Polling: fast from the appearance, slow once the page has gone.
    auto starts = pollingStarts();
    ASSERT_GE(starts.size(), 2u);
    EXPECT_NE(starts.front().find("interval=2.0"), std::string::npos) << starts.front();
    EXPECT_NE(starts.back().find("interval=30.0"), std::string::npos) << starts.back();
    grant(PrivacyPane::accessibility, false);
    loop.advance(2s);
    EXPECT_TRUE(state->permissions()->accessibilityGranted());
    loop.advance(28s);
    EXPECT_FALSE(state->permissions()->accessibilityGranted());
}

TEST_F(OnboardingTest, EachAppearanceSkipsTheGrantedSteps) {
    struct Case {
        bool accessibility;
        bool screenRecording;
        Step expected;
        std::vector<bool> reached;
    };
    for (const auto& c : {Case{true, true, Step::complete, {true, true, true, true}},
                          Case{true, false, Step::screenRecording, {true, true, true, false}},
                          Case{false, true, Step::welcome, {true, false, false, false}}}) {
        SCOPED_TRACE(testing::Message() << c.accessibility << c.screenRecording);
        model.reset();
        reload();
        show(c.accessibility, c.screenRecording);
        EXPECT_EQ(model->step(), c.expected);
        EXPECT_EQ(reachedDots(), c.reached);
        EXPECT_EQ(model->dots()[static_cast<std::size_t>(c.expected)].scale, 1.3);
        model.reset();
    }
    // A later appearance with only Accessibility granted goes back from complete.
    model.reset();
    reload();
    show(true, true);
    grant(PrivacyPane::screenRecording, false);
    model->disappear();
    model->appear();
    EXPECT_EQ(model->step(), Step::screenRecording);
}

TEST_F(OnboardingTest, OnlyTheShownStepsOwnPermissionAdvancesAndGoingOnUnverifiedIsShown) {
    show(false, false);
    // Accessibility granted on the welcome step: no advance.
    grant(PrivacyPane::accessibility);
    loop.advance(2s);
    EXPECT_EQ(model->step(), Step::welcome);
    grant(PrivacyPane::accessibility, false);
    loop.advance(2s);
    model->pressPrimary();
    ASSERT_EQ(model->step(), Step::accessibility);

    // Screen Recording first: no advance; then Accessibility moves one step and stays there.
    grant(PrivacyPane::screenRecording);
    loop.advance(2s);
    EXPECT_EQ(model->step(), Step::accessibility);
    grant(PrivacyPane::accessibility);
    loop.advance(2s);
    EXPECT_EQ(model->step(), Step::screenRecording);
    loop.advance(10s);
    EXPECT_EQ(model->step(), Step::screenRecording);

    // A revoked permission never moves the step back.
    grant(PrivacyPane::accessibility, false);
    loop.advance(2s);
    EXPECT_EQ(model->step(), Step::screenRecording);
    ASSERT_EQ(model->content().statusRows.size(), 1u);
    EXPECT_EQ(model->content().statusRows[0].text,
              QString::fromUtf8("Accessibility not verified \u2014 Stashbay will warn you if it can't detect icons"));
    EXPECT_EQ(model->content().statusRows[0].symbol, "exclamationmark.triangle.fill");

    model->pressAlreadyGranted();
    EXPECT_EQ(model->step(), Step::complete);
}

TEST_F(OnboardingTest, IveAlreadyGrantedThisMovesOneStepAndAGrantItsCheckFindsCarriesTheFlowOn) {
    show(false, false);
    model->pressPrimary();
    // Granted in the world but not yet seen: the check finds it, and the flow moves once.
    grant(PrivacyPane::accessibility);
    grant(PrivacyPane::screenRecording);
    model->pressAlreadyGranted();
    EXPECT_EQ(model->step(), Step::complete);
    EXPECT_TRUE(state->permissions()->accessibilityGranted());

    model.reset();
    reload();
    show(false, false);
    model->pressPrimary();
    model->pressAlreadyGranted();
    EXPECT_EQ(model->step(), Step::screenRecording);
    EXPECT_EQ(model->content().statusRows[0].symbol, "exclamationmark.triangle.fill");
    // "Open System Settings" twice: two requests, two panes, the step stays.
    model->pressPrimary();
    model->pressPrimary();
    loop.advance(100ms);
    EXPECT_EQ(world->permissions().screenRecordingRequests, 2);
    EXPECT_EQ(world->permissions().openedSettingsURLs.size(), 2u);
    EXPECT_EQ(model->step(), Step::screenRecording);
}

TEST(OnboardingStepTest, RawValuesMakeOnlyTheFourSteps) {
    EXPECT_EQ(OnboardingModel::stepFromRawValue(0), Step::welcome);
    EXPECT_EQ(OnboardingModel::stepFromRawValue(3), Step::complete);
    EXPECT_FALSE(OnboardingModel::stepFromRawValue(4));
    EXPECT_FALSE(OnboardingModel::stepFromRawValue(-1));
}

TEST_F(OnboardingTest, StartUsingStashbayStoresTheFlagBeforeThePanelModeChanges) {
    show(true, true);
    ASSERT_EQ(model->step(), Step::complete);
    std::optional<std::optional<cf::Value>> storedWhenModeChanged;
    observation::withObservationTracking(
        [&] { (void)state->panelMode(); },
        [&] {
            storedWhenModeChanged = ns::UserDefaults::standard().object(UserPreferences::Keys::hasCompletedOnboarding);
        });
    model->pressPrimary();
    started = true;
    ASSERT_TRUE(storedWhenModeChanged) << "the panel mode did not change";
    EXPECT_EQ(*storedWhenModeChanged, cf::Value(true));
    EXPECT_EQ(state->panelMode(), AppState::PanelMode::normal);
}
