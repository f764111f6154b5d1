#include "macos/sim/World.hpp"

#include "macos/AppKit/Application.hpp"
#include "macos/CoreGraphics/WindowImage.hpp"
#include "macos/Foundation/Bundle.hpp"
#include "macos/Foundation/UserDefaults.hpp"
#include "macos/ServiceManagement/AppService.hpp"
#include "macos/sim/SystemNotifications.hpp"
#include "stashbay/BuildInfo.hpp"
#include "stashbay/runtime/EventLoop.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
World* gCurrent = nullptr;

std::vector<ns::MenuTracking::Entry> trackedEntries(const std::vector<MenuEntrySpec>& entries) {
    std::vector<ns::MenuTracking::Entry> out;
    for (const auto& e : entries) out.push_back({e.enabled, e.separator, !e.submenu.empty()});
    return out;
}

// The mark the platform shows for an entry switched on.
constexpr const char* onMark = "\u2713";

bool carriesMark(const MenuEntrySpec& entry) { return entry.markChar && !entry.markChar->empty(); }

// What choosing entry `chosen` of a menu level does to the marks, as an application keeps them:
// marks in a submenu are a choice among its entries (Units: "hPa" or "inHg"), so the chosen entry
// takes the mark from the others; elsewhere an entry's mark is a switch. A switch turned off keeps
// an empty mark, which reads as no mark, so that it can be turned on again.
void chooseMarked(std::vector<MenuEntrySpec>& level, std::size_t chosen, bool submenu) {
    auto& entry = level[chosen];
    if (submenu) {
        if (auto carrier = std::find_if(level.begin(), level.end(), carriesMark); carrier != level.end()) {
            const std::string mark = *carrier->markChar;
            for (auto& other : level)
                if (carriesMark(other)) other.markChar.reset();
            entry.markChar = mark;
            return;
        }
    }
    if (entry.markChar) entry.markChar = entry.markChar->empty() ? std::string(onMark) : std::string();
}
}  // namespace

ns::NotificationCenter& workspaceNotificationCenter() {
    static ns::NotificationCenter center;
    return center;
}

World::World() : World(defaultScenario()) {}

World::World(const Scenario& scenario)
    : screens_(scenario.screens, scenario.mainScreen),
      faults_(scenario.faults),
      permissions_(scenario.permissions),
      menuBar_(scenario.menuBar) {
    if (gCurrent) {
        std::fprintf(stderr, "only one sim::World may exist at a time\n");
        std::abort();
    }
    if (!runtime::EventLoop::currentOrNull()) {
        std::fprintf(stderr, "a sim::World needs the runtime's loop: make it first\n");
        std::abort();
    }
    for (const auto& spec : scenario.applications) {
        auto process = processes_.launch(spec);
        launchSpecs_[process->pid()] = spec;
        behaviours_[process->pid()] = spec.behaviour;
        pendingContent_[process->pid()] = {spec.statusItems, spec.windows};
        if (!processes_.self() && process->bundleIdentifier() == stashbay::build::bundleIdentifier) {
            processes_.makeSelf(process);
        }
    }
    {
        // The bar is laid out once, after every application has put its items there.
        DeferredLayout batch(*this);
        for (const auto& process : processes_.listed()) {
            if (process->isFinishedLaunching() && !process->isTerminated()) startApplication(process->pid());
        }
    }
    if (!processes_.self()) {
        ProcessSpec self;
        self.bundleIdentifier = stashbay::build::bundleIdentifier;
        self.localizedName = "Stashbay";
        processes_.makeSelf(processes_.launch(std::move(self)));
    }
    statusWindowsOwnedByControlCenter_ = scenario.statusWindowsOwnedByControlCenter;
    for (const auto& action : scenario.script) {
        if (action.at)
            schedule(*action.at, [this, action] { perform(action); });
        else
            atAccessibilityCall(action.callsTo, *action.atAccessibilityCall, [this, action] { perform(action); });
    }
    // Observers left by an earlier test must not see this world's changes, and a fresh world
    // starts with empty defaults, no login item and the build's own bundle information, all in
    // memory. The app points the defaults and the login item at their real files afterwards.
    clearObservers();
    ns::UserDefaults::resetStandard(std::nullopt);
    sm::AppService::mainApp().resetInMemory();
    ns::Bundle::main().reset();
    // The window-image function is found by name at run time, so its library must be in the
    // process before anything looks for it.
    cg::loadWindowImageLibrary();
    // The application object of an earlier world goes with it.
    ns::Application::resetShared();
    gCurrent = this;
}

