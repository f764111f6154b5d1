#include "macos/AppKit/MenuTracking.hpp"

#include <algorithm>
#include <iterator>

namespace ns {

struct MenuTracking::Look {
    std::vector<std::optional<std::size_t>> lit;
    friend bool operator==(const Look&, const Look&) = default;
};

bool MenuTracking::isMenuKey(std::uint16_t keyCode) {
    switch (keyCode) {
        case returnKey:
        case enterKey:
        case escapeKey:
        case leftArrow:
        case rightArrow:
        case downArrow:
        case upArrow: return true;
        default: return false;
    }
}

MenuTracking::MenuTracking(std::vector<Entry> entries, Owner owner) : owner_(std::move(owner)) {
    levels_.push_back(Level{std::move(entries), std::nullopt});
}

std::optional<std::size_t> MenuTracking::highlighted(std::size_t level) const {
    return level < levels_.size() ? levels_[level].highlighted : std::nullopt;
}

MenuTracking::Look MenuTracking::look() const {
    Look out;
    for (const auto& level : levels_) out.lit.push_back(level.highlighted);
    return out;
}

void MenuTracking::tell(const Look& before) {
    if (!owner_.changed) return;
    const Look now = look();
    for (std::size_t level = 0; level < now.lit.size(); ++level)
        if (level >= before.lit.size() || before.lit[level] != now.lit[level]) owner_.changed(level);
}

void MenuTracking::cancelPending() {
    pendingFor_.reset();
    ++pending_;
}

void MenuTracking::closeFrom(std::size_t keep) {
    keep = std::max<std::size_t>(keep, 1);
    if (levels_.size() <= keep) return;
    if (owner_.closeSubmenus) owner_.closeSubmenus(keep);
    levels_.resize(keep);
    openedFrom_.resize(keep - 1);
}

bool MenuTracking::openSubmenuOf(std::size_t level, std::size_t entry) {
    if (levels_.size() != level + 1 || !owner_.openSubmenu) return false;
    auto entries = owner_.openSubmenu(level, entry);
    if (!entries) return false;
    levels_.push_back(Level{std::move(*entries), std::nullopt});
    openedFrom_.push_back(entry);
    return true;
}

void MenuTracking::dim(std::size_t level) {
    if (level + 1 >= levels_.size()) levels_[level].highlighted.reset();
}

void MenuTracking::scheduleSubmenu(std::size_t level, std::size_t entry) {
    cancelPending();
    if (!owner_.schedule) return;
    pendingFor_ = std::pair(level, entry);
    const auto generation = pending_;
    owner_.schedule(submenuDelay, [alive = std::weak_ptr<int>(alive_), this, generation, level, entry] {
        if (alive.expired() || pending_ != generation) return;
        pendingFor_.reset();
        if (levels_.size() != level + 1 || levels_[level].highlighted != entry) return;
        const Look before = look();
        openSubmenuOf(level, entry);
        tell(before);
    });
}

void MenuTracking::pointerOver(std::size_t level, std::optional<std::size_t> entry) {
    if (level >= levels_.size()) return;
    // Still resting on the entry whose submenu waits: the wait goes on.
    if (entry && pendingFor_ == std::pair(level, *entry)) return;
    const Look before = look();
    cancelPending();
    // The levels deeper than the pointer lose their lit entry, unless a submenu is open from it.
    for (std::size_t deeper = levels_.size(); deeper-- > level + 1;) dim(deeper);
    auto& here = levels_[level];
    if (!entry || *entry >= here.entries.size()) {
        dim(level);
    } else if (!choosable(here.entries[*entry])) {
        closeFrom(level + 1);
        levels_[level].highlighted.reset();
    } else if (levels_.size() > level + 1 && openedFrom_[level] == *entry) {
        here.highlighted = *entry;
    } else {
        closeFrom(level + 1);
        levels_[level].highlighted = *entry;
        if (levels_[level].entries[*entry].hasSubmenu) scheduleSubmenu(level, *entry);
    }
    tell(before);
}

void MenuTracking::pointerLeft() {
    const Look before = look();
    cancelPending();
    for (std::size_t level = 0; level < levels_.size(); ++level) dim(level);
    tell(before);
}

void MenuTracking::click(std::size_t level, std::size_t entry) {
    if (level >= levels_.size() || entry >= levels_[level].entries.size()) return;
    const Entry e = levels_[level].entries[entry];
    if (!choosable(e)) return;
    cancelPending();
    if (!e.hasSubmenu) {
        choose(level, entry);
        return;
    }
    if (levels_.size() > level + 1 && openedFrom_[level] == entry) return;
    const Look before = look();
    closeFrom(level + 1);
    levels_[level].highlighted = entry;
    openSubmenuOf(level, entry);
    tell(before);
}

void MenuTracking::choose(std::size_t level, std::size_t entry) {
    std::vector<std::size_t> path(openedFrom_.begin(), openedFrom_.begin() + static_cast<std::ptrdiff_t>(level));
    path.push_back(entry);
    // The owner may end the tracking here, so nothing of this object is touched after it.
    auto chosen = owner_.choose;
    if (chosen) chosen(path);
}

void MenuTracking::moveHighlight(int step) {
    auto& level = levels_.back();
    std::vector<std::size_t> choosableEntries;
    for (std::size_t i = 0; i < level.entries.size(); ++i)
        if (choosable(level.entries[i])) choosableEntries.push_back(i);
    if (choosableEntries.empty()) return;
    const auto n = static_cast<std::ptrdiff_t>(choosableEntries.size());
    auto at = level.highlighted ? std::find(choosableEntries.begin(), choosableEntries.end(), *level.highlighted)
                                : choosableEntries.end();
    const std::ptrdiff_t index = at == choosableEntries.end()
                                     ? (step > 0 ? 0 : n - 1)
                                     : ((std::distance(choosableEntries.begin(), at) + step) % n + n) % n;
    level.highlighted = choosableEntries[static_cast<std::size_t>(index)];
}

void MenuTracking::openHighlighted() {
    const std::size_t deepest = levels_.size() - 1;
    const auto lit = levels_[deepest].highlighted;
    if (!lit || !levels_[deepest].entries[*lit].hasSubmenu) return;
    if (!openSubmenuOf(deepest, *lit)) return;
    moveHighlight(1);
}

bool MenuTracking::keyDown(std::uint16_t keyCode) {
    if (!isMenuKey(keyCode)) return false;
    const Look before = look();
    cancelPending();
    const std::size_t deepest = levels_.size() - 1;
    switch (keyCode) {
        case upArrow: moveHighlight(-1); break;
        case downArrow: moveHighlight(1); break;
        case leftArrow: closeFrom(deepest); break;
        case rightArrow: openHighlighted(); break;
        case returnKey:
        case enterKey: {
            const auto lit = levels_[deepest].highlighted;
            if (!lit) break;
            if (levels_[deepest].entries[*lit].hasSubmenu) {
                openHighlighted();
                break;
            }
            choose(deepest, *lit);
            return true;
        }
        case escapeKey: {
            auto dismiss = owner_.dismiss;
            if (dismiss) dismiss();
            return true;
        }
        default: break;
    }
    tell(before);
    return true;
}

void MenuTracking::submenusGone(std::size_t keep) {
    keep = std::max<std::size_t>(keep, 1);
    if (levels_.size() <= keep) return;
    const Look before = look();
    cancelPending();
    levels_.resize(keep);
    openedFrom_.resize(keep - 1);
    tell(before);
}

}  // namespace ns
