#pragma once

#include "macos/CoreGraphics/Geometry.hpp"
#include "macos/CoreGraphics/Image.hpp"
#include "stashbay/runtime/Time.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using ProcessID = std::int32_t;
using WindowNumber = std::uint32_t;
using StatusItemID = std::uint64_t;

// One entry of a status item's menu, as its application's accessibility tree shows it.
struct MenuEntrySpec {
    // Absent for an entry whose title attribute cannot be read.
    std::optional<std::string> title;
    bool enabled = true;
    std::optional<std::string> markChar;
    // Shown with the separator subrole.
    bool separator = false;
    std::vector<MenuEntrySpec> submenu;
};

// How an application answers what is done to one of its status items.
struct StatusItemBehaviour {
    // The accessibility actions report success but the application does nothing.
    bool ignoresPress = false;
    bool ignoresShowMenu = false;

    // What a press (the accessibility action or a left click) opens: the item's menu, or a
    // popover-like window of the application at `windowLayer`. Show-menu and right clicks always
    // open the menu.
    enum class Opens { menu, window };
    Opens opens = Opens::menu;
    std::int64_t windowLayer = 101;
    // The show-menu action fails with this accessibility error code and opens nothing.
    std::optional<std::int32_t> showMenuError;
    // A press or show-menu action that opens the menu holds the caller until the menu closes or
    // the messaging timeout passes, as some items do: success when the menu closed first, else
    // "cannot complete".
    bool blocksWhileMenuOpen = false;

    enum class Move {
        // A command-drag moves the item; its frame changes after `moveLatency`.
        normal,
        // Command-drags are ignored until a plain click on the item wakes the application.
        ignoresUntilClick,
        // The item moves, then returns to its place after `springBackAfter`.
        springsBack,
        // The frame never changes.
        never,
    };
    Move move = Move::normal;
    runtime::Duration moveLatency{0};
    runtime::Duration springBackAfter{std::chrono::milliseconds(500)};
    // An open menu closes by itself after this long; otherwise only a click elsewhere closes it.
    std::optional<runtime::Duration> menuClosesAfter;

    friend bool operator==(const StatusItemBehaviour&, const StatusItemBehaviour&) = default;
};

struct StatusItemSpec {
    std::optional<std::string> title;
    double width = 24.0;
    // The icon's colour (RGBA): its status window's colour, in which the symbol or text is drawn.
    std::uint32_t iconColor = 0x202020FF;
    // What the bar draws for it: this text (a reading such as "1013 hPa"), the time of day, or
    // else the named symbol (see statusItemSymbols()).
    std::optional<std::string> text;
    bool showsTime = false;
    std::string symbol = "mark";
    bool enabled = true;
    std::optional<std::string> subrole = std::string("AXMenuExtra");
    std::vector<MenuEntrySpec> menu;
    StatusItemBehaviour behaviour;
    // Faults: the accessibility element hides its position or size; the window's image cannot be
    // captured.
    bool positionUnreadable = false;
    bool sizeUnreadable = false;
    bool captureFails = false;
    // False for an item drawn without a status window of its own: the window server lists
    // nothing for it, while the accessibility tree still shows it.
    bool statusWindow = true;
};

// A status item in the menu bar: what its application made, where the bar put it, and its
// status window. Only the World changes it.
struct StatusItem {
    StatusItemID id = 0;
    ProcessID owner = 0;
    StatusItemSpec spec;
    // 0 for an item without a status window.
    WindowNumber window = 0;
    // Where the window server and the accessibility tree show it (window-server space).
    cg::Rect frame;
    // Its window is on screen: it stands in the bar, maybe under the camera housing.
    bool onBar = false;
    // Drawn where a person sees it: on the bar and beside the housing, not under it.
    bool shown = false;
    // Command-drags reach an item in the ignoresUntilClick mode only after a click woke it.
    bool awake = false;
    // The image its application gave its button (Stashbay's own items), drawn at `imageSize`
    // points in place of a symbol.
    cg::ImageRef image;
    cg::Size imageSize;
};

}  // namespace sim
