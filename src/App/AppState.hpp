#pragma once

#include "Interaction/EventTapManager.hpp"
#include "Models/DisplayInfo.hpp"
#include "Models/IconArrangement.hpp"
#include "Models/MenuBarItem.hpp"
#include "Models/MenuBarSection.hpp"
#include "Persistence/ArrangementStore.hpp"
#include "Persistence/UserPreferences.hpp"
#include "Services/DisplayManager.hpp"
#include "Services/MenuBarScanner.hpp"
#include "Services/PermissionsManager.hpp"
#include "macos/Foundation/NotificationCenter.hpp"
#include "macos/Observation/Observation.hpp"
#include "macos/os/Logger.hpp"
#include "stashbay/runtime/Task.hpp"
#include "stashbay/runtime/Time.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace stashbay {

// The root model of the running app: owns the long-lived services, holds what the interface
// shows (panel mode, items, sections, displays, arrangement, drag) and the tasks and observers
// that starting creates. Main executor only.
//
// Observable: reading a field inside observation tracking records the reader. Assigning a field
// whose type has an equality announces only a different value; the displays, the preferences
// and the task and observer fields announce every assignment; a change in place always
// announces.
//
// It lives in a std::shared_ptr: the loops hold it strongly, the drag callbacks weakly. No
// constructor starts anything.
class AppState : public std::enable_shared_from_this<AppState> {
public:
    enum class PanelMode { normal, onboarding, settings };

    // The services made in argument order (scanner, display manager, permissions, which reads
    // both permissions), then the state.
    static std::shared_ptr<AppState> create();
    static std::shared_ptr<AppState> create(std::shared_ptr<MenuBarScanner> scanner,
                                            std::shared_ptr<DisplayManager> displayManager,
                                            std::shared_ptr<PermissionsManager> permissions);
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // How often a published drag is checked against the tracker and the mouse button.
    static constexpr runtime::Duration dragWatchInterval = std::chrono::milliseconds(100);

    bool isScanning() const { return isScanning_.get(); }
    PanelMode panelMode() const { return panelMode_.get(); }
    void setPanelMode(PanelMode mode) { panelMode_.set(mode); }
    const std::vector<MenuBarItem>& menuBarItems() const { return menuBarItems_.get(); }
    const std::vector<MenuBarSection>& sections() const { return sections_.get(); }
    const std::optional<DisplayInfo>& currentDisplay() const { return currentDisplay_.get(); }
    const std::vector<DisplayInfo>& allDisplays() const { return allDisplays_.get(); }
    const IconArrangement& currentArrangement() const { return currentArrangement_.get(); }
    const std::optional<MenuBarItem>& draggingItem() const { return draggingItem_.get(); }
    const std::optional<cg::Point>& dragPosition() const { return dragPosition_.get(); }
    const std::shared_ptr<UserPreferences>& preferences() const { return preferences_.get(); }
    void setPreferences(std::shared_ptr<UserPreferences> preferences) { preferences_.set(std::move(preferences)); }

    const std::shared_ptr<MenuBarScanner>& scanner() const { return scanner_; }
    const std::shared_ptr<DisplayManager>& displayManager() const { return displayManager_; }
    const std::shared_ptr<PermissionsManager>& permissions() const { return permissions_; }
    const std::shared_ptr<ArrangementStore>& arrangementStore() const { return arrangementStore_; }
    const std::shared_ptr<EventTapManager>& eventTapManager() const { return eventTapManager_; }

    // The start when the panel first shows: onboarding mode with fast permission polling when the
    // onboarding is not done; otherwise normal mode, polling, the arrangement, both loops, the
    // rescan triggers and the drag tracker.
    runtime::Task<void> start();
    // The same start once the onboarding is done, without the permission check, the onboarding
    // test or a change of panel mode.
    runtime::Task<void> startAfterOnboarding();
    // Ends the loops, the triggers and the polling now, and stops the services in a task of its
    // own that it does not wait for.
    void stop();

    // Records a drop: the item's visibility and place in the section's order, saved, then the
    // sections recomputed and the move logged, whether or not the save worked.
    runtime::Task<void> moveItem(MenuBarItemID id, MenuBarSection::SectionType section, std::int64_t index);