World::DeferredLayout::~DeferredLayout() {
    if (--world_.layoutDeferred_ == 0 && world_.layoutPending_) world_.relayout();
}

World::~World() {
    if (auto* loop = runtime::EventLoop::currentOrNull()) {
        for (const auto& [seq, scheduled] : scheduled_) loop->cancelTimer(scheduled.timer);
    }
    clearObservers();
    ns::Application::resetShared();
    gCurrent = nullptr;
}

World& World::current() {
    if (!gCurrent) {
        std::fprintf(stderr, "no sim::World exists: the frameworks answer from one\n");
        std::abort();
    }
    return *gCurrent;
}

World* World::currentOrNull() { return gCurrent; }

void World::clearObservers() {
    ns::NotificationCenter::defaultCenter().removeAllObservers();
    workspaceNotificationCenter().removeAllObservers();
}

void World::postScreenParametersChanged() {
    ns::NotificationCenter::defaultCenter().post(notification::screenParametersChanged);
}

void World::postWorkspace(const char* name, const std::shared_ptr<Process>& process) {
    // The workspace's launch and termination notifications leave agent applications out.
    if (process && process->isAgent()) return;
    ns::Notification n{name, 0, {}};
    n.userInfo[notification::applicationKey] = cf::Value(cf::Value::ObjectRef(process));
    workspaceNotificationCenter().post(n);
}

void World::addScreen(ScreenSpec spec, std::optional<std::size_t> at) {
    screens_.add(std::move(spec), at);
    relayout();
    postScreenParametersChanged();
}

void World::removeScreen(std::size_t index) {
    screens_.remove(index);
    relayout();
    postScreenParametersChanged();
}

void World::replaceScreen(std::size_t index, ScreenSpec spec) {
    screens_.replace(index, std::move(spec));
    relayout();
    postScreenParametersChanged();
}

void World::moveScreen(std::size_t index, cg::Point origin) {
    screens_.moveTo(index, origin);
    relayout();
    postScreenParametersChanged();
}

void World::setMainScreen(std::optional<std::size_t> index) {
    screens_.setMain(index);
    postScreenParametersChanged();
}

std::shared_ptr<const Process> World::launchApplication(ProcessSpec spec) {
    auto behaviour = spec.behaviour;
    auto content = std::make_pair(spec.statusItems, spec.windows);
    ProcessSpec remembered = spec;
    auto process = processes_.launch(std::move(spec));
    launchSpecs_[process->pid()] = std::move(remembered);
    behaviours_[process->pid()] = std::move(behaviour);
    pendingContent_[process->pid()] = std::move(content);
    if (process->isFinishedLaunching() && !process->isTerminated()) {
        startApplication(process->pid());
        postWorkspace(notification::didLaunchApplication, process);
    }
    return process;
}

bool World::finishLaunching(ProcessID pid) {
    if (!processes_.finishLaunching(pid)) return false;
    startApplication(pid);
    postWorkspace(notification::didLaunchApplication, processes_.find(pid));
    return true;
}

