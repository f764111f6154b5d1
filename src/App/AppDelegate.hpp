#pragma once

#include "macos/AppKit/Application.hpp"
#include "macos/AppKit/Window.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/os/Logger.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace stashbay {

// The process's application delegate: the global hotkey Control-Option-M that clicks the app's
// own status item, the search for that item's window (published in statusItemWindow() with the
// item's autosave name set), live following of the hotkey preference, and the hotkey's removal
// at termination. It never touches the application state. Main executor only.
class AppDelegate final : public ns::ApplicationDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    // Key-down events only (event type 10).
    static constexpr ns::EventMask hotkeyEventMask = 1024;
    // The virtual key of M on an ANSI layout.
    static constexpr std::uint16_t hotkeyKeyCode = 46;
    // Status-item window search: the level of status windows, the tries and their delays.
    static constexpr std::int64_t statusWindowLevel = 25;
    static constexpr int lastStatusItemAttempt = 5;

    AppDelegate();

    void applicationDidFinishLaunching(const ns::Notification& notification) override;
    void applicationWillTerminate(const ns::Notification& notification) override;
    bool applicationSupportsSecureRestorableState(ns::Application& application) override;

    // The window of the app's own status item once the search found it; none before, after the
    // search gave up, and once the window is gone. One per process.
    static std::shared_ptr<ns::Window> statusItemWindow();
    // Whether a key-down is the hotkey: key code 46 with Control and Option held; other
    // modifiers and auto-repeat do not matter.
    static bool matchesHotkey(const ns::Event& event);

private:
    void registerGlobalHotkey();
    void unregisterGlobalHotkey();
    void configureStatusItem(int attempt = 0);
    void observeHotkeyPreference();
    void togglePanel();

    os::Logger logger_;
    std::optional<ns::Application::MonitorToken> globalHotkeyMonitor_;
    std::optional<ns::Application::MonitorToken> localHotkeyMonitor_;
    std::optional<ns::KeyValueObservation> hotkeyPrefObservation_;
};

}  // namespace stashbay
