#pragma once

#include "macos/sim/Faults.hpp"
#include "macos/sim/MenuBar.hpp"
#include "macos/sim/Permissions.hpp"
#include "macos/sim/Process.hpp"
#include "macos/sim/Screen.hpp"
#include "stashbay/runtime/Time.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A description of a world, read from a JSON scenario file:
//
//   {
//     "version": 1,
//     "screens": [{
//       "name": "Built-in Retina Display",                      // optional, "Display"
//       "frame": {"x": 0, "y": 0, "width": 1512, "height": 982},
//       "visibleFrame": {"x": 0, "y": 0, "width": 1512, "height": 945},
//       "safeAreaInsets": {"top": 37},                           // optional; each edge 0
//       "auxiliaryTopLeftArea": {...}, "auxiliaryTopRightArea": {...},   // optional
//       "displayNumber": 1,              // required; null for a screen without one
//       "deviceDescription": {...},      // optional; replaces {"NSScreenNumber": displayNumber}
//       "builtIn": true,                 // optional, false
//       "backingScaleFactor": 2          // optional, 1
//     }],
//     "mainScreen": 0,                   // optional: index of the focused screen, null for none
//     "applications": [{
//       "pid": 501,
//       "bundleIdentifier": "com.apple.finder",   // optional or null
//       "name": "Finder",                          // optional or null: the localized name
//       "finishedLaunching": true,                 // optional, true
//       "terminated": false,                       // optional, false
//       "hidden": false                            // optional, false
//     }],
//     "faults": {"bitmapContextCreationFails": false, ...},  // optional; see Faults
//     "statusWindowsOwnedByControlCenter": false,   // optional; see World
//     "script": [{                       // optional: what happens to an application during the run
//       "action": "quit",                // or "hang", or "removeStatusItem" (with "statusItem": index)
//       "pid": 501,
//       "atAccessibilityCall": 3,        // as the third accessibility call into "callsTo" begins
//       "callsTo": 502,                  // optional, "pid"
//       "atMs": 1250                     // or: at this virtual time after the world's start
//     }]
//   }
//
// Rectangles are in screen space (origin at the bottom-left of the primary screen, y up), and
// the primary screen (the first) sits at the origin. A screen's sides are at most 8192 points,
// its corners within 100000 points of the origin, its backing scale at most 4. Unknown fields are
// errors, so that a typo does not go unnoticed. Stashbay itself is the application with the bundle identifier
// "app.stashbay.Stashbay"; a scenario without one gets it added by the world.
// Something a scenario makes happen to an application while the world runs: at an instant of
// virtual time (which may fall inside a platform call), or as an accessibility call begins.
struct ScriptedAction {
    enum class Kind { quit, hang, removeStatusItem };
    Kind kind = Kind::quit;
    ProcessID pid = 0;
    // removeStatusItem: the index of the item among the application's items, in creation order.
    std::size_t statusItem = 0;
    // Exactly one of the two is set: virtual time since the world's start, or the number of the
    // accessibility call into `callsTo` (from 1).
    std::optional<runtime::Duration> at;
    std::optional<std::uint64_t> atAccessibilityCall;
    ProcessID callsTo = 0;
};

struct Scenario {
    static constexpr int currentVersion = 1;

    // The file it came from, as errors name it.
    std::string name;
    std::vector<ScreenSpec> screens;
    std::optional<std::size_t> mainScreen;
    std::vector<ProcessSpec> applications;
    Faults faults;
    MenuBarSpec menuBar;
    Permissions permissions;
    // The window list names the control-centre application ("com.apple.controlcenter") as the
    // owner of every status window, as newer systems do.
    bool statusWindowsOwnedByControlCenter = false;
    std::vector<ScriptedAction> script;
};

// A scenario that cannot be read: names the file, the JSON path of the offending field and what
// is wrong with it, as "default.json: screens[0].frame.width: expected a number".
class ScenarioError : public std::runtime_error {
public:
    ScenarioError(std::string file, std::string path, std::string problem);

    const std::string& file() const { return file_; }
    // Empty for a problem of the whole file.
    const std::string& path() const { return path_; }
    const std::string& problem() const { return problem_; }

private:
    std::string file_;
    std::string path_;
    std::string problem_;
};

// Each throws ScenarioError and nothing else. A file is read only when it is a regular file of at
// most maxScenarioFileBytes.
inline constexpr std::size_t maxScenarioFileBytes = 4 * 1024 * 1024;
// The largest side of a screen, and how far from the origin its bottom-left corner may be, in
// points: beyond them a screen could not be drawn nor captured.
inline constexpr double maxScreenSide = 8192, maxScreenOffset = 100000;
Scenario parseScenario(std::string_view text, std::string fileName);
Scenario loadScenarioFile(const std::filesystem::path& path);
// The scenario embedded in the build, "default.json".
Scenario defaultScenario();
// An embedded scenario by file name ("default.json"); throws ScenarioError when there is none.
Scenario embeddedScenario(std::string_view fileName);

// The embedded scenario files' texts, by file name.
std::optional<std::string_view> embeddedScenarioText(std::string_view fileName);
std::vector<std::string_view> embeddedScenarioNames();

}  // namespace sim
