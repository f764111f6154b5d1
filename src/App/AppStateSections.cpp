#include "App/AppState.hpp"

#include "macos/CoreGraphics/EventSource.hpp"
#include "stashbay/BuildInfo.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <variant>

namespace stashbay {

using SectionType = MenuBarSection::SectionType;

namespace {

bool sameImage(const cg::ImageRef& a, const cg::ImageRef& b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return a->width() == b->width() && a->height() == b->height() && a->pixels() == b->pixels();
}

// Every field the panel shows or acts on; `lastSeen` is not one.
bool showsTheSame(const MenuBarItem& a, const MenuBarItem& b) {
    return a.id() == b.id() && a.title() == b.title() && a.isEnabled() == b.isEnabled() &&
           a.isVerified() == b.isVerified() && a.isOnScreen() == b.isOnScreen() && a.windowID() == b.windowID() &&
           a.ownerPID() == b.ownerPID() && a.position() == b.position() && a.size() == b.size() &&
           sameImage(a.capturedImage(), b.capturedImage());
}

}  // namespace

const std::unordered_set<std::string>& AppState::excludedBundleIDs() {
    static const std::unordered_set<std::string> ids{"com.apple.controlcenter", "com.apple.Spotlight", "com.apple.Siri",
                                                     build::bundleIdentifier};
    return ids;
}

namespace {

using ItemRefs = std::vector<const MenuBarItem*>;

// Any strict order of identities, the cheap part first; it only groups equal identities.
bool identityBefore(const MenuBarItemID& a, const MenuBarItemID& b) {
    if (a.index() != b.index()) return a.index() < b.index();
    return a.bundleID() < b.bundleID();
}

// The items the section's stored order names first, in that order; the others after them, in
// their own order. The items' places sorted by identity (equal identities in list order) stand in
// for a map from identity to items: no key is copied and no node is made.
ItemRefs ordered(const ItemRefs& items, SectionType section, const IconArrangement& arrangement) {
    auto stored = arrangement.sectionOrders().find(section);
    if (stored == arrangement.sectionOrders().end() || stored->second.empty()) return items;
    std::vector<std::uint32_t> byIdentity(items.size());
    for (std::uint32_t i = 0; i < byIdentity.size(); ++i) byIdentity[i] = i;
    std::sort(byIdentity.begin(), byIdentity.end(), [&](std::uint32_t a, std::uint32_t b) {
        const auto& ia = items[a]->id();
        const auto& ib = items[b]->id();
        if (identityBefore(ia, ib)) return true;
        if (identityBefore(ib, ia)) return false;
        return a < b;
    });
    std::vector<bool> taken(items.size(), false);
    ItemRefs result;
    result.reserve(items.size());
    auto before = [&](std::uint32_t i, const MenuBarItemID& key) { return identityBefore(items[i]->id(), key); };
    for (const auto& id : stored->second) {
        auto at = std::lower_bound(byIdentity.begin(), byIdentity.end(), id, before);
        // The first of the identity's items not taken yet.
        while (at != byIdentity.end() && items[*at]->id() == id && taken[*at]) ++at;
        if (at == byIdentity.end() || !(items[*at]->id() == id)) continue;
        taken[*at] = true;
        result.push_back(items[*at]);
    }
    for (std::size_t i = 0; i < items.size(); ++i)
        if (!taken[i]) result.push_back(items[i]);
    return result;
}

std::vector<MenuBarItem> copies(const ItemRefs& items) {
    std::vector<MenuBarItem> out;
    out.reserve(items.size());
    for (const auto* item : items) out.push_back(*item);
    return out;
}

}  // namespace

std::vector<MenuBarSection> AppState::computeSections(const std::vector<MenuBarItem>& items,
                                                      const std::optional<DisplayInfo>&,
                                                      const IconArrangement& arrangement) {
    // The groups hold places in `items`; each item is copied once, into its section.
    ItemRefs hidden;
    ItemRefs stashbay;
    const auto& excluded = excludedBundleIDs();
    const auto& assignments = arrangement.assignments();
    for (const auto& item : items) {
        if (item.ownerBundleID() && excluded.count(*item.ownerBundleID())) continue;
        if (isItemHidden(item)) {
            hidden.push_back(&item);
            continue;
        }
        auto assigned = assignments.find(item.id());
        if (assigned == assignments.end()) continue;
        if (assigned->second == MenuBarItemVisibility::hiddenByNotch)
            hidden.push_back(&item);
        else if (assigned->second == MenuBarItemVisibility::stashbay)
            stashbay.push_back(&item);
        // Visible and pinned items are in no section.
    }
    std::vector<MenuBarSection> sections;
    if (!hidden.empty())
        sections.emplace_back(SectionType::hiddenByNotch,
                              copies(ordered(hidden, SectionType::hiddenByNotch, arrangement)));
    if (!stashbay.empty())
        sections.emplace_back(SectionType::stashbay, copies(ordered(stashbay, SectionType::stashbay, arrangement)));
    return sections;
}

std::vector<MenuBarItem> AppState::applyOrder(const std::vector<MenuBarItem>& items, SectionType section,
                                              const IconArrangement& arrangement) {
    ItemRefs refs;
    refs.reserve(items.size());
    for (const auto& item : items) refs.push_back(&item);
    return copies(ordered(refs, section, arrangement));
}

bool AppState::sectionsShowTheSame(const std::vector<MenuBarSection>& a, const std::vector<MenuBarSection>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t s = 0; s < a.size(); ++s) {
        if (a[s].id() != b[s].id() || a[s].count() != b[s].count()) return false;
        for (std::size_t i = 0; i < a[s].count(); ++i) {
            if (!showsTheSame(a[s].items()[i], b[s].items()[i])) return false;
        }
    }
    return true;
}

