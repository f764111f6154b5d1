#include "App/AppState.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/AppKit/Screen.hpp"
#include "macos/AppKit/Workspace.hpp"

#include <utility>

namespace stashbay {

std::shared_ptr<AppState> AppState::create() {
    // In argument order, before the state exists; the permissions service reads both permissions.
    auto scanner = MenuBarScanner::create();
    auto displayManager = DisplayManager::create();
    auto permissions = PermissionsManager::create();
    return create(std::move(scanner), std::move(displayManager), std::move(permissions));
}

std::shared_ptr<AppState> AppState::create(std::shared_ptr<MenuBarScanner> scanner,
                                           std::shared_ptr<DisplayManager> displayManager,
                                           std::shared_ptr<PermissionsManager> permissions) {
    return std::shared_ptr<AppState>(
        new AppState(std::move(scanner), std::move(displayManager), std::move(permissions)));
}

AppState::AppState(std::shared_ptr<MenuBarScanner> scanner, std::shared_ptr<DisplayManager> displayManager,
                   std::shared_ptr<PermissionsManager> permissions)
    : scanner_(std::move(scanner)),
      displayManager_(std::move(displayManager)),
      permissions_(std::move(permissions)),
      arrangementStore_(std::make_shared<ArrangementStore>()),
      eventTapManager_(EventTapManager::create()),
      logger_(log::componentLogger("appState")) {}

runtime::Task<void> AppState::start() {
    runtime::assertMainExecutor("AppState.start");
    logger_.info("AppState starting...");
    permissions_->checkPermissions();
    const auto& preferences = preferences_.get();
    if (preferences && !preferences->hasCompletedOnboarding()) {
        panelMode_.set(PanelMode::onboarding);
        permissions_->startPolling(/*fast=*/true);
        co_return;
    }
    panelMode_.set(PanelMode::normal);
    auto starting = startServices();
    co_await starting;
    logger_.info("AppState started");
}

runtime::Task<void> AppState::startAfterOnboarding() {
    runtime::assertMainExecutor("AppState.startAfterOnboarding");
    logger_.info("AppState starting after onboarding...");
    auto starting = startServices();
    co_await starting;
    logger_.info("AppState started after onboarding");
}

// Both starts end the same way: slow permission polling, the arrangement, both loops, the tap.
runtime::Task<void> AppState::startServices() {
    permissions_->startPolling(/*fast=*/false);
    auto loading = loadArrangement();
    co_await loading;
    auto beginning = beginScanning();
    co_await beginning;
    auto settingUp = setupEventTap();
    co_await settingUp;
}

runtime::Task<void> AppState::loadArrangement() {
    try {
        auto loading = arrangementStore_->load();
        IconArrangement arrangement = co_await loading;
        co_await runtime::hopTo(runtime::mainExecutor());
        currentArrangement_.set(std::move(arrangement));
        arrangementLoadFailed_ = false;
        long count = static_cast<long>(currentArrangement_.get().assignments().size());
        logger_.info("Loaded arrangement with %ld items", count);
        co_return;
    } catch (const std::exception& error) {
        logger_.error("Failed to load arrangement: %@", error);
    }
    co_await runtime::hopTo(runtime::mainExecutor());
    currentArrangement_.set(IconArrangement::empty());
    arrangementLoadFailed_ = true;
}

runtime::Task<bool> AppState::reloadArrangementIfItFailed() {
    runtime::assertMainExecutor("AppState.reloadArrangementIfItFailed");
    if (!arrangementLoadFailed_) co_return false;
    // A file the person mended while the app ran is theirs to keep: only one that still fails to
    // load is kept aside by the save. The store caches nothing after a failed load, so this reads.
    arrangementLoadFailed_ = false;
    std::optional<IconArrangement> reloaded;
    try {
        auto loading = arrangementStore_->load();
        reloaded = co_await loading;
    } catch (const std::exception&) {
        // Still unreadable: already reported at the start, and the save keeps it aside.
    }
    co_await runtime::hopTo(runtime::mainExecutor());
    if (!reloaded) co_return true;
    currentArrangement_.set(std::move(*reloaded));
    long count = static_cast<long>(currentArrangement_.get().assignments().size());
    logger_.info("Loaded arrangement with %ld items", count);
    co_return false;
}

runtime::Task<void> AppState::beginScanning() {
    runtime::assertMainExecutor("AppState.beginScanning");
    isScanning_.set(true);
    logger_.info("Beginning display monitoring and scanning");
    // An earlier loop is replaced, not cancelled: restarting its service ends its stream.
    displayTask_ = runtime::spawn(runtime::mainExecutor(), displayLoop(shared_from_this()));
    scanTask_ = runtime::spawn(runtime::mainExecutor(), scanLoop(shared_from_this()));
    setupEventDrivenTriggers();
    co_return;
}

runtime::Task<void> AppState::displayLoop(std::shared_ptr<AppState> self) {
    auto starting = self->displayManager_->startMonitoring();
    DisplayManager::DisplayStream stream = co_await starting;
    for (;;) {
        auto next = stream.next();
        std::optional<std::vector<DisplayInfo>> displays = co_await next;
        if (!displays) break;
        std::optional<DisplayInfo> main;
        for (const auto& display : *displays) {
            if (display.isMain()) {
                main = display;
                break;
            }
        }
        long count = static_cast<long>(displays->size());
        self->allDisplays_.set(std::move(*displays));
        self->currentDisplay_.set(std::move(main));
        self->logger_.debug("Display update: %ld screen(s)", count);
    }
    self->logger_.error("Display stream ended unexpectedly");
}

runtime::Task<void> AppState::scanLoop(std::shared_ptr<AppState> self) {
    auto starting = self->scanner_->startScanning();
    MenuBarScanner::SnapshotStream stream = co_await starting;
    for (;;) {
        auto next = stream.next();
        std::optional<MenuBarScanner::Snapshot> items = co_await next;
        if (!items) break;
        self->handleSnapshot(*items);
        // The next snapshot is taken only once the tracker has this one.
        auto updating = self->eventTapManager_->updateMenuBarItems(std::move(*items));
        co_await updating;
    }
    self->logger_.error("Scan stream ended unexpectedly");
}

void AppState::handleSnapshot(std::vector<MenuBarItem> items) {
    auto sections = computeSections(items, currentDisplay_.get(), currentArrangement_.get());
    menuBarItems_.set(std::move(items));
    publishSections(std::move(sections));
    if (isScanning_.get()) isScanning_.set(false);
}

void AppState::publishSections(std::vector<MenuBarSection> sections) {
    // Equal identities do not make equal sections for the panel: a relaunched application's new
    // process and window, or a new icon, must reach it. Stored always, announced on any change.
    if (sectionsShowTheSame(sections_.get(), sections)) {
        sections_.set(std::move(sections));
    } else {
        sections_.modify([&](std::vector<MenuBarSection>& stored) { stored = std::move(sections); });
    }
}

void AppState::setupEventDrivenTriggers() {
    removeEventDrivenTriggers();
    auto scanner = scanner_;
    auto handler = [scanner](const ns::Notification&) { runtime::spawn(runtime::globalExecutor(), rescan(scanner)); };
    auto& workspaceCenter = ns::Workspace::shared().notificationCenter();
    auto& main = ns::OperationQueue::main();
    workspaceObservers_.push_back(
        workspaceCenter.addObserver(ns::workspaceDidLaunchApplicationNotification, &main, handler));
    workspaceObservers_.push_back(
        workspaceCenter.addObserver(ns::workspaceDidTerminateApplicationNotification, &main, handler));
    defaultCenterObservers_.push_back(ns::NotificationCenter::defaultCenter().addObserver(
        ns::applicationDidChangeScreenParametersNotification, &main, handler));
}

void AppState::removeEventDrivenTriggers() {
    auto& workspaceCenter = ns::Workspace::shared().notificationCenter();
    for (const auto& token : workspaceObservers_) workspaceCenter.removeObserver(token);
    workspaceObservers_.clear();
    for (const auto& token : defaultCenterObservers_) ns::NotificationCenter::defaultCenter().removeObserver(token);
    defaultCenterObservers_.clear();
}

runtime::Task<void> AppState::rescan(std::shared_ptr<MenuBarScanner> scanner) {
    auto requesting = scanner->triggerRescan();
    co_await requesting;
}

void AppState::stop() {
    runtime::assertMainExecutor("AppState.stop");
    if (scanTask_) scanTask_.cancel();
    scanTask_ = {};
    if (displayTask_) displayTask_.cancel();
    displayTask_ = {};
    if (cleanupTask_) cleanupTask_.cancel();
    removeEventDrivenTriggers();
    accessibilityRegained_.cancel();
    permissions_->stopPolling();
    cleanupTask_ = runtime::spawn(runtime::mainExecutor(), cleanup(shared_from_this()));
    logger_.info("AppState stopped");
}

runtime::Task<void> AppState::cleanup(std::shared_ptr<AppState> self) {
    auto stoppingScanner = self->scanner_->stopScanning();
    co_await stoppingScanner;
    auto stoppingDisplays = self->displayManager_->stopMonitoring();
    co_await stoppingDisplays;
    auto uninstalling = self->eventTapManager_->uninstall();
    co_await uninstalling;
    // Without the tap no release will come: a published drag ends here.
    co_await runtime::hopTo(runtime::mainExecutor());
    self->abandonDrag(/*trackerStillDragging=*/false);
}

}  // namespace stashbay