bool World::quitApplication(ProcessID pid) {
    if (pid == processes_.selfPid()) return false;
    auto process = processes_.terminate(pid);
    if (!process) return false;
    stopApplication(pid);
    // A process id is never used again: what was kept to run or relaunch this process goes with
    // it, so that a world where applications come and go does not grow.
    launchSpecs_.erase(pid);
    behaviours_.erase(pid);
    pendingContent_.erase(pid);
    accessibilityCalls_.erase(pid);
    extrasMenuBarOwners_.erase(pid);
    std::erase_if(atAccessibilityCall_, [pid](const auto& entry) { return entry.first.first == pid; });
    postWorkspace(notification::didTerminateApplication, process);
    return true;
}

std::shared_ptr<const Process> World::relaunchApplication(ProcessID pid) {
    auto spec = launchSpecs_.find(pid);
    if (spec == launchSpecs_.end()) return nullptr;
    ProcessSpec again = spec->second;
    if (!quitApplication(pid)) return nullptr;
    again.pid.reset();
    again.finishedLaunching = true;
    again.terminated = false;
    return launchApplication(std::move(again));
}

void World::startApplication(ProcessID pid) {
    auto it = pendingContent_.find(pid);
    if (it == pendingContent_.end()) return;
    auto [items, windows] = std::move(it->second);
    pendingContent_.erase(it);
    DeferredLayout batch(*this);
    for (auto& spec : items) addStatusItem(pid, std::move(spec));
    for (auto w = windows.rbegin(); w != windows.rend(); ++w) openWindow(pid, *w);
}

void World::stopApplication(ProcessID pid) {
    std::vector<StatusItemID> gone;
    for (const auto& [id, item] : statusItems_)
        if (item.owner == pid) gone.push_back(id);
    if (openMenu_) {
        const auto* item = statusItem(openMenu_->item);
        if (item && item->owner == pid) closeMenus();
    }
    if (const auto* w = openPopover_ ? windows_.find(openPopover_->window) : nullptr; w && w->owner == pid)
        closePopover();
    for (auto id : gone) forgetStatusItem(id);
    std::vector<WindowNumber> windows;
    for (const Window* w : windows_.ordered())
        if (w->owner == pid) windows.push_back(w->number);
    for (auto number : windows) windows_.destroy(number);
    relayout();
}

const ApplicationBehaviour* World::behaviourOf(ProcessID pid) const {
    auto it = behaviours_.find(pid);
    return it == behaviours_.end() ? nullptr : &it->second;
}

WindowNumber World::openWindow(ProcessID owner, const WindowSpec& spec) { return windows_.create(owner, spec); }

void World::closeWindow(WindowNumber number) {
    if (openMenu_ && openMenu_->window == number) closeMenus();
    if (openMenu_) {
        auto& submenus = openMenu_->submenus;
        auto it =
            std::find_if(submenus.begin(), submenus.end(), [number](const auto& s) { return s.second == number; });
        if (it != submenus.end()) {
            // The submenu at index i is level i + 1: the levels above it stay.
            const auto keep = static_cast<std::size_t>(it - submenus.begin()) + 1;
            closeSubmenuWindows(keep);
            openMenu_->tracking->submenusGone(keep);
        }
    }
    if (openPopover_ && openPopover_->window == number) openPopover_.reset();
    windows_.destroy(number);
}

StatusItemID World::addStatusItem(ProcessID owner, StatusItemSpec spec) {
    StatusItem item;
    item.id = nextStatusItem_++;
    item.owner = owner;
    extrasMenuBarOwners_.insert(owner);
    WindowSpec window;
    window.layer = WindowLevel::statusItem;
    window.onScreen = false;
    window.color = spec.iconColor;
    if (spec.statusWindow) {
        item.window = windows_.create(owner, window, item.id);
        if (auto* w = windows_.find(item.window)) w->captureFails = spec.captureFails;
    }
    item.spec = std::move(spec);
    auto id = item.id;
    itemsByOwner_[owner].push_back(id);
    if (item.window != 0) itemByWindow_[item.window] = id;
    statusItems_.emplace(id, std::move(item));
    menuBar_.insertAtLeftEnd(id);
    relayout();
    return id;
}

