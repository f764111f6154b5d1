#include "macos/ScreenCaptureKit/ShareableContent.hpp"

#include "Delivery.hpp"
#include "macos/ScreenCaptureKit/Error.hpp"

#include <cmath>

namespace sc {

namespace {

std::optional<RunningApplication> application(const sim::World& world, sim::ProcessID pid) {
    auto process = world.processes().find(pid);
    if (!process) return std::nullopt;
    return RunningApplication{pid, process->bundleIdentifier().value_or(""), process->localizedName().value_or("")};
}

std::shared_ptr<const ShareableContent> readContent(const sim::World& world, bool excludeDesktopWindows,
                                                    bool onScreenWindowsOnly) {
    // The same windows in the same order as the window list.
    std::vector<Window> windows;
    for (const auto* w : world.windowServer().ordered()) {
        if (onScreenWindowsOnly && !w->onScreen) continue;
        if (excludeDesktopWindows && w->layer <= cg::desktopElementsTopLevel()) continue;
        windows.push_back(Window{w->number, w->bounds, w->name, w->layer, application(world, w->owner), w->onScreen});
    }
    std::vector<Display> displays;
    const auto& screens = world.screens().screens();
    const double primaryHeight = screens.empty() ? 0.0 : screens.front()->spec().frame.height();
    for (const auto& s : screens) {
        const auto& spec = s->spec();
        if (!spec.displayNumber) continue;
        cg::Rect f = spec.frame.standardized();
        displays.push_back(Display{*spec.displayNumber, static_cast<std::size_t>(std::max(0.0, f.width())),
                                   static_cast<std::size_t>(std::max(0.0, f.height())),
                                   cg::Rect(f.minX(), primaryHeight - f.maxY(), f.width(), f.height())});
    }
    std::vector<RunningApplication> applications;
    for (const auto& process : world.processes().listed()) {
        if (process->isTerminated()) continue;
        applications.push_back(RunningApplication{process->pid(), process->bundleIdentifier().value_or(""),
                                                  process->localizedName().value_or("")});
    }
    return std::make_shared<const ShareableContent>(std::move(windows), std::move(displays), std::move(applications));
}

}  // namespace

void ShareableContent::getExcludingDesktopWindows(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                                  Completion completion) {
    auto& world = sim::World::current();
    ++world.captureService().shareableContentRequests;
    detail::deliverAfter(
        world, world.captureService().shareableContentLatency,
        [excludeDesktopWindows, onScreenWindowsOnly, completion = std::move(completion)](const sim::World& answering) {
            // The answer reflects the answering when it is given, not when it was asked.
            if (!detail::holdsAccess(answering)) return completion(nullptr, makeError(StreamError::userDeclined));
            if (answering.faults().shareableContentFails)
                return completion(nullptr, makeError(StreamError::noWindowList));
            completion(readContent(answering, excludeDesktopWindows, onScreenWindowsOnly), std::nullopt);
        });
}

}  // namespace sc
