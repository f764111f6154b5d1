#pragma once

#include "macos/AppKit/MenuTracking.hpp"
#include "macos/sim/AlertSounds.hpp"
#include "macos/sim/ApplicationBehaviour.hpp"
#include "macos/sim/CaptureService.hpp"
#include "macos/sim/EventSystem.hpp"
#include "macos/sim/Faults.hpp"
#include "macos/sim/MenuBar.hpp"
#include "macos/sim/Permissions.hpp"
#include "macos/sim/ProcessTable.hpp"
#include "macos/sim/Scenario.hpp"
#include "macos/sim/ScreenSet.hpp"
#include "macos/sim/StatusItem.hpp"
#include "macos/sim/WindowServer.hpp"
#include "stashbay/runtime/EventLoop.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <vector>

namespace sim {

// The simulated desktop that every stand-in framework answers from. Exactly one exists at a
// time, made after the runtime's loop and destroyed before it; each test builds its own from a
// scenario. Its state lives in one small class per concern; changes go through the world so that
// it can post what the platform posts.
class World {
public:
    // The embedded default scenario.
    World();
    // Throws std::invalid_argument for a scenario the world cannot hold (the loader never
    // produces one).
    explicit World(const Scenario& scenario);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // The world that exists; aborts when there is none.
    static World& current();
    static World* currentOrNull();

    const ScreenSet& screens() const { return screens_; }
    const ProcessTable& processes() const { return processes_; }
    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }

    // Screen configuration. Each change posts the screen-parameters notification on the default
    // centre; each throws std::invalid_argument and changes nothing for a bad index or spec.
    void addScreen(ScreenSpec spec, std::optional<std::size_t> at = std::nullopt);
    void removeScreen(std::size_t index);
    void replaceScreen(std::size_t index, ScreenSpec spec);
    // Moves the screen's frame origin (and every rectangle of it) to `origin`. Moving the
    // primary screen moves the others the opposite way, since it stays at the origin.
    void moveScreen(std::size_t index, cg::Point origin);
    // Gives the keyboard focus to another screen, or to none.
    void setMainScreen(std::optional<std::size_t> index);

    // Applications. Launching a finished application, or finishing the launch of one, posts the
    // did-launch notification on the workspace's centre; quitting posts did-terminate. Throws
    // std::invalid_argument for a pid in use.
    std::shared_ptr<const Process> launchApplication(ProcessSpec spec);
    // Returns false when the application is not running or has finished launching already.
    bool finishLaunching(ProcessID pid);
    // Returns false when the application is not running. Stashbay itself does not quit here.
    bool quitApplication(ProcessID pid);
    // Quits the application and launches it again as it was first launched: the same bundle,
    // name, behaviour, status items and windows under a new process id. Null, and nothing
    // changes, when it is not running or is Stashbay itself.
    std::shared_ptr<const Process> relaunchApplication(ProcessID pid);
    // Returns false when the application is not running.
    bool setHidden(ProcessID pid, bool hidden);
    // What the frameworks call for an application handle; recorded for tests. False when the
    // application is not running in this world.
    bool activate(const Process& process, std::uint32_t options);
    bool unhide(const Process& process);

    // How an application answers accessibility calls and events; tests change it at run time.
    ApplicationBehaviour& behaviour(ProcessID pid) { return behaviours_[pid]; }
    const ApplicationBehaviour* behaviourOf(ProcessID pid) const;
    // How long an accessibility call waits for an application that does not answer.
    runtime::Duration accessibilityMessagingTimeout() const { return messagingTimeout_; }
    void setAccessibilityMessagingTimeout(runtime::Duration d) { messagingTimeout_ = d; }

    // Permissions, changeable at run time.
    Permissions& permissions() { return permissions_; }
    const Permissions& permissions() const { return permissions_; }
    // Screen capture: latencies, the access check's answer, requests made.
    CaptureService& captureService() { return captureService_; }
    const CaptureService& captureService() const { return captureService_; }
    // The alert sound the applications played.
    AlertSounds& alertSounds() { return alertSounds_; }
    const AlertSounds& alertSounds() const { return alertSounds_; }

    // The process the window list names as the owner of a window: the control-centre application
    // for every status window when the scenario says so and it runs, else the window's owner.
    ProcessID reportedOwner(const Window& window) const;
    void setStatusWindowsOwnedByControlCenter(bool owned) { statusWindowsOwnedByControlCenter_ = owned; }

