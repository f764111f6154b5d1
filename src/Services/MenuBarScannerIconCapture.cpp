#include "Services/MenuBarScanner.hpp"
#include "System/WindowListBridge.hpp"

namespace stashbay {

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::captureIcons(Snapshot items) {
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.captureIcons");
    Snapshot result;
    result.reserve(items.size());
    long captured = 0;
    for (auto& item : items) {
        if (item.windowID() == 0) {
            result.push_back(std::move(item));
            continue;
        }
        auto cached = imageCache_.object(item.windowID());
        if (cached && *cached && !(*cached)->isExpired(imageCacheTTL)) {
            result.push_back(std::move(item).withCapturedImage((*cached)->image()));
            continue;
        }
        std::uint32_t windowID = item.windowID();
        cg::Rect bounds = item.bounds();
        // The capture runs off this executor; the awaiting scan continues back on it.
        cg::ImageRef image = co_await WindowListBridge::captureWindowImage(windowID, bounds);
        runtime::assertIsolated(executor_, "MenuBarScanner.captureIcons");
        if (image) {
            imageCache_.setObject(std::make_shared<const CGImageCacheEntry>(image), windowID);
            result.push_back(std::move(item).withCapturedImage(image));
            ++captured;
        } else {
            logger_.debug("Image capture failed for window %u (%s)", windowID, item.ownerName());
            result.push_back(std::move(item));
        }
    }
    long total = static_cast<long>(items.size());
    logger_.debug("Image capture: %ld/%ld icons captured", captured, total);
    co_return result;
}

}  // namespace stashbay
