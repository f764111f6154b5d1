#include "App/Entry/StashbayApp.hpp"

#include "App/MenuBarIcon.hpp"
#include "Views/Onboarding/OnboardingView.hpp"
#include "Views/Settings/SettingsView.hpp"
#include "macos/AppKit/Application.hpp"
#include "macos/Observation/Observation.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <algorithm>

namespace stashbay {

// The panel content with its modifiers: the frame of the panel's width with the content's own
// height, and the start hook's task, started when the content shows and cancelled when it goes.
class StashbayApp::Content final : public ns::View {
public:
    Content(StashbayApp& app, std::shared_ptr<StashbayPanelView> inner) : app_(app), inner_(std::move(inner)) {}

    void setScene(std::weak_ptr<ns::MenuBarExtra> scene) { scene_ = std::move(scene); }

    cg::Size fittingSize() const override {
        // Evaluated under observation, so that a change of the mode or the sections sizes the
        // panel again.
        return observation::withObservationTracking(
            [this] {
                return cg::Size{app_.panelWidth(), inner_->fittingSize().height};
            },
            [scene = scene_] {
                runtime::mainExecutor().enqueue(nullptr, [scene] {
                    if (auto s = scene.lock(); s && s->isPresented()) s->contentSizeChanged();
                });
            });
    }
    void viewDidAppear() override {
        inner_->viewDidAppear();
        // Shown is drawn: the window asks for its first paint, and the hook's task begins at the
        // loop's next timer turn, which a host holds for that paint. So the first opening paints
        // before the start scans and captures the icons.
        setNeedsDisplay();
        if (!task_ || task_.isFinished())
            task_ = runtime::spawn(runtime::mainExecutor(),
                                   onceShown(startHook(app_.appState_, app_.preferences_, app_.hasStarted_)));
    }
    void viewDidDisappear() override {
        if (task_ && !task_.isFinished()) task_.cancel();
        inner_->viewDidDisappear();
    }
    void viewDidMoveToWindow() override { inner_->moveToWindow(window()); }
    void mouseDown(cg::Point location) override { inner_->mouseDown(location); }
    void rightMouseDown(cg::Point location) override { inner_->rightMouseDown(location); }
    void keyDown(const ns::Event& event) override { inner_->keyDown(event); }
    void mouseMoved(cg::Point location) override { inner_->mouseMoved(location); }
    void mouseExited() override { inner_->mouseExited(); }
    void scrollWheel(const ns::Event& event, cg::Point location) override { inner_->scrollWheel(event, location); }
    std::optional<std::string> toolTip(cg::Point location) const override { return inner_->toolTip(location); }
    void draw(QPainter& painter, cg::Size size) const override { inner_->draw(painter, size); }

private:
    // A content that goes before its paint was shown all the same: the hook runs then, cancelled.
    static runtime::Task<void> onceShown(runtime::Task<void> action) {
        auto painted = runtime::sleepFor(runtime::Duration::zero());
        co_await painted;
        co_await action;
    }

    StashbayApp& app_;
    std::shared_ptr<StashbayPanelView> inner_;
    std::weak_ptr<ns::MenuBarExtra> scene_;
    runtime::TaskHandle<void> task_;
};

StashbayApp::StashbayApp(UpdateCheckerConfiguration updates)
    : appDelegate_(std::make_shared<AppDelegate>()),
      appState_(AppState::create()),
      preferences_(std::make_shared<UserPreferences>()),
      hasStarted_(std::make_shared<bool>(false)),
      updates_(std::move(updates)) {}

StashbayApp::~StashbayApp() = default;

std::unique_ptr<StashbayApp> StashbayApp::launch(UpdateCheckerConfiguration updates) {
    auto app = std::make_unique<StashbayApp>(std::move(updates));
    auto& application = ns::Application::shared();
    application.setDelegate(app->appDelegate_);
    app->body();
    application.finishLaunching();
    return app;
}

void StashbayApp::body() {
    registerMenuBarIcon();
    panelView_ = std::make_shared<StashbayPanelView>();
    auto& environment = panelView_->environment();
    environment.setObject(appState_);
    environment.setObject(appState_->permissions());
    environment.setObject(preferences_);
    // The onboarding and the settings page, built anew each time the panel enters their mode.
    panelView_->setModeContentFactory(
        [state = appState_, updates = updates_](AppState::PanelMode mode, QWidget* parent) -> QWidget* {
            if (mode == AppState::PanelMode::settings)
                return new SettingsView(std::make_unique<SettingsModel>(state, updates), parent);
            if (mode == AppState::PanelMode::onboarding)
                return new OnboardingView(OnboardingModel::create(state), parent);
            return nullptr;
        });
    auto content = std::make_shared<Content>(*this, panelView_);
    scene_ = ns::MenuBarExtra::create(ns::Image::named(menuBarIconName), content);
    content->setScene(scene_);
}

double StashbayApp::panelWidth() const {
    const double rule = panelWidth(appState_->panelMode(), appState_->sections());
    // The loading and empty lines are the only words that say what is wrong: the panel grows to
    // show them whole, within the rule's largest width.
    const double line = panelView_ ? panelView_->widget().lineContentWidth() : 0;
    return std::min(std::max(rule, line), 600.0);
}

double StashbayApp::panelWidth(AppState::PanelMode mode, const std::vector<MenuBarSection>& sections) {
    if (mode == AppState::PanelMode::settings || mode == AppState::PanelMode::onboarding) return 320;
    std::size_t n = 0;
    for (const auto& section : sections) n += section.items().size();
    if (n == 0) return 200;
    // What the tile row needs: the tiles with their spacing, the row's padding, the least spacer
    // and the three controls. Past 600 the row scrolls.
    const double w = 32.0 * static_cast<double>(n) + 4.0 * static_cast<double>(n - 1) + 16 + 8 + 82;
    return std::min(std::max(w, 200.0), 600.0);
}

runtime::Task<void> StashbayApp::startHook(std::shared_ptr<AppState> state,
                                           std::shared_ptr<UserPreferences> preferences,
                                           std::shared_ptr<bool> hasStarted) {
    // Set before the first suspension: the hook's work runs at most once per process, also after
    // a cancelled first run.
    if (*hasStarted) co_return;
    *hasStarted = true;
    state->setPreferences(preferences);
    state->permissions()->checkPermissions();
    if (preferences->hasCompletedOnboarding()) {
        // In a task of its own, so that the content going away cannot cancel the start midway.
        auto started = runtime::spawn(runtime::mainExecutor(), state->start());
        auto finished = started.value();
        co_await finished;
    } else {
        state->setPanelMode(AppState::PanelMode::onboarding);
    }
}

}  // namespace stashbay