bool World::removeStatusItem(StatusItemID id) {
    auto it = statusItems_.find(id);
    if (it == statusItems_.end()) return false;
    if (openMenu_ && openMenu_->item == id) closeMenus();
    if (openPopover_ && openPopover_->item == id) closePopover();
    forgetStatusItem(id);
    relayout();
    return true;
}

const StatusItem* World::statusItem(StatusItemID id) const {
    auto it = statusItems_.find(id);
    return it == statusItems_.end() ? nullptr : &it->second;
}

StatusItem* World::mutableStatusItem(StatusItemID id) {
    auto it = statusItems_.find(id);
    return it == statusItems_.end() ? nullptr : &it->second;
}

const StatusItem* World::statusItemForWindow(WindowNumber number) const {
    auto it = itemByWindow_.find(number);
    return it == itemByWindow_.end() ? nullptr : statusItem(it->second);
}

void World::forgetStatusItem(StatusItemID id) {
    auto it = statusItems_.find(id);
    if (it == statusItems_.end()) return;
    if (it->second.window != 0) {
        windows_.destroy(it->second.window);
        itemByWindow_.erase(it->second.window);
    }
    auto& owned = itemsByOwner_[it->second.owner];
    std::erase(owned, id);
    if (owned.empty()) itemsByOwner_.erase(it->second.owner);
    menuBar_.remove(id);
    statusItems_.erase(it);
}

std::vector<const StatusItem*> World::statusItems() const {
    std::vector<const StatusItem*> out;
    for (auto id : menuBar_.order()) out.push_back(&statusItems_.at(id));
    return out;
}

std::vector<const StatusItem*> World::statusItemsOf(ProcessID owner) const {
    std::vector<const StatusItem*> out;
    auto it = itemsByOwner_.find(owner);
    if (it == itemsByOwner_.end()) return out;
    for (auto id : it->second) out.push_back(&statusItems_.at(id));
    return out;
}

void World::setMenuBarSpec(MenuBarSpec spec) {
    menuBar_.setSpec(spec);
    relayout();
}

double World::menuBarHeight() const {
    const auto& screens = screens_.screens();
    return screens.empty() ? 24.0 : MenuBar::height(screens.front()->spec());
}

void World::relayout() {
    if (layoutDeferred_ > 0) {
        layoutPending_ = true;
        return;
    }
    layoutPending_ = false;
    auto slots = layoutOf(menuBar_);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        auto& item = statusItems_.at(menuBar_.order()[i]);
        item.frame = slots[i].frame;
        item.onBar = slots[i].onBar;
        item.shown = slots[i].shown;
        if (auto* w = windows_.find(item.window)) {
            w->bounds = item.frame;
            w->onScreen = item.onBar;
        }
    }
}

std::vector<MenuBar::Slot> World::layoutOf(const MenuBar& bar) const {
    std::optional<ScreenSpec> primary;
    if (!screens_.screens().empty()) primary = screens_.screens().front()->spec();
    std::vector<double> widths;
    widths.reserve(bar.order().size());
    for (auto id : bar.order()) widths.push_back(statusItems_.at(id).spec.width);
    return bar.layout(primary, widths);
}

bool World::requestMove(StatusItemID id, StatusItemID target) {
    auto* item = mutableStatusItem(id);
    if (!item || !statusItem(target) || id == target) return false;
    const auto& behaviour = item->spec.behaviour;
    using Move = StatusItemBehaviour::Move;
    if (behaviour.move == Move::never) return false;
    if (behaviour.move == Move::ignoresUntilClick && !item->awake) return false;
    auto previous = menuBar_.indexOf(id);
    if (!menuBar_.moveLeftOf(id, target)) return false;
    ++moveCount_;
    auto settle = [this, id, previous, behaviour] {
        relayout();
        if (behaviour.move == Move::springsBack && previous) {
            schedule(behaviour.springBackAfter, [this, id, previous] {
                if (!statusItem(id)) return;
                menuBar_.placeAt(id, *previous);
                relayout();
            });
        }
    };
    if (behaviour.moveLatency > runtime::Duration::zero())
        schedule(behaviour.moveLatency, settle);
    else
        settle();
    return true;
}