    // The window server.
    const WindowServer& windowServer() const { return windows_; }
    WindowServer& windowServer() { return windows_; }
    // Opens an ordinary window of an application; returns its number.
    WindowNumber openWindow(ProcessID owner, const WindowSpec& spec);
    void closeWindow(WindowNumber number);

    // Events, event taps, the pointer and the cursor, and how applications act on events.
    EventSystem& events() { return events_; }
    const EventSystem& events() const { return events_; }

    // Status items and the bar. A new item enters at the left end; every change re-lays the bar.
    StatusItemID addStatusItem(ProcessID owner, StatusItemSpec spec);
    bool removeStatusItem(StatusItemID id);
    const StatusItem* statusItem(StatusItemID id) const;
    StatusItem* mutableStatusItem(StatusItemID id);
    const StatusItem* statusItemForWindow(WindowNumber number) const;
    // Right to left, as the bar orders them.
    std::vector<const StatusItem*> statusItems() const;
    // One application's items in the order it made them: the accessibility children order.
    std::vector<const StatusItem*> statusItemsOf(ProcessID owner) const;
    // Whether the application has an extras menu bar in its accessibility tree: from its first
    // status item on, for as long as it runs, even when it has removed every item since; not once
    // it has quit.
    bool hasExtrasMenuBar(ProcessID owner) const { return extrasMenuBarOwners_.count(owner) > 0; }
    const MenuBar& menuBar() const { return menuBar_; }
    void setMenuBarSpec(MenuBarSpec spec);
    // The bar's height on the primary screen (24 without a screen).
    double menuBarHeight() const;
    // Lays the bar out again now and moves every status window to its slot.
    void relayout();
    // The slots a bar of this order gets on the primary screen with the items' widths, one per
    // item of its order, moving nothing: what a move would leave, before it is made.
    std::vector<MenuBar::Slot> layoutOf(const MenuBar& bar) const;

    // What an application does for a command-drag of its item onto the status window of
    // `target`: moves the item just left of it, as its behaviour allows. Returns whether the
    // order changed.
    bool requestMove(StatusItemID item, StatusItemID target);
    // A plain click on an item wakes an application that ignores moves until clicked.
    void wake(StatusItemID item);
    // Completed moves, for tests.
    int moveCount() const { return moveCount_; }

    // Menus of status items: a window of the item's application at the pop-up-menu level.
    enum class MenuTrigger { press, showMenu, click };
    struct MenuEvent {
        StatusItemID item;
        MenuTrigger trigger;
        bool opened;
    };
    // Opens the item's menu (closing any other), unless its behaviour ignores the trigger. The
    // menu hangs under the item and stays on the primary screen, as a Mac keeps it: one that would
    // run past the screen's right edge moves left to end `menuScreenMargin` points short of it.
    // The application showing the menu takes the keyboard, so Stashbay's key window resigns.
    bool openMenu(StatusItemID item, MenuTrigger trigger);
    void closeMenus();
    // A menu's measures, in points: its width, a row, the room above the first and below the
    // last row, and the room it keeps from the screen's right edge.
    static constexpr double menuWidth = 240;
    static constexpr double menuRowHeight = 22;
    static constexpr double menuPadding = 5;
    static constexpr double menuScreenMargin = 5;
    // The open menu and its open submenus, top level first: each one's window, its entries and
    // its lit entry.
    struct MenuLevel {
        WindowNumber window = 0;
        const std::vector<MenuEntrySpec>* entries = nullptr;
        std::optional<std::size_t> highlighted;
    };
    std::vector<MenuLevel> openMenuLevels() const;
    // The application showing the menu tracks it as the platform does (ns::MenuTracking): the
    // pointer over an entry lights it and, resting there, opens its submenu; a pointer outside the
    // menus clears the lit entry; a release on an entry opens its submenu or chooses it. Moves
    // outside the open menus reach menuPointerMoved too, as the tracking application sees every
    // move of the session.
    void menuPointerMoved(cg::Point location);
    void menuReleased(cg::Point location);
    // The keys a menu takes (the arrows, Return, Enter and Escape) go to the application showing
    // the open menu, which moves the highlight, opens and closes submenus, chooses or closes.
    static constexpr std::uint16_t escapeKeyCode = 53;
    static bool isMenuKey(std::uint16_t keyCode);
    void menuKeyDown(std::uint16_t keyCode);
    std::optional<StatusItemID> openMenuItem() const {
        return openMenu_ ? std::optional(openMenu_->item) : std::nullopt;
    }
    std::optional<WindowNumber> openMenuWindow() const {
        return openMenu_ ? std::optional(openMenu_->window) : std::nullopt;
    }
    const std::vector<MenuEvent>& menuHistory() const { return menuHistory_; }
    // A mouse-down anywhere but on the open menu closes it; the same for the open popover.
    void noteMouseDown(cg::Point location);
    // Told of every mouse-down of the session (window-server space), wherever it goes: how an
    // application's own menu tracking sees the click that ends it.
    void setMouseDownObserver(std::function<void(cg::Point)> observer) { mouseDownObserver_ = std::move(observer); }
    // Told, with the owner, whenever an application opens a status item's menu.
    void setMenuOpenedObserver(std::function<void(ProcessID)> observer) { menuOpenedObserver_ = std::move(observer); }