runtime::Task<void> AppState::setupEventTap() {
    // The tap is live before the callbacks exist.
    auto installing = eventTapManager_->install();
    co_await installing;
    std::weak_ptr<AppState> weak = weak_from_this();
    auto settingStarted =
        eventTapManager_->setOnDragStarted([weak](MenuBarItem item) { return dragStarted(weak, std::move(item)); });
    co_await settingStarted;
    auto settingMoved = eventTapManager_->setOnDragMoved([weak](cg::Point point) { return dragMoved(weak, point); });
    co_await settingMoved;
    auto settingEnded = eventTapManager_->setOnDragEnded(
        [weak](MenuBarItem item, cg::Point point) { return dragEnded(weak, std::move(item), point); });
    co_await settingEnded;
    // A tap refused for want of Accessibility, or switched off by the system when it was revoked,
    // sees nothing: the grant coming back is when a live one can be made.
    accessibilityRegained_ = permissions_->observeAccessibilityGranted([weak](const bool& granted) {
        auto self = weak.lock();
        if (granted && self) runtime::spawn(runtime::mainExecutor(), reinstallTap(self->eventTapManager_));
    });
}

runtime::Task<void> AppState::reinstallTap(std::shared_ptr<EventTapManager> tracker) {
    // A grant that comes back before the system switched the tap off finds it still working.
    auto checking = tracker->isTapEnabled();
    const bool working = co_await checking;
    if (working) co_return;
    auto installing = tracker->install();
    co_await installing;
}

runtime::Task<void> AppState::dragStarted(std::weak_ptr<AppState> weak, MenuBarItem item) {
    co_await runtime::hopTo(runtime::mainExecutor());
    auto self = weak.lock();
    if (!self) co_return;
    self->draggingItem_.set(std::move(item));
    self->dragAbandoned_ = false;
    if (self->dragWatch_) self->dragWatch_.cancel();
    self->dragWatch_ = runtime::spawn(runtime::mainExecutor(), watchDrag(weak));
}

runtime::Task<void> AppState::dragMoved(std::weak_ptr<AppState> weak, cg::Point point) {
    co_await runtime::hopTo(runtime::mainExecutor());
    auto self = weak.lock();
    if (!self || self->dragAbandoned_) co_return;
    self->dragPosition_.set(point);
}

