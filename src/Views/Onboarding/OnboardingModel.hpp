#pragma once

#include "App/AppState.hpp"
#include "macos/Observation/Observation.hpp"
#include "stashbay/runtime/Time.hpp"

#include <QColor>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace stashbay {

// The first-run onboarding: four steps under four progress dots. It moves on by itself when the
// shown step's permission becomes granted, skips granted steps each time it comes on screen,
// keeps the permissions polled every 2 seconds while shown and every 30 seconds after, and at
// the end marks the onboarding done, returns the panel to normal and starts the state.
// Main executor only; made through create(), since its observers hold it weakly.
class OnboardingModel : public std::enable_shared_from_this<OnboardingModel> {
public:
    enum class OnboardingStep { welcome = 0, accessibility = 1, screenRecording = 2, complete = 3 };
    static constexpr std::array<OnboardingStep, 4> allSteps{OnboardingStep::welcome, OnboardingStep::accessibility,
                                                            OnboardingStep::screenRecording, OnboardingStep::complete};
    static constexpr runtime::Duration stepAnimationDuration = std::chrono::milliseconds(300);
    // Sizes, in points.
    static constexpr double width = 300;
    static constexpr double minimumHeight = 280;
    static constexpr double dotSize = 6;
    static constexpr double dotSpacing = 8;
    static constexpr double currentDotScale = 1.3;
    static constexpr double textWidth = 260;

    // The step of a raw value; none outside 0 ... 3.
    static std::optional<OnboardingStep> stepFromRawValue(int rawValue);

    struct Dot {
        OnboardingStep step;
        // Indigo for the steps passed and the current one; faint for those ahead.
        bool reached;
        double scale;
    };
    // The status row of one permission on the Screen Recording and complete steps.
    struct StatusRow {
        std::string_view symbol;
        QColor symbolColor;
        QString text;
    };
    // What a step shows, top to bottom.
    struct StepContent {
        // Status rows above the symbol: Accessibility on the Screen Recording step, both on the
        // complete step.
        std::vector<StatusRow> statusRows;
        std::string_view symbol;
        QColor symbolColor;
        QString title;
        QString body;
        // The prominent button.
        QString primaryButton;
        // The waiting indicator and "I've already granted this" on the permission steps.
        bool showsWaiting = false;
        QString secondaryButton;
    };

    static std::shared_ptr<OnboardingModel> create(std::shared_ptr<AppState> state);
    OnboardingModel(const OnboardingModel&) = delete;
    OnboardingModel& operator=(const OnboardingModel&) = delete;

    OnboardingStep step() const { return step_.get(); }
    [[nodiscard]] observation::ObservationToken observeStep(std::function<void(const OnboardingStep&)> onChange) const {
        return step_.observe(std::move(onChange));
    }
    // The permissions service, whose flags the status rows show.
    PermissionsManager& permissions() const { return *permissions_; }
    // When the step last changed, for the animation of the step and the dots.
    runtime::Instant stepChangedAt() const { return stepChangedAt_; }

    std::array<Dot, 4> dots() const;
    static std::array<Dot, 4> dots(OnboardingStep step);
    // The step before the last change, which the dots animate from.
    OnboardingStep previousStep() const { return previousStep_; }
    static StatusRow permissionStatusRow(bool granted, const QString& label);
    StepContent content() const;
    static QString waitingText();

    // The view comes on screen: fast polling, then the granted steps skipped.
    void appear();
    // The view goes: slow polling.
    void disappear();
    // The step's prominent button: "Get Started", "Open System Settings" or "Start Using Stashbay".
    void pressPrimary();
    // "I've already granted this": a check, then the next step whatever it found.
    void pressAlreadyGranted();

private:
    enum class Flag { accessibility, screenRecording };
    struct FlagChange {
        Flag flag;
        bool granted;
    };

    explicit OnboardingModel(std::shared_ptr<AppState> state);
    // A flag's change handler: run at once, or after the action that is running.
    void flagChanged(Flag flag, bool granted);
    void advance(Flag flag, bool granted);
    // Runs a handler or button action; the flags' changes that it makes are handled after it.
    void runAction(const std::function<void()>& action);
    void appearNow();
    void pressPrimaryNow();
    void pressAlreadyGrantedNow();
    void setStep(OnboardingStep step);
    void complete();
    static runtime::Task<void> start(std::shared_ptr<AppState> state);

    std::shared_ptr<AppState> state_;
    std::shared_ptr<PermissionsManager> permissions_;
    observation::Observable<OnboardingStep> step_{OnboardingStep::welcome};
    runtime::Instant stepChangedAt_{};
    OnboardingStep previousStep_ = OnboardingStep::welcome;
    observation::ObservationToken accessibilityToken_;
    observation::ObservationToken screenRecordingToken_;
    int actionDepth_ = 0;
    std::vector<FlagChange> pendingChanges_;
};

}  // namespace stashbay