    // A press of the item (the accessibility action or a left click): opens its menu or its
    // popover, as its behaviour says, unless it ignores presses. Returns whether one opened.
    bool pressItem(StatusItemID item, MenuTrigger trigger);
    // The accessibility press or show-menu action on the item: does what the item does for it
    // and returns the error code the caller sees, after the time a blocking item holds it.
    std::int32_t performItemAction(StatusItemID item, MenuTrigger trigger);
    // The popover-like window that a press opened, until a click elsewhere or its application's
    // quit closes it. It hangs under an item on the bar; an item off the bar has nowhere to hang it
    // from, so the window opens where the platform puts an application's new window: centred
    // across the primary screen's visible frame and a little above its middle (a quarter of the
    // free height above it, three quarters below). Openings are recorded in order.
    std::optional<StatusItemID> openPopoverItem() const {
        return openPopover_ ? std::optional(openPopover_->item) : std::nullopt;
    }
    std::optional<WindowNumber> openPopoverWindow() const {
        return openPopover_ ? std::optional(openPopover_->window) : std::nullopt;
    }
    void closePopover();
    const std::vector<StatusItemID>& popoverOpenings() const { return popoverOpenings_; }
    // An entry of an item's menu chosen, by its path of indices from the top level: the same for
    // a choice in the open menu and for the accessibility press of the entry. The menu closes and
    // the application does what the entry says: "Quit <its name>" quits it as quitApplication
    // does; a mark in a submenu moves to the chosen entry, any other mark is switched (off reads
    // as an empty mark); other entries change nothing. Neither a separator nor a disabled entry is
    // ever chosen (the tracking skips them, their press fails); passed here, one does nothing but
    // close the menu. Each choice is recorded, in order.
    struct MenuChoice {
        StatusItemID item;
        std::vector<std::size_t> path;
        friend bool operator==(const MenuChoice&, const MenuChoice&) = default;
    };
    void chooseMenuEntry(StatusItemID item, std::vector<std::size_t> path);
    const std::vector<MenuChoice>& menuChoices() const { return menuChoices_; }
    // Forgets the journals kept for tests (menus, choices, events), for a long run.
    void clearHistory() {
        menuHistory_.clear();
        menuChoices_.clear();
        events_.clearHistory();
    }

    // The world's one source of chance (temporary file names, whatever a seeded run draws), so
    // that a seed replays a run exactly. Seeded with 0 until a run seeds it.
    std::mt19937_64& random() { return random_; }
    void seedRandom(std::uint64_t seed) { random_.seed(seed); }

    // Runs `action` on the main loop after `delay` of virtual time, unless the world is gone. An
    // action that falls due while a synchronous platform call spends virtual time (spendTime) runs
    // inside that call, at its instant.
    void schedule(runtime::Duration delay, std::function<void()> action);
    // Runs `action` as the `n`th accessibility call into the application `pid` begins (counted
    // from 1 over the world's life), before the call reaches the application.
    void atAccessibilityCall(ProcessID pid, std::uint64_t n, std::function<void()> action);
    // What the accessibility stand-in calls as each call into an application begins.
    void noteAccessibilityCall(ProcessID pid);
    std::uint64_t accessibilityCallCount(ProcessID pid) const;
    // The time a synchronous platform call takes: the clock moves on by `d`, nothing else on the
    // loop runs, and the world's scheduled actions due within the span run at their instants.
    void spendTime(runtime::Duration d);

private:
    void postScreenParametersChanged();
    void postWorkspace(const char* name, const std::shared_ptr<Process>& process);
    static void clearObservers();
    void startApplication(ProcessID pid);
    void perform(const ScriptedAction& action);
    void stopApplication(ProcessID pid);
    // Takes the item, its window and its place in the bar out of the world.
    void forgetStatusItem(StatusItemID id);
    // While one lives, changes to the bar lay it out once, when the last goes.
    class DeferredLayout {
    public:
        explicit DeferredLayout(World& world) : world_(world) { ++world_.layoutDeferred_; }
        ~DeferredLayout();
        DeferredLayout(const DeferredLayout&) = delete;
        DeferredLayout& operator=(const DeferredLayout&) = delete;

