#pragma once

#include "SystemSettingsWindow.hpp"

#include "macos/CoreGraphics/Event.hpp"
#include "macos/sim/Scenario.hpp"

#include <QImage>
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

// A script that cannot be read, or a step that failed: names the file, the line and the field, as
// "hotkey.txt:3: key: unknown key 'ctrl+opt+?'". message() is the whole text, what() only up to a
// NUL byte the script may hold.
class ScriptError : public std::runtime_error {
public:
    explicit ScriptError(const std::string& message) : std::runtime_error(message), message_(message) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

// A script is one step a line; '#' starts a comment, and a UTF-8 byte-order mark at its start is
// passed over:
//   wait SECONDS                   0 to 3600
//   click X Y [MODIFIERS]          points from the top left of the main screen
//   rightclick X Y [MODIFIERS]     the same with the right button
//   drag X1 Y1 X2 Y2 [MODIFIERS]   e.g. "drag 900 12 700 12 cmd" moves a status item
//   key [MODIFIERS+]KEY            e.g. "key ctrl+opt+m"
//   screenshot FILE.png            relative to the script's folder, which must hold the file's
//                                  folder already
//   settings PANE                  opens System Settings on accessibility, screen-recording or
//                                  login-items; its switch is then at 577 233
//   defaults KEY true|false        one of Stashbay's user defaults, written before Stashbay
//                                  launches (so only at the top of a script), as the terminal's
//                                  defaults command would (e.g. "defaults hasCompletedOnboarding true");
//                                  the keys are hasCompletedOnboarding, globalHotkeyEnabled and
//                                  launchAtLogin
// Numbers are decimal: an optional '-', digits, and optionally a point and more digits ("12",
// "0.5", "-40"); no exponent, hex, inf or nan. A coordinate is within maxScriptCoordinate of the
// origin. Modifiers are joined by '+': shift, ctrl, opt (or alt), cmd.
std::vector<Step> parseScript(const std::string& text, const std::string& fileName,
                              const std::filesystem::path& folder);

// As far as a point of any scenario's screen can be from the origin, either way: its corner within
// maxScreenOffset, its side at most maxScreenSide.
inline constexpr double maxScriptCoordinate = sim::maxScreenOffset + sim::maxScreenSide;
inline constexpr double maxWaitSeconds = 3600;

struct Script {
    // The file's name as its messages give it, as "hotkey.txt".
    std::string name;
    std::vector<Step> steps;
};
// Reads only a regular file of at most maxScriptFileBytes.
inline constexpr std::size_t maxScriptFileBytes = 1024 * 1024;
Script loadScript(const std::filesystem::path& path);

// Writes the picture as a screenshot step's PNG file. One that cannot be written whole throws
// ScriptError naming the script, the line and the system's reason, and leaves no partial file.
void saveScreenshot(const QImage& picture, const Step& step, const std::string& scriptName);

}  // namespace desktop
