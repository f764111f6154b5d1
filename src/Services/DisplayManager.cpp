#include "Services/DisplayManager.hpp"

#include "Utilities/LoggerExtensions.hpp"
#include "macos/AppKit/Screen.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <string>
#include <utility>

namespace stashbay {

namespace {

// "0.0,0.0 1512.0x982.0": origin, then the extent, each number in its shortest exact form.
std::string frameText(const cg::Rect& frame) {
    return cg::describe(frame.origin.x) + "," + cg::describe(frame.origin.y) + " " + cg::describe(frame.width()) + "x" +
           cg::describe(frame.height());
}

}  // namespace

// The constructor is private: the weak references that the service hands its tasks need a
// std::shared_ptr owner from the start.
std::shared_ptr<DisplayManager> DisplayManager::create() {
    return std::shared_ptr<DisplayManager>(new DisplayManager());
}

DisplayManager::~DisplayManager() {
    // The owner normally stops first; a consumer must not wait on a producer that is gone.
    if (notificationObserver_) ns::NotificationCenter::defaultCenter().removeObserver(notificationObserver_);
    if (continuation_) continuation_->finish();
}

runtime::Task<DisplayManager::DisplayStream> DisplayManager::startMonitoring() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "DisplayManager.startMonitoring");
    stop();

    auto [stream, continuation] = DisplayStream::make(runtime::BufferingPolicy::bufferingNewest(1));
    continuation_ = std::move(continuation);
    isMonitoring_ = true;

    // The executor is ours until this returns, so the first list finds the new stream open.
    runtime::spawn(runtime::mainExecutor(), readInitialDisplays(weak_from_this()));

    std::weak_ptr<DisplayManager> weakSelf = weak_from_this();
    notificationObserver_ = ns::NotificationCenter::defaultCenter().addObserver(
        ns::applicationDidChangeScreenParametersNotification, &ns::OperationQueue::main(),
        [weakSelf](const ns::Notification&) {
            runtime::spawn(runtime::globalExecutor(), forwardDisplayChange(weakSelf));
        });

    log::display().info("Display monitoring started");
    co_return std::move(stream);
}

runtime::Task<void> DisplayManager::stopMonitoring() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "DisplayManager.stopMonitoring");
    stop();
}

void DisplayManager::stop() {
    runtime::assertIsolated(executor_, "DisplayManager.stopMonitoring");
    isMonitoring_ = false;
    if (settleTask_) {
        settleTask_.cancel();
        settleTask_ = {};
    }
    if (notificationObserver_) {
        ns::NotificationCenter::defaultCenter().removeObserver(notificationObserver_);
        notificationObserver_.reset();
    }
    if (continuation_) {
        continuation_->finish();
        continuation_.reset();
    }
    log::display().info("Display monitoring stopped");
}

runtime::Task<std::vector<DisplayInfo>> DisplayManager::currentDisplays() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "DisplayManager.currentDisplays");
    co_return displays_;
}

runtime::Task<std::optional<DisplayInfo>> DisplayManager::menuBarDisplay() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "DisplayManager.menuBarDisplay");
    for (const auto& display : displays_) {
        if (display.isMain()) co_return display;
    }
    co_return std::nullopt;
}

runtime::Task<void> DisplayManager::handleDisplayChange() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "DisplayManager.handleDisplayChange");
    log::display().debug("Display change notification received, waiting for settle...");
    if (settleTask_) settleTask_.cancel();
    settleTask_ = runtime::spawn(runtime::globalExecutor(), settle(weak_from_this()));
}

runtime::Task<void> DisplayManager::updateDisplays(std::vector<DisplayInfo> displays) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "DisplayManager.updateDisplays");
    long previousCount = static_cast<long>(displays_.size());
    displays_ = std::move(displays);
    if (continuation_) continuation_->yield(displays_);

    const auto& logger = log::display();
    long count = static_cast<long>(displays_.size());
    logger.info("Displays updated: %ld screen(s) (was %ld)", count, previousCount);
    if (displays_.empty()) logger.error("Display update yielded 0 screens \u2014 anomalous state");
    for (const auto& display : displays_) {
        std::string frame = frameText(display.frame());
        logger.debug("  %s: %s, notch=%{bool}d, main=%{bool}d", display.displayName(), frame, display.hasNotch(),
                     display.isMain());
    }
}

runtime::Task<void> DisplayManager::readInitialDisplays(std::weak_ptr<DisplayManager> weakSelf) {
    auto displays = DisplayInfo::allDisplays();
    auto self = weakSelf.lock();
    if (!self) co_return;
    auto update = self->updateDisplays(std::move(displays));
    co_await update;
}

runtime::Task<void> DisplayManager::forwardDisplayChange(std::weak_ptr<DisplayManager> weakSelf) {
    auto self = weakSelf.lock();
    if (!self) co_return;
    auto handle = self->handleDisplayChange();
    co_await handle;
}

runtime::Task<void> DisplayManager::settle(std::weak_ptr<DisplayManager> weakSelf) {
    auto self = weakSelf.lock();
    if (!self) co_return;
    auto deadline = runtime::now() + settleDelay;
    co_await runtime::sleepUntil(deadline);
    // Only a sleep cut short counts: a wait that ran its course publishes even when a later
    // change cancels this task before it resumes.
    if (runtime::isCancelled() && runtime::now() < deadline) co_return;

    co_await runtime::hopTo(runtime::mainExecutor());
    auto displays = DisplayInfo::allDisplays();
    auto update = self->updateDisplays(std::move(displays));
    co_await update;
}

}  // namespace stashbay
