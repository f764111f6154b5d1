#include "Services/MenuBarScanner.hpp"
#include "System/WindowListBridge.hpp"

namespace stashbay {

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::captureIcons(Snapshot items) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.captureIcons");
    // With more windows than the cache holds, visiting them in one order every scan evicts each
    // entry just before it is needed again. Every other such scan visits them from the end, so
    // that it starts with the half the previous scan left in the cache. Items keep their places.
    std::size_t windows = 0;
    for (const auto& item : items)
        if (item.windowID() != 0) ++windows;
    const bool backwards = windows > imageCache_.countLimit() && !lastCaptureVisitedBackwards_;
    lastCaptureVisitedBackwards_ = backwards;
    long captured = 0;
    for (std::size_t visit = 0; visit < items.size(); ++visit) {
        MenuBarItem& item = items[backwards ? items.size() - 1 - visit : visit];
        if (item.windowID() == 0) continue;
        auto cached = imageCache_.object(item.windowID());
        if (cached && *cached && !(*cached)->isExpired(imageCacheTTL)) {
            item = std::move(item).withCapturedImage((*cached)->image());
            continue;
        }
        std::uint32_t windowID = item.windowID();
        cg::Rect bounds = item.bounds();
        // The capture runs off this executor; the awaiting scan continues back on it.
        auto capturing = WindowListBridge::captureWindowImage(windowID, bounds);
        cg::ImageRef image = co_await capturing;
        runtime::assertIsolated(executor_, "MenuBarScanner.captureIcons");
        if (image) {
            imageCache_.setObject(std::make_shared<const CGImageCacheEntry>(image), windowID);
            item = std::move(item).withCapturedImage(std::move(image));
            ++captured;
        } else {
            logger_.debug("Image capture failed for window %u (%s)", windowID, item.ownerName());
        }
    }
    long total = static_cast<long>(items.size());
    logger_.debug("Image capture: %ld/%ld icons captured", captured, total);
    co_return items;
}

}  // namespace stashbay
