#include "macos/ScreenCaptureKit/ScreenshotManager.hpp"

#include "Delivery.hpp"
#include "macos/CoreGraphics/WindowImage.hpp"
#include "macos/ScreenCaptureKit/Error.hpp"
#include "macos/sim/StatusItemDrawing.hpp"

#include <cmath>

namespace sc {

namespace {

// The content's own size in pixels along one side; 0 when it has none.
std::size_t ownPixels(const sim::World& world, double points) {
    auto primary = world.screens().primary();
    double scale = primary ? primary->spec().backingScaleFactor : 1.0;
    double pixels = std::ceil(points * scale - 1e-9);
    if (!std::isfinite(pixels) || pixels < 1) return 0;
    return pixels > static_cast<double>(cg::maximumWindowImageSide) ? cg::maximumWindowImageSide + 1
                                                                    : static_cast<std::size_t>(pixels);
}

}  // namespace

void ScreenshotManager::captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                                     Completion completion) {
    auto& world = sim::World::current();
    ++world.captureService().screenshotRequests;
    detail::deliverAfter(
        world, world.captureService().screenshotLatency,
        [filter, configuration, completion = std::move(completion)](const sim::World& answering) {
            if (!detail::holdsAccess(answering)) return completion(nullptr, makeError(StreamError::userDeclined));
            if (answering.faults().screenshotFails) return completion(nullptr, makeError(StreamError::failedToStart));
            const auto* window = answering.windowServer().find(filter.window().windowID);
            if (!window) return completion(nullptr, makeError(StreamError::noCaptureSource));
            if (window->captureFails) return completion(nullptr, makeError(StreamError::failedToStart));
            cg::Rect frame = window->bounds.standardized();
            std::size_t width = configuration.width ? configuration.width : ownPixels(answering, frame.width());
            std::size_t height = configuration.height ? configuration.height : ownPixels(answering, frame.height());
            if (width == 0 || height == 0 || width > cg::maximumWindowImageSide || height > cg::maximumWindowImageSide)
                return completion(nullptr, makeError(StreamError::invalidParameter));
            completion(sim::windowContentImage(answering, *window, width, height, configuration.backgroundColor),
                       std::nullopt);
        });
}

}  // namespace sc