void World::wake(StatusItemID id) {
    if (auto* item = mutableStatusItem(id)) item->awake = true;
}

bool World::openMenu(StatusItemID id, MenuTrigger trigger) {
    const auto* item = statusItem(id);
    if (!item) return false;
    const auto& behaviour = item->spec.behaviour;
    bool ignored = (trigger == MenuTrigger::press && behaviour.ignoresPress) ||
                   (trigger == MenuTrigger::showMenu && behaviour.ignoresShowMenu);
    menuHistory_.push_back(MenuEvent{id, trigger, !ignored});
    if (ignored) return false;
    closeMenus();
    std::size_t rows = std::max<std::size_t>(item->spec.menu.size(), 1);
    WindowSpec spec;
    spec.layer = WindowLevel::popUpMenu;
    spec.bounds = menuFrame({item->frame.minX(), item->frame.maxY()}, rows);
    spec.onScreen = true;
    spec.color = 0xF4F4F4FF;
    auto window = windows_.create(item->owner, spec);
    auto generation = ++menuGeneration_;
    ns::MenuTracking::Owner owner;
    owner.openSubmenu = [this](std::size_t level, std::size_t entry) { return openSubmenu(level, entry); };
    owner.closeSubmenus = [this](std::size_t keep) { closeSubmenuWindows(keep); };
    owner.choose = [this, id](const std::vector<std::size_t>& path) { chooseMenuEntry(id, path); };
    owner.dismiss = [this] { closeMenus(); };
    // The desktop sees the lit entries in the world's picture; nothing to ask here.
    owner.schedule = [this](runtime::Duration delay, std::function<void()> action) {
        schedule(delay, std::move(action));
    };
    openMenu_ = OpenMenu{id,
                         window,
                         generation,
                         {},
                         std::make_unique<ns::MenuTracking>(trackedEntries(item->spec.menu), std::move(owner))};
    if (behaviour.menuClosesAfter) {
        schedule(*behaviour.menuClosesAfter, [this, generation] {
            if (openMenu_ && openMenu_->generation == generation) closeMenus();
        });
    }
    if (menuOpenedObserver_) {
        auto observer = menuOpenedObserver_;
        observer(item->owner);
    }
    return true;
}

void World::closeMenus() {
    if (!openMenu_) return;
    closeSubmenuWindows(1);
    windows_.destroy(openMenu_->window);
    openMenu_.reset();
}

cg::Rect World::primaryBounds() const {
    const auto& screens = screens_.screens();
    if (screens.empty()) return cg::Rect{0, 0, 1e9, 1e9};
    const auto& frame = screens.front()->spec().frame;
    return cg::Rect{0, 0, frame.width(), frame.height()};
}

cg::Rect World::popoverFrame(const StatusItem& item, cg::Size size) const {
    const cg::Rect screen = primaryBounds();
    if (item.onBar) {
        // Under the item, kept on the primary screen as a Mac keeps a popover.
        double x = std::max(screen.minX(), std::min(item.frame.minX(), screen.maxX() - size.width));
        double y = std::max(screen.minY(), std::min(item.frame.maxY() + 4, screen.maxY() - size.height));
        return cg::Rect{x, y, size.width, size.height};
    }
    // A new window of the application: centred across the visible frame (below the menu bar), a
    // quarter of the free height above it.
    cg::Rect visible = screen;
    if (const auto& screens = screens_.screens(); !screens.empty()) {
        const auto& spec = screens.front()->spec();
        visible = cg::Rect{spec.visibleFrame.minX(), spec.frame.height() - spec.visibleFrame.maxY(),
                           spec.visibleFrame.width(), spec.visibleFrame.height()};
    }
    const double x = visible.minX() + (visible.width() - size.width) / 2;
    const double y = visible.minY() + std::max(0.0, visible.height() - size.height) / 4;
    return cg::Rect{x, y, size.width, size.height};
}

