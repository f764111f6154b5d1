#include "Views/Onboarding/OnboardingModel.hpp"

#include "Views/StashbayPanel/Palette.hpp"
#include "stashbay/runtime/EventLoop.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <QCoreApplication>

namespace stashbay {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("OnboardingView", text); }

QColor green() { return QColor(52, 199, 89); }

runtime::Instant currentInstant() { return runtime::EventLoop::currentOrNull() ? runtime::now() : runtime::Instant{}; }

}  // namespace

std::optional<OnboardingModel::OnboardingStep> OnboardingModel::stepFromRawValue(int rawValue) {
    if (rawValue < 0 || rawValue > 3) return std::nullopt;
    return static_cast<OnboardingStep>(rawValue);
}

std::shared_ptr<OnboardingModel> OnboardingModel::create(std::shared_ptr<AppState> state) {
    std::shared_ptr<OnboardingModel> model(new OnboardingModel(std::move(state)));
    std::weak_ptr<OnboardingModel> weak = model;
    // The automatic advance: only a flag turning true while its own step is shown moves on.
    model->accessibilityToken_ = model->permissions_->observeAccessibilityGranted([weak](const bool& granted) {
        if (auto self = weak.lock()) self->flagChanged(Flag::accessibility, granted);
    });
    model->screenRecordingToken_ = model->permissions_->observeScreenRecordingGranted([weak](const bool& granted) {
        if (auto self = weak.lock()) self->flagChanged(Flag::screenRecording, granted);
    });
    return model;
}

OnboardingModel::OnboardingModel(std::shared_ptr<AppState> state)
    : state_(std::move(state)), permissions_(state_->permissions()) {}

void OnboardingModel::flagChanged(Flag flag, bool granted) {
    if (actionDepth_ > 0) {
        pendingChanges_.push_back({flag, granted});
        return;
    }
    advance(flag, granted);
}

void OnboardingModel::advance(Flag flag, bool granted) {
    if (!granted) return;
    if (flag == Flag::accessibility && step() == OnboardingStep::accessibility)
        setStep(OnboardingStep::screenRecording);
    else if (flag == Flag::screenRecording && step() == OnboardingStep::screenRecording)
        setStep(OnboardingStep::complete);
}

void OnboardingModel::runAction(const std::function<void()>& action) {
    // The action may end the page (the completion), and with it the panel's hold on this model.
    const auto keep = shared_from_this();
    ++actionDepth_;
    action();
    if (--actionDepth_ > 0) return;
    // The change handlers look at the step as the action left it.
    auto pending = std::move(pendingChanges_);
    pendingChanges_.clear();
    for (const auto& change : pending) advance(change.flag, change.granted);
}

void OnboardingModel::setStep(OnboardingStep step) {
    if (step != step_.get()) {
        stepChangedAt_ = currentInstant();
        previousStep_ = step_.get();
    }
    step_.set(step);
}

std::array<OnboardingModel::Dot, 4> OnboardingModel::dots() const { return dots(step()); }

std::array<OnboardingModel::Dot, 4> OnboardingModel::dots(OnboardingStep step) {
    std::array<Dot, 4> dots{};
    const auto current = static_cast<int>(step);
    for (std::size_t index = 0; index < allSteps.size(); ++index) {
        const auto dotStep = allSteps[index];
        const auto raw = static_cast<int>(dotStep);
        dots[index] = {dotStep, raw <= current, raw == current ? currentDotScale : 1.0};
    }
    return dots;
}

OnboardingModel::StatusRow OnboardingModel::permissionStatusRow(bool granted, const QString& label) {
    if (granted) return {"checkmark.circle.fill", green(), tr("%1 granted").arg(label)};
    return {"exclamationmark.triangle.fill", palette::orange(),
            tr("%1 not verified \u2014 Stashbay will warn you if it can't detect icons").arg(label)};
}

QString OnboardingModel::waitingText() { return tr("Waiting for permission..."); }

