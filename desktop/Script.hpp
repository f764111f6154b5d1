#pragma once

#include "SystemSettingsWindow.hpp"

#include "macos/CoreGraphics/Event.hpp"
#include "macos/sim/Scenario.hpp"

#include <QImage>
#include <QPointF>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {
class World;
}

namespace desktop {

// A status item a click step names instead of a point: the item of the application with this name,
// the one with this title when the application has several.
struct ItemName {
    std::string application;
    std::optional<std::string> title;
};

// One step of a headless script.
struct Step {
    enum class Kind { wait, click, rightClick, drag, key, screenshot, settings, defaults };
    Kind kind = Kind::wait;
    double seconds = 0;
    QPointF at;
    // A click or right click on a status item, found on the bar as the step runs, not at `at`.
    std::optional<ItemName> item;
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
//   click item APP [TITLE] [MODIFIERS]
//   rightclick item APP [TITLE] [MODIFIERS]
//                                  the centre of APP's status item where the bar has it when the
//                                  step runs; TITLE picks one of several; a name with spaces is
//                                  written in double quotes ("Control Center"), as is a title
//                                  that reads as modifiers
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

// Where a click step on a status item clicks in the world as it is now: the centre of the item's
// frame. Throws ScriptError naming the script, the line and why when no running application has
// that name, it has no such item, or the item is under the camera housing or off the bar.
QPointF itemCentre(const sim::World& world, const Step& step, const std::string& scriptName);

// Writes the picture as a screenshot step's PNG file. One that cannot be written whole throws
// ScriptError naming the script, the line and the system's reason, and leaves no partial file.
void saveScreenshot(const QImage& picture, const Step& step, const std::string& scriptName);

}  // namespace desktop