cg::Rect World::menuFrame(cg::Point anchor, std::size_t rows, std::optional<double> leftOf) const {
    const cg::Rect screen = primaryBounds();
    const double height = 2 * menuPadding + menuRowHeight * static_cast<double>(rows);
    double x = anchor.x;
    if (x + menuWidth > screen.maxX()) x = leftOf ? *leftOf - menuWidth : screen.maxX() - menuScreenMargin - menuWidth;
    x = std::max(x, screen.minX());
    double y = anchor.y;
    if (y + height > screen.maxY()) y = std::max(screen.minY(), screen.maxY() - height);
    return cg::Rect{x, y, menuWidth, height};
}

std::vector<World::MenuLevel> World::openMenuLevels() const {
    std::vector<MenuLevel> levels;
    if (!openMenu_) return levels;
    const auto* item = statusItem(openMenu_->item);
    if (!item) return levels;
    levels.push_back(MenuLevel{openMenu_->window, &item->spec.menu, std::nullopt});
    for (const auto& [entry, window] : openMenu_->submenus) {
        const auto& above = *levels.back().entries;
        if (entry >= above.size()) break;
        levels.push_back(MenuLevel{window, &above[entry].submenu, std::nullopt});
    }
    for (std::size_t level = 0; level < levels.size(); ++level)
        levels[level].highlighted = openMenu_->tracking->highlighted(level);
    return levels;
}

std::optional<std::pair<std::size_t, std::optional<std::size_t>>> World::menuEntryAt(cg::Point location) const {
    auto levels = openMenuLevels();
    // Deeper menus lie over the ones they come from.
    for (std::size_t level = levels.size(); level-- > 0;) {
        const auto* w = windows_.find(levels[level].window);
        if (!w || !w->bounds.contains(location)) continue;
        double row = std::floor((location.y - w->bounds.minY() - menuPadding) / menuRowHeight);
        std::optional<std::size_t> entry;
        if (row >= 0 && row < static_cast<double>(levels[level].entries->size())) entry = static_cast<std::size_t>(row);
        return std::pair(level, entry);
    }
    return std::nullopt;
}

void World::closeSubmenuWindows(std::size_t levels) {
    if (!openMenu_) return;
    auto& submenus = openMenu_->submenus;
    while (submenus.size() + 1 > std::max<std::size_t>(levels, 1)) {
        windows_.destroy(submenus.back().second);
        submenus.pop_back();
    }
}

std::optional<std::vector<ns::MenuTracking::Entry>> World::openSubmenu(std::size_t level, std::size_t entry) {
    auto levels = openMenuLevels();
    if (level + 1 != levels.size() || entry >= levels[level].entries->size()) return std::nullopt;
    const auto* parent = windows_.find(levels[level].window);
    const auto& submenu = (*levels[level].entries)[entry].submenu;
    if (!parent || submenu.empty()) return std::nullopt;
    // Beside its entry, overlapping the menu a little; left of the menu when the screen ends.
    const double top = parent->bounds.minY() + menuRowHeight * static_cast<double>(entry);
    WindowSpec spec;
    spec.layer = WindowLevel::popUpMenu;
    spec.bounds = menuFrame({parent->bounds.maxX() - 4, top}, submenu.size(), parent->bounds.minX() + 4);
    spec.onScreen = true;
    spec.color = 0xF4F4F4FF;
    openMenu_->submenus.emplace_back(entry, windows_.create(parent->owner, spec));
    return trackedEntries(submenu);
}

