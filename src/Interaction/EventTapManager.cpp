#include "Interaction/EventTapManager.hpp"

#include "Utilities/LoggerExtensions.hpp"

#include <cmath>
#include <utility>

namespace stashbay {

std::shared_ptr<EventTapManager> EventTapManager::create() {
    return std::shared_ptr<EventTapManager>(new EventTapManager());
}

EventTapManager::EventTapManager() : logger_(log::eventTap()) {}

runtime::Task<void> EventTapManager::setOnDragStarted(DragStartedCallback callback) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.setOnDragStarted");
    onDragStarted_ = std::move(callback);
}

runtime::Task<void> EventTapManager::setOnDragMoved(DragMovedCallback callback) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.setOnDragMoved");
    onDragMoved_ = std::move(callback);
}

runtime::Task<void> EventTapManager::setOnDragEnded(DragEndedCallback callback) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.setOnDragEnded");
    onDragEnded_ = std::move(callback);
}

runtime::Task<void> EventTapManager::install() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.install");
    if (tapHandle_ && EventTapBridge::isEnabled(*tapHandle_)) {
        logger_.error("Event tap already installed");
        co_return;
    }
    if (tapHandle_) {
        // The system switched the tap off (it lost Accessibility) and it stayed off: no event
        // will come through it again, so it makes way for a new one.
        logger_.info("Event tap was disabled by the system; installing a new one");
        if (processTask_) processTask_.cancel();
        processTask_ = {};
        EventTapBridge::uninstall(std::move(*tapHandle_));
        tapHandle_.reset();
        dragState_ = Idle{};
    }
    auto installed = EventTapBridge::install(eventsOfInterest, cg::EventTapLocation::hid);
    if (!installed) {
        logger_.error("Failed to install event tap \u2014 Accessibility permission may be missing");
        co_return;
    }
    tapHandle_.emplace(std::move(installed->first));
    logger_.info("Event tap installed successfully");
    processTask_ =
        runtime::spawn(runtime::globalExecutor(), processEvents(std::move(installed->second), weak_from_this()));
}

runtime::Task<void> EventTapManager::uninstall() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.uninstall");
    if (processTask_) {
        processTask_.cancel();
        processTask_ = {};
    }
    if (tapHandle_) {
        EventTapBridge::uninstall(std::move(*tapHandle_));
        tapHandle_.reset();
    }
    dragState_ = Idle{};
    logger_.info("Event tap uninstalled");
}

runtime::Task<void> EventTapManager::updateMenuBarItems(std::vector<MenuBarItem> items) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.updateMenuBarItems");
    menuBarItems_ = std::move(items);
}

runtime::Task<std::int64_t> EventTapManager::computeInsertionIndex(double x, std::vector<MenuBarItem> items) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.computeInsertionIndex");
    co_return insertionIndex(x, items);
}

std::int64_t EventTapManager::insertionIndex(double x, const std::vector<MenuBarItem>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].bounds().midX() < x) return static_cast<std::int64_t>(i);
    }
    return static_cast<std::int64_t>(items.size());
}

runtime::Task<EventTapManager::DragState> EventTapManager::dragState() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.dragState");
    co_return dragState_;
}

runtime::Task<bool> EventTapManager::isInstalled() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.isInstalled");
    co_return tapHandle_.has_value();
}

runtime::Task<bool> EventTapManager::isTapEnabled() {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.isTapEnabled");
    co_return tapHandle_&& EventTapBridge::isEnabled(*tapHandle_);
}

runtime::Task<void> EventTapManager::processEvents(EventTapBridge::EventStream stream,
                                                   std::weak_ptr<EventTapManager> weak) {
    for (;;) {
        auto next = stream.next();
        std::optional<cg::EventRef> event = co_await next;
        if (!event) co_return;
        auto self = weak.lock();
        if (!self) co_return;
        // One event at a time: the next is taken only when this one, callbacks included, is done.
        auto processing = self->processEvent(std::move(*event));
        co_await processing;
    }
}

runtime::Task<void> EventTapManager::processEvent(cg::EventRef event) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "EventTapManager.processEvent");
    const auto type = cg::eventGetType(event);
    const auto location = cg::eventGetLocation(event);
    switch (type) {
        case cg::EventType::leftMouseDown: handleMouseDown(location); break;
        case cg::EventType::leftMouseUp: {
            auto handling = handleMouseUp(location);
            co_await handling;
            break;
        }
        case cg::EventType::leftMouseDragged: {
            auto handling = handleMouseDragged(location);
            co_await handling;
            break;
        }
        default: break;
    }
}

bool EventTapManager::isInMenuBarRegion(cg::Point p) const { return p.y < menuBarHeight; }

std::optional<MenuBarItem> EventTapManager::hitTest(cg::Point p) const {
    for (const auto& item : menuBarItems_) {
        if (item.bounds().contains(p)) return item;
    }
    return std::nullopt;
}

void EventTapManager::handleMouseDown(cg::Point p) {
    runtime::assertIsolated(executor_, "EventTapManager.handleMouseDown");
    if (!isInMenuBarRegion(p)) return;
    auto item = hitTest(p);
    if (!item) return;
    // Whatever was going on before is dropped without a callback, a drag in progress included.
    dragState_ = Tracking{p, *item};
    logger_.debug("Tracking started on %s at (%f, %f)", item->displayName(), p.x, p.y);
}

runtime::Task<void> EventTapManager::handleMouseDragged(cg::Point p) {
    runtime::assertIsolated(executor_, "EventTapManager.handleMouseDragged");
    if (auto* tracking = std::get_if<Tracking>(&dragState_)) {
        // The distance from the press, not the length of the path travelled.
        double distance = std::hypot(p.x - tracking->startPoint.x, p.y - tracking->startPoint.y);
        if (!(distance > dragThreshold)) co_return;
        MenuBarItem item = tracking->item;
        dragState_ = Dragging{item, p};
        logger_.info("Drag started for %s", item.displayName());
        if (onDragStarted_) {
            auto callback = onDragStarted_(std::move(item));
            co_await callback;
        }
    } else if (auto* dragging = std::get_if<Dragging>(&dragState_)) {
        dragging->currentPoint = p;
        if (onDragMoved_) {
            auto callback = onDragMoved_(p);
            co_await callback;
        }
    }
}

runtime::Task<void> EventTapManager::handleMouseUp(cg::Point p) {
    runtime::assertIsolated(executor_, "EventTapManager.handleMouseUp");
    if (auto* dragging = std::get_if<Dragging>(&dragState_)) {
        MenuBarItem item = dragging->item;
        dragState_ = Dropped{item, p};
        logger_.info("Drag ended for %s at (%f, %f)", item.displayName(), p.x, p.y);
        if (onDragEnded_) {
            // The mouse-up location, not the last movement point.
            auto callback = onDragEnded_(std::move(item), p);
            co_await callback;
            // Back on the tracker's executor, whatever the callback hopped to.
            runtime::assertIsolated(executor_, "EventTapManager.handleMouseUp");
        }
    }
    dragState_ = Idle{};
}

}  // namespace stashbay
