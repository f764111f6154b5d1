#include "App/AppDelegate.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "Utilities/UserDefaultsExtensions.hpp"
#include "macos/AppKit/StatusItem.hpp"
#include "macos/Dispatch/Queue.hpp"
#include "stashbay/BuildInfo.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <chrono>
#include <string>

namespace stashbay {

namespace {

// One per process, held weakly: it empties by itself when the window goes.
std::weak_ptr<ns::Window>& sharedStatusItemWindow() {
    static std::weak_ptr<ns::Window> window;
    return window;
}

// The status item a window shows, if it is a status item's window. Key-value coding raises for
// a window without a "statusItem" value; such a window is skipped.
std::shared_ptr<const ns::StatusItem> statusItemOf(const ns::Window& window) {
    try {
        auto value = window.valueForKey("statusItem");
        return value ? value->as<ns::StatusItem>() : nullptr;
    } catch (const ns::UnknownKeyException&) {
        return nullptr;
    }
}

}  // namespace

AppDelegate::AppDelegate() : logger_(log::componentLogger("appDelegate")) {}

std::shared_ptr<ns::Window> AppDelegate::statusItemWindow() { return sharedStatusItemWindow().lock(); }

bool AppDelegate::applicationSupportsSecureRestorableState(ns::Application&) { return true; }

void AppDelegate::applicationDidFinishLaunching(const ns::Notification&) {
    logger_.info("Stashbay launched");
    registerGlobalHotkey();
    configureStatusItem(0);
    observeHotkeyPreference();
}

void AppDelegate::applicationWillTerminate(const ns::Notification&) {
    if (hotkeyPrefObservation_) hotkeyPrefObservation_->invalidate();
    hotkeyPrefObservation_.reset();
    unregisterGlobalHotkey();
    logger_.info("Stashbay terminating");
}

bool AppDelegate::matchesHotkey(const ns::Event& event) {
    constexpr ns::ModifierFlags required = ns::modifierFlagControl | ns::modifierFlagOption;
    return event.keyCode() == hotkeyKeyCode && (event.modifierFlags() & required) == required;
}

void AppDelegate::registerGlobalHotkey() {
    runtime::assertMainExecutor("AppDelegate.registerGlobalHotkey");
    unregisterGlobalHotkey();
    if (!globalHotkeyEnabled(ns::UserDefaults::standard())) {
        logger_.info("Global hotkey disabled by user preference");
        return;
    }
    auto& app = ns::Application::shared();
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    globalHotkeyMonitor_ = app.addGlobalMonitorForEvents(hotkeyEventMask, [weak](const ns::Event& event) {
        if (!matchesHotkey(event)) return;
        if (auto self = weak.lock()) self->togglePanel();
    });
    localHotkeyMonitor_ =
        app.addLocalMonitorForEvents(hotkeyEventMask, [weak](const ns::Event& event) -> std::optional<ns::Event> {
            if (!matchesHotkey(event)) return event;
            if (auto self = weak.lock()) self->togglePanel();
            // Consumed, also when the delegate is gone.
            return std::nullopt;
        });
    logger_.info("Global hotkey Ctrl+Opt+M registered");
}

void AppDelegate::unregisterGlobalHotkey() {
    auto& app = ns::Application::shared();
    if (globalHotkeyMonitor_) {
        app.removeMonitor(*globalHotkeyMonitor_);
        globalHotkeyMonitor_.reset();
    }
    if (localHotkeyMonitor_) {
        app.removeMonitor(*localHotkeyMonitor_);
        localHotkeyMonitor_.reset();
    }
}

void AppDelegate::togglePanel() {
    runtime::assertMainExecutor("AppDelegate.togglePanel");
    if (!globalHotkeyEnabled(ns::UserDefaults::standard())) return;
    auto window = statusItemWindow();
    if (!window) {
        logger_.error("Cannot toggle panel: status item window not found");
        return;
    }
    auto item = statusItemOf(*window);
    if (!item || !item->button()) {
        logger_.error("Cannot toggle panel: status item button not found");
        return;
    }
    item->button()->performClick();
    logger_.debug("Panel toggled via hotkey");
}

void AppDelegate::configureStatusItem(int attempt) {
    using namespace std::chrono_literals;
    const runtime::Duration delay = attempt == 0 ? runtime::Duration(1s) : runtime::Duration(2s);
    dispatch::Queue::main().asyncAfter(delay, [weak = weak_from_this(), attempt] {
        auto self = weak.lock();
        if (!self) return;
        for (const auto& window : ns::Application::shared().windows()) {
            if (window->level() != statusWindowLevel) continue;
            auto item = statusItemOf(*window);
            if (!item) continue;
            item->setAutosaveName(std::string(build::bundleIdentifier) + ".statusItem");
            sharedStatusItemWindow() = window;
            self->logger_.info("Set autosaveName on Stashbay status item");
            return;
        }
        if (attempt < lastStatusItemAttempt) {
            self->configureStatusItem(attempt + 1);
            return;
        }
        self->logger_.error(
            "Could not find status item window after %ld attempts — hotkey toggle and panel alignment unavailable",
            static_cast<long>(attempt + 1));
    });
}

void AppDelegate::observeHotkeyPreference() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    hotkeyPrefObservation_ = ns::UserDefaults::standard().observe(
        globalHotkeyEnabledKey, [weak](const std::optional<cf::Value>&, const std::optional<cf::Value>&) {
            // The observed value is the preference as the extension reads it after the write; it
            // may be reported on any thread, so the work hops to the main executor.
            const bool enabled = globalHotkeyEnabled(ns::UserDefaults::standard());
            runtime::mainExecutor().enqueue(nullptr, [weak, enabled] {
                auto self = weak.lock();
                if (!self) return;
                if (enabled)
                    self->registerGlobalHotkey();
                else
                    self->unregisterGlobalHotkey();
            });
        });
}

}  // namespace stashbay