    // The panel's sections: the hidden-by-notch section (off-screen items, and on-screen ones
    // assigned to it), then the stashbay section, each in the arrangement's order and only when
    // not empty. System items and Stashbay's own are left out. `display` plays no part.
    static std::vector<MenuBarSection> computeSections(const std::vector<MenuBarItem>& items,
                                                       const std::optional<DisplayInfo>& display,
                                                       const IconArrangement& arrangement);
    // The items the arrangement orders for `section` first, in its order; the rest after them, in
    // their own order.
    static std::vector<MenuBarItem> applyOrder(const std::vector<MenuBarItem>& items,
                                               MenuBarSection::SectionType section, const IconArrangement& arrangement);
    static bool isItemHidden(const MenuBarItem& item) { return !item.isOnScreen(); }
    // Whether the panel would show and act on both lists alike: the same sections with, item by
    // item, the same identity, image, title, flags, window, owner, position and size.
    static bool sectionsShowTheSame(const std::vector<MenuBarSection>& a, const std::vector<MenuBarSection>& b);
    // Owners whose items are never shown: three system components and Stashbay itself.
    static const std::unordered_set<std::string>& excludedBundleIDs();

private:
    AppState(std::shared_ptr<MenuBarScanner> scanner, std::shared_ptr<DisplayManager> displayManager,
             std::shared_ptr<PermissionsManager> permissions);

    runtime::Task<void> startServices();
    runtime::Task<void> loadArrangement();
    // After a failed load, before the save that would keep the file aside: the file again, taken
    // as the arrangement when it loads now. True when it still fails.
    runtime::Task<bool> reloadArrangementIfItFailed();
    runtime::Task<void> beginScanning();
    runtime::Task<void> setupEventTap();
    void setupEventDrivenTriggers();
    void removeEventDrivenTriggers();
    void handleSnapshot(std::vector<MenuBarItem> items);
    void publishSections(std::vector<MenuBarSection> sections);
    // Takes the drag out of the published state; a drag the tracker still holds is marked so that
    // its late moves and drop change nothing.
    void abandonDrag(bool trackerStillDragging);

    static runtime::Task<void> displayLoop(std::shared_ptr<AppState> self);
    static runtime::Task<void> scanLoop(std::shared_ptr<AppState> self);
    static runtime::Task<void> rescan(std::shared_ptr<MenuBarScanner> scanner);
    static runtime::Task<void> cleanup(std::shared_ptr<AppState> self);
    static runtime::Task<void> dragStarted(std::weak_ptr<AppState> weak, MenuBarItem item);
    static runtime::Task<void> dragMoved(std::weak_ptr<AppState> weak, cg::Point point);
    static runtime::Task<void> dragEnded(std::weak_ptr<AppState> weak, MenuBarItem item, cg::Point point);
    static runtime::Task<void> watchDrag(std::weak_ptr<AppState> weak);
    static runtime::Task<void> reinstallTap(std::shared_ptr<EventTapManager> tracker);

    template <class T>
    using Always = observation::Observable<T, observation::Announce::always>;

    observation::Observable<bool> isScanning_{false};
    observation::Observable<PanelMode> panelMode_{PanelMode::normal};
    observation::Observable<std::vector<MenuBarItem>> menuBarItems_;
    observation::Observable<std::vector<MenuBarSection>> sections_;
    Always<std::optional<DisplayInfo>> currentDisplay_;
    Always<std::vector<DisplayInfo>> allDisplays_;
    observation::Observable<IconArrangement> currentArrangement_{IconArrangement::empty()};
    observation::Observable<std::optional<MenuBarItem>> draggingItem_;
    observation::Observable<std::optional<cg::Point>> dragPosition_;
    std::shared_ptr<MenuBarScanner> scanner_;
    std::shared_ptr<DisplayManager> displayManager_;
    std::shared_ptr<PermissionsManager> permissions_;
    std::shared_ptr<ArrangementStore> arrangementStore_;
    std::shared_ptr<EventTapManager> eventTapManager_;
    Always<std::shared_ptr<UserPreferences>> preferences_;
    // Private and read by nobody outside, so they need no observation.
    runtime::TaskHandle<void> scanTask_;
    runtime::TaskHandle<void> displayTask_;
    runtime::TaskHandle<void> cleanupTask_;
    std::vector<ns::NotificationObserverToken> workspaceObservers_;
    std::vector<ns::NotificationObserverToken> defaultCenterObservers_;
    const os::Logger logger_;
    // The published drag's watch, and whether the tracker's current drag was given up on.
    runtime::TaskHandle<void> dragWatch_;
    bool dragAbandoned_ = false;
    // The arrangement file could not be loaded and nothing has been saved over it since.
    bool arrangementLoadFailed_ = false;
    // Re-installs the drag tracker's tap when Accessibility is granted again; from the tap's setup
    // to the stop.
    observation::ObservationToken accessibilityRegained_;
};

}  // namespace stashbay
