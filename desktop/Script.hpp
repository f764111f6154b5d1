#pragma once

#include "SystemSettingsWindow.hpp"

#include "macos/CoreGraphics/Event.hpp"

#include <QPointF>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace desktop {

// One step of a headless script.
struct Step {
    enum class Kind { wait, click, rightClick, drag, key, screenshot, settings, defaults };
    Kind kind = Kind::wait;
    double seconds = 0;
    QPointF at;
    QPointF to;
    std::uint16_t keyCode = 0;
    cg::EventFlags flags = 0;
    // The screenshot's file, or the user default's key.
    std::string file;
    SystemSettingsWindow::Pane pane = SystemSettingsWindow::Pane::accessibility;
    bool value = false;
    int line = 0;
};

// A script that cannot be read: names the file, the line and the field, as
// "hotkey.txt:3: key: unknown key 'ctrl+opt+?'".
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A script is one step a line; '#' starts a comment:
//   wait SECONDS
//   click X Y [MODIFIERS]          points from the top left of the main screen
//   rightclick X Y [MODIFIERS]     the same with the right button
//   drag X1 Y1 X2 Y2 [MODIFIERS]   e.g. "drag 900 12 700 12 cmd" moves a status item
//   key [MODIFIERS+]KEY            e.g. "key ctrl+opt+m"
//   screenshot FILE.png            relative to the script's folder
//   settings PANE                  opens System Settings on accessibility, screen-recording or
//                                  login-items; its switch is then at 577 233
//   defaults KEY true|false        one of Stashbay's user defaults, written before Stashbay
//                                  launches (so only at the top of a script), as the terminal's
//                                  defaults command would (e.g. "defaults hasCompletedOnboarding true");
//                                  the keys are hasCompletedOnboarding, globalHotkeyEnabled and
//                                  launchAtLogin
// Modifiers are joined by '+': shift, ctrl, opt (or alt), cmd.
std::vector<Step> parseScript(const std::string& text, const std::string& fileName,
                              const std::filesystem::path& folder);
// Reads only a regular file of at most maxScriptFileBytes.
inline constexpr std::size_t maxScriptFileBytes = 1024 * 1024;
std::vector<Step> loadScript(const std::filesystem::path& path);

}  // namespace desktop