    private:
        World& world_;
    };
    int layoutDeferred_ = 0;
    bool layoutPending_ = false;

    ScreenSet screens_;
    ProcessTable processes_;
    Faults faults_;
    Permissions permissions_;
    CaptureService captureService_;
    AlertSounds alertSounds_;
    WindowServer windows_;
    MenuBar menuBar_;
    std::map<StatusItemID, StatusItem> statusItems_;
    // Each application's items in creation order, and the item of each status window.
    std::map<ProcessID, std::vector<StatusItemID>> itemsByOwner_;
    std::map<WindowNumber, StatusItemID> itemByWindow_;
    StatusItemID nextStatusItem_ = 1;
    std::set<ProcessID> extrasMenuBarOwners_;
    std::map<ProcessID, ApplicationBehaviour> behaviours_;
    // How each application was launched, for a relaunch.
    std::map<ProcessID, ProcessSpec> launchSpecs_;
    // What each application puts on screen once it has finished launching.
    std::map<ProcessID, std::pair<std::vector<StatusItemSpec>, std::vector<WindowSpec>>> pendingContent_;
    runtime::Duration messagingTimeout_ = std::chrono::seconds(6);
    int moveCount_ = 0;
    bool statusWindowsOwnedByControlCenter_ = false;

    struct OpenMenu {
        StatusItemID item;
        WindowNumber window;
        std::uint64_t generation;
        // Per open submenu: the entry of the level above that it belongs to, and its window.
        std::vector<std::pair<std::size_t, WindowNumber>> submenus;
        // What is lit and open, as the application's tracking of the menu has it.
        std::unique_ptr<ns::MenuTracking> tracking;
    };
    // Where the pointer is in the open menus: the level and the entry (none between entries).
    std::optional<std::pair<std::size_t, std::optional<std::size_t>>> menuEntryAt(cg::Point location) const;
    // Keeps the windows of the first `levels` levels and closes the rest.
    void closeSubmenuWindows(std::size_t levels);
    // Opens the submenu of an entry of the deepest open level; its entries, none when it cannot.
    std::optional<std::vector<ns::MenuTracking::Entry>> openSubmenu(std::size_t level, std::size_t entry);
    // A menu's frame of `rows` rows hanging from `anchor` (its top-left), kept on the primary
    // screen; `leftOf` is where it goes instead when it does not fit right of the anchor.
    cg::Rect menuFrame(cg::Point anchor, std::size_t rows, std::optional<double> leftOf = std::nullopt) const;
    cg::Rect primaryBounds() const;
    // Where the popover-like window of a press on `item` opens (window-server space).
    cg::Rect popoverFrame(const StatusItem& item, cg::Size size) const;
    std::optional<OpenMenu> openMenu_;
    std::uint64_t menuGeneration_ = 0;
    std::vector<MenuEvent> menuHistory_;
    struct OpenPopover {
        StatusItemID item;
        WindowNumber window;
    };
    std::optional<OpenPopover> openPopover_;
    std::function<void(cg::Point)> mouseDownObserver_;
    std::function<void(ProcessID)> menuOpenedObserver_;
    std::vector<StatusItemID> popoverOpenings_;
    std::vector<MenuChoice> menuChoices_;

    struct ScheduledAction {
        runtime::Instant due;
        runtime::EventLoop::TimerID timer;
        std::function<void()> action;
    };
    // By order of scheduling, so that equal instants run first in, first out.
    std::map<std::uint64_t, ScheduledAction> scheduled_;
    std::uint64_t nextScheduled_ = 0;
    std::map<ProcessID, std::uint64_t> accessibilityCalls_;
    std::multimap<std::pair<ProcessID, std::uint64_t>, std::function<void()>> atAccessibilityCall_;
    std::mt19937_64 random_{0};
    // Last, so it goes first: its queued deliveries find it gone before the rest of the world.
    EventSystem events_{*this};
};

}  // namespace sim