OnboardingModel::StepContent OnboardingModel::content() const {
    StepContent content;
    switch (step()) {
        case OnboardingStep::welcome:
            content.symbol = "rectangle.grid.3x2";
            content.symbolColor = palette::accent();
            content.title = tr("Welcome to Stashbay");
            content.body = tr("See and organize all your menu bar icons, even the ones hidden behind the notch.");
            content.primaryButton = tr("Get Started");
            break;
        case OnboardingStep::accessibility:
            content.symbol = "hand.raised.fill";
            content.symbolColor = palette::accent();
            content.title = tr("Accessibility Access");
            content.body =
                tr("Stashbay needs Accessibility access to read and interact with other apps' menu bar icons.");
            content.primaryButton = tr("Open System Settings");
            content.showsWaiting = true;
            content.secondaryButton = tr("I've already granted this");
            break;
        case OnboardingStep::screenRecording:
            content.statusRows.push_back(
                permissionStatusRow(permissions_->accessibilityGranted(), tr("Accessibility")));
            content.symbol = "rectangle.dashed.badge.record";
            content.symbolColor = palette::accent();
            content.title = tr("Screen Recording Access");
            content.body =
                tr("Stashbay needs Screen Recording access to detect the positions and appearance of menu bar icons.");
            content.primaryButton = tr("Open System Settings");
            content.showsWaiting = true;
            content.secondaryButton = tr("I've already granted this");
            break;
        case OnboardingStep::complete:
            content.statusRows.push_back(
                permissionStatusRow(permissions_->accessibilityGranted(), tr("Accessibility")));
            content.statusRows.push_back(
                permissionStatusRow(permissions_->screenRecordingGranted(), tr("Screen Recording")));
            content.symbol = "checkmark.circle.fill";
            content.symbolColor = green();
            content.title = tr("All Set!");
            content.body = tr("Stashbay is ready to manage your menu bar icons.");
            content.primaryButton = tr("Start Using Stashbay");
            break;
    }
    return content;
}

void OnboardingModel::appear() {
    runAction([this] { appearNow(); });
}

void OnboardingModel::appearNow() {
    permissions_->startPolling(true);
    // The current step is not consulted: only Accessibility granted means the Screen Recording
    // step, even from the complete step.
    if (permissions_->accessibilityGranted() && permissions_->screenRecordingGranted())
        setStep(OnboardingStep::complete);
    else if (permissions_->accessibilityGranted())
        setStep(OnboardingStep::screenRecording);
}

void OnboardingModel::disappear() { permissions_->startPolling(false); }

void OnboardingModel::pressPrimary() {
    runAction([this] { pressPrimaryNow(); });
}

void OnboardingModel::pressPrimaryNow() {
    switch (step()) {
        case OnboardingStep::welcome: setStep(OnboardingStep::accessibility); break;
        case OnboardingStep::accessibility:
            permissions_->requestAccessibility();
            permissions_->openAccessibilitySettings();
            break;
        case OnboardingStep::screenRecording:
            permissions_->requestScreenRecording();
            permissions_->openScreenRecordingSettings();
            break;
        case OnboardingStep::complete: complete(); break;
    }
}

void OnboardingModel::pressAlreadyGranted() {
    runAction([this] { pressAlreadyGrantedNow(); });
}

// The flags' change handlers run after the action, so a check that finds the step's permission
// newly granted still moves the flow on one step only.
void OnboardingModel::pressAlreadyGrantedNow() {
    const auto from = step();
    if (from != OnboardingStep::accessibility && from != OnboardingStep::screenRecording) return;
    const auto next =
        from == OnboardingStep::accessibility ? OnboardingStep::screenRecording : OnboardingStep::complete;
    permissions_->checkPermissions();
    setStep(next);
}

void OnboardingModel::complete() {
    state_->preferences()->setHasCompletedOnboarding(true);
    state_->setPanelMode(AppState::PanelMode::normal);
    (void)runtime::spawn(runtime::mainExecutor(), start(state_));
}

runtime::Task<void> OnboardingModel::start(std::shared_ptr<AppState> state) {
    auto starting = state->startAfterOnboarding();
    co_await starting;
}

}  // namespace stashbay
