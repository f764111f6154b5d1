#pragma once

#include "stashbay/runtime/Time.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace ns {

// How the platform tracks an open menu and the submenus opened from it: which entry of each open
// level is lit, which submenu is open, what the pointer and the keys choose. It knows entries only
// by their flags; its owner shows the levels, opens and closes their windows and hears what changed.
// Every application's menus follow it: Stashbay's pop-up menus and the menus the world's
// applications open from their status items. Main executor only.
//
// The pointer lights the entry under it and, after resting there for `submenuDelay`, opens that
// entry's submenu; moving onto another entry of the parent closes the submenu. An entry whose
// submenu is open stays lit. Leaving the menus clears the lit entry, except one whose submenu is
// open. Up and Down move over the enabled entries of the deepest open level (wrapping; separators
// and disabled entries skipped), Right opens the lit entry's submenu and lights its first enabled
// entry, Left closes the deepest submenu, Return chooses the lit entry (or opens its submenu as
// Right does), Escape dismisses the menu.
class MenuTracking {
public:
    struct Entry {
        bool enabled = true;
        bool separator = false;
        bool hasSubmenu = false;
    };

    struct Owner {
        // Shows the submenu of entry `entry` of level `level` as the next level; returns its
        // entries, or none when it cannot open.
        std::function<std::optional<std::vector<Entry>>(std::size_t level, std::size_t entry)> openSubmenu;
        // Takes every level from `keep` on off screen.
        std::function<void(std::size_t keep)> closeSubmenus;
        // The entry chosen, by its indices from the top level down. Called last: the owner may end
        // the tracking in it.
        std::function<void(const std::vector<std::size_t>& path)> choose;
        // Escape. Called last, as `choose` is.
        std::function<void()> dismiss;
        // What the open level `level` shows changed: its lit entry, or it has just opened.
        std::function<void(std::size_t level)> changed;
        // Runs `action` once `delay` has passed (virtual time in the world).
        std::function<void(runtime::Duration delay, std::function<void()> action)> schedule;
    };

    // How long the pointer rests on an entry before its submenu opens.
    static constexpr runtime::Duration submenuDelay = std::chrono::milliseconds(200);

    // The platform's key codes that a menu takes while it tracks.
    static constexpr std::uint16_t returnKey = 36;
    static constexpr std::uint16_t enterKey = 76;
    static constexpr std::uint16_t escapeKey = 53;
    static constexpr std::uint16_t leftArrow = 123;
    static constexpr std::uint16_t rightArrow = 124;
    static constexpr std::uint16_t downArrow = 125;
    static constexpr std::uint16_t upArrow = 126;
    static bool isMenuKey(std::uint16_t keyCode);

    MenuTracking(std::vector<Entry> entries, Owner owner);
    MenuTracking(const MenuTracking&) = delete;
    MenuTracking& operator=(const MenuTracking&) = delete;

    // The open levels, the top level first.
    std::size_t levelCount() const { return levels_.size(); }
    const std::vector<Entry>& entries(std::size_t level) const { return levels_.at(level).entries; }
    std::optional<std::size_t> highlighted(std::size_t level) const;

    // The pointer is over level `level`, on entry `entry` (none: between entries, in the padding).
    void pointerOver(std::size_t level, std::optional<std::size_t> entry);
    // The pointer is outside every open level.
    void pointerLeft();
    // A click on an entry: an enabled entry with a submenu opens it at once, another enabled entry
    // is chosen.
    void click(std::size_t level, std::size_t entry);
    // A key; false for a key a menu does not take.
    bool keyDown(std::uint16_t keyCode);
    // The owner took every level from `keep` on away by itself (their windows went).
    void submenusGone(std::size_t keep);

private:
    struct Level {
        std::vector<Entry> entries;
        std::optional<std::size_t> highlighted;
    };
    struct Look;
    Look look() const;
    void tell(const Look& before);
    static bool choosable(const Entry& entry) { return entry.enabled && !entry.separator; }
    // Closes the levels from `keep` on; the entry they opened from stays lit.
    void closeFrom(std::size_t keep);
    bool openSubmenuOf(std::size_t level, std::size_t entry);
    // The lit entry of the deepest level loses its light unless a submenu is open from it.
    void dim(std::size_t level);
    void scheduleSubmenu(std::size_t level, std::size_t entry);
    void cancelPending();
    void moveHighlight(int step);
    void openHighlighted();
    void choose(std::size_t level, std::size_t entry);

    Owner owner_;
    std::vector<Level> levels_;
    // The entry of each level below the top that its submenu opened from.
    std::vector<std::size_t> openedFrom_;
    // The submenu waiting for the pointer's rest, by its level and entry; it opens only while its
    // generation is the last one asked for.
    std::optional<std::pair<std::size_t, std::size_t>> pendingFor_;
    std::uint64_t pending_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace ns