void World::menuPointerMoved(cg::Point location) {
    if (!openMenu_) return;
    auto at = menuEntryAt(location);
    if (!at)
        openMenu_->tracking->pointerLeft();
    else
        openMenu_->tracking->pointerOver(at->first, at->second);
}

void World::menuReleased(cg::Point location) {
    auto at = menuEntryAt(location);
    if (!openMenu_ || !at || !at->second) return;
    // Choosing may close the menu and end its tracking inside the call.
    openMenu_->tracking->click(at->first, *at->second);
}

bool World::isMenuKey(std::uint16_t keyCode) { return ns::MenuTracking::isMenuKey(keyCode); }

void World::menuKeyDown(std::uint16_t keyCode) {
    if (openMenu_) openMenu_->tracking->keyDown(keyCode);
}

void World::noteMouseDown(cg::Point location) {
    if (mouseDownObserver_) {
        auto observer = mouseDownObserver_;
        observer(location);
    }
    if (openPopover_) {
        const auto* w = windows_.find(openPopover_->window);
        if (!w || !w->bounds.contains(location)) closePopover();
    }
    if (!openMenu_) return;
    if (menuEntryAt(location)) return;
    closeMenus();
}

bool World::pressItem(StatusItemID id, MenuTrigger trigger) {
    const auto* item = statusItem(id);
    if (!item) return false;
    const auto& behaviour = item->spec.behaviour;
    if (behaviour.opens == StatusItemBehaviour::Opens::menu) return openMenu(id, trigger);
    if (trigger == MenuTrigger::press && behaviour.ignoresPress) return false;
    closePopover();
    WindowSpec spec;
    spec.layer = behaviour.windowLayer;
    spec.bounds = popoverFrame(*item, {320, 240});
    spec.onScreen = true;
    spec.color = 0xECECECFF;
    if (auto process = processes_.find(item->owner)) spec.name = process->localizedName();
    openPopover_ = OpenPopover{id, windows_.create(item->owner, spec)};
    popoverOpenings_.push_back(id);
    return true;
}

void World::closePopover() {
    if (!openPopover_) return;
    windows_.destroy(openPopover_->window);
    openPopover_.reset();
}

std::int32_t World::performItemAction(StatusItemID id, MenuTrigger trigger) {
    const auto* item = statusItem(id);
    if (!item) return -25202;  // invalid element
    const auto behaviour = item->spec.behaviour;
    if (trigger == MenuTrigger::showMenu && behaviour.showMenuError) {
        menuHistory_.push_back(MenuEvent{id, trigger, false});
        return *behaviour.showMenuError;
    }
    // An application that ignores the action still reports success, as the platform does.
    if (trigger == MenuTrigger::showMenu) {
        openMenu(id, trigger);
    } else {
        pressItem(id, trigger);
    }
    if (!behaviour.blocksWhileMenuOpen || openMenuItem() != id) return 0;
    // The application tracks its menu and answers only when the menu has closed; the caller
    // gives up at the messaging timeout.
    auto wait = messagingTimeout_;
    bool closesFirst = behaviour.menuClosesAfter && *behaviour.menuClosesAfter < wait;
    if (closesFirst) wait = *behaviour.menuClosesAfter;
    spendTime(wait);
    if (!closesFirst) return -25204;  // cannot complete: the caller gave up first
    // The menu closed while the caller still waited: the application answers, and the action
    // succeeded.
    closeMenus();
    return 0;
}

void World::chooseMenuEntry(StatusItemID id, std::vector<std::size_t> path) {
    menuChoices_.push_back(MenuChoice{id, path});
    closeMenus();
    auto* item = mutableStatusItem(id);
    if (!item || path.empty()) return;
    auto* level = &item->spec.menu;
    for (std::size_t depth = 0; depth + 1 < path.size(); ++depth) {
        if (path[depth] >= level->size()) return;
        level = &(*level)[path[depth]].submenu;
    }
    if (path.back() >= level->size()) return;
    const auto& entry = (*level)[path.back()];
    if (entry.separator || !entry.enabled) return;
    const auto process = processes_.find(item->owner);
    if (process && process->localizedName() && entry.title == "Quit " + *process->localizedName()) {
        quitApplication(item->owner);
        return;
    }
    chooseMarked(*level, path.back(), path.size() > 1);
}