runtime::Task<void> AppState::dragEnded(std::weak_ptr<AppState> weak, MenuBarItem item, cg::Point point) {
    auto self = weak.lock();
    if (!self) co_return;
    co_await runtime::hopTo(runtime::mainExecutor());
    if (self->dragAbandoned_) {
        // The release of a drag given up on long ago (its mouse-up was lost): nothing to record.
        self->dragAbandoned_ = false;
        co_return;
    }
    std::vector<MenuBarItem> items = self->menuBarItems_.get();
    auto computing = self->eventTapManager_->computeInsertionIndex(point.x, std::move(items));
    std::int64_t index = co_await computing;
    co_await runtime::hopTo(runtime::mainExecutor());
    if (self->dragWatch_) self->dragWatch_.cancel();
    self->dragWatch_ = {};
    self->draggingItem_.set(std::nullopt);
    self->dragPosition_.set(std::nullopt);
    auto moving = self->moveItem(item.id(), SectionType::visible, index);
    co_await moving;
}

runtime::Task<void> AppState::watchDrag(std::weak_ptr<AppState> weak) {
    int releasedChecks = 0;
    for (;;) {
        auto sleeping = runtime::sleepFor(dragWatchInterval);
        co_await sleeping;
        if (runtime::isCancelled()) co_return;
        auto self = weak.lock();
        if (!self || !self->draggingItem_.get()) co_return;
        auto reading = self->eventTapManager_->dragState();
        EventTapManager::DragState state = co_await reading;
        if (runtime::isCancelled()) co_return;
        const bool trackerDragging = std::holds_alternative<EventTapManager::Dragging>(state);
        const bool buttonDown =
            cg::eventSourceButtonState(cg::EventSourceStateID::combinedSessionState, cg::MouseButton::left);
        if (trackerDragging && buttonDown) {
            releasedChecks = 0;
            continue;
        }
        // A release on its way to the tracker gets one more interval before its drag counts as lost.
        if (trackerDragging && ++releasedChecks < 2) continue;
        self->abandonDrag(trackerDragging);
        co_return;
    }
}

void AppState::abandonDrag(bool trackerStillDragging) {
    if (dragWatch_) dragWatch_.cancel();
    dragWatch_ = {};
    if (trackerStillDragging) dragAbandoned_ = true;
    if (draggingItem_.get()) draggingItem_.set(std::nullopt);
    if (dragPosition_.get()) dragPosition_.set(std::nullopt);
}

runtime::Task<void> AppState::moveItem(MenuBarItemID id, SectionType section, std::int64_t index) {
    co_await runtime::hopTo(runtime::mainExecutor());
    auto reloading = reloadArrangementIfItFailed();
    const bool stillUnloadable = co_await reloading;
    const MenuBarItemVisibility visibility = correspondingVisibility(section);
    currentArrangement_.modify([&](IconArrangement& arrangement) { arrangement.assign(id, visibility); });
    currentArrangement_.modify([&](IconArrangement& arrangement) { arrangement.reorder(id, section, index); });
    bool saved = false;
    try {
        auto saving = arrangementStore_->save(currentArrangement_.get());
        co_await saving;
        saved = true;
    } catch (const std::exception& error) {
        logger_.error("Failed to save arrangement after move: %@", error);
    }
    co_await runtime::hopTo(runtime::mainExecutor());
    // The file that still failed stays unsaved over: the next move reads it again first.
    if (stillUnloadable && !saved) arrangementLoadFailed_ = true;
    publishSections(computeSections(menuBarItems_.get(), currentDisplay_.get(), currentArrangement_.get()));
    std::string bundle = id.bundleID().value_or("unknown");
    std::string sectionName(rawValue(section));
    long reported = static_cast<long>(index);
    logger_.info("Moved %s to %s at index %ld", bundle, sectionName, reported);
}

}  // namespace stashbay