void World::schedule(runtime::Duration delay, std::function<void()> action) {
    auto& loop = runtime::EventLoop::current();
    auto seq = nextScheduled_++;
    auto due = loop.clock().now() + delay;
    auto timer = loop.scheduleTimer(due, [this, seq] {
        auto it = scheduled_.find(seq);
        if (it == scheduled_.end()) return;
        auto action = std::move(it->second.action);
        scheduled_.erase(it);
        action();
    });
    scheduled_.emplace(seq, ScheduledAction{due, timer, std::move(action)});
}

void World::perform(const ScriptedAction& action) {
    switch (action.kind) {
        case ScriptedAction::Kind::quit: quitApplication(action.pid); break;
        case ScriptedAction::Kind::hang:
            if (processes_.find(action.pid)) behaviours_[action.pid].hung = true;
            break;
        case ScriptedAction::Kind::removeStatusItem:
            if (auto items = statusItemsOf(action.pid); action.statusItem < items.size())
                removeStatusItem(items[action.statusItem]->id);
            break;
    }
}

ProcessID World::reportedOwner(const Window& window) const {
    if (!statusWindowsOwnedByControlCenter_ || !statusItemForWindow(window.number)) return window.owner;
    for (const auto& process : processes_.listed()) {
        if (process->bundleIdentifier() == "com.apple.controlcenter" && !process->isTerminated()) return process->pid();
    }
    return window.owner;
}

void World::spendTime(runtime::Duration d) {
    auto& loop = runtime::EventLoop::current();
    auto& clock = loop.clock();
    // On the system clock a scripted cost takes no time at all, so nothing falls inside it.
    if (!clock.isManual()) return;
    const auto end = clock.now() + std::max(d, runtime::Duration::zero());
    for (;;) {
        // The earliest action due within the span; the first scheduled among equal instants.
        auto next = scheduled_.end();
        for (auto it = scheduled_.begin(); it != scheduled_.end(); ++it) {
            if (it->second.due <= end && (next == scheduled_.end() || it->second.due < next->second.due)) next = it;
        }
        if (next == scheduled_.end()) break;
        if (next->second.due > clock.now()) clock.consume(next->second.due - clock.now());
        loop.cancelTimer(next->second.timer);
        auto action = std::move(next->second.action);
        scheduled_.erase(next);
        action();
    }
    if (end > clock.now()) clock.consume(end - clock.now());
}

void World::atAccessibilityCall(ProcessID pid, std::uint64_t n, std::function<void()> action) {
    atAccessibilityCall_.emplace(std::pair(pid, n), std::move(action));
}

void World::noteAccessibilityCall(ProcessID pid) {
    auto n = ++accessibilityCalls_[pid];
    auto [first, last] = atAccessibilityCall_.equal_range(std::pair(pid, n));
    std::vector<std::function<void()>> due;
    for (auto it = first; it != last; ++it) due.push_back(std::move(it->second));
    atAccessibilityCall_.erase(first, last);
    for (auto& action : due) action();
}

std::uint64_t World::accessibilityCallCount(ProcessID pid) const {
    auto it = accessibilityCalls_.find(pid);
    return it == accessibilityCalls_.end() ? 0 : it->second;
}

bool World::setHidden(ProcessID pid, bool hidden) { return processes_.setHidden(pid, hidden); }

bool World::activate(const Process& process, std::uint32_t options) { return processes_.activate(process, options); }

bool World::unhide(const Process& process) { return processes_.unhide(process); }

}  // namespace sim
