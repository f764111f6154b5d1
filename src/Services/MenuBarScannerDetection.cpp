#include "Services/HybridDetection.hpp"
#include "Services/MenuBarScanner.hpp"
#include "System/AccessibilityBridge.hpp"
#include "System/ScreenGeometry.hpp"
#include "System/WindowListBridge.hpp"
#include "Utilities/RunningApplicationExtensions.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/AppKit/Screen.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "stashbay/runtime/Sleep.hpp"

namespace stashbay {

runtime::Task<MenuBarScanner::Snapshot> MenuBarScanner::hybridDetect() {
    // The running applications and the main screen are read on the main thread; everything
    // else runs on the scanner's executor.
    co_await runtime::hopTo(runtime::mainExecutor());
    auto applications = ns::Workspace::shared().runningApplications();
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.hybridDetect");

    detection::Inputs inputs;
    // Most applications have one to three items.
    inputs.items.reserve(applications.size() * 2);
    for (const auto& application : applications) {
        if (application->isTerminated() || !application->isFinishedLaunching()) continue;
        for (auto& ax : AccessibilityBridge::menuBarItems(*application)) {
            inputs.items.push_back(detection::AXItem{ax.pid, std::move(ax.title), ax.position, ax.size, ax.isEnabled});
        }
    }
    long axCount = static_cast<long>(inputs.items.size());
    logger_.debug("AX returned %ld menu bar items", axCount);

    // Detection reads no window names.
    auto windows = WindowListBridge::menuBarWindows(WindowListBridge::WindowNames::leftOut);
    long cgCount = static_cast<long>(windows.size());
    logger_.debug("CG returned %ld menu bar windows", cgCount);
    inputs.windows.reserve(windows.size());
    for (const auto& w : windows) {
        inputs.windows.push_back(detection::Window{w.windowID, w.ownerPID, w.bounds, w.isOnScreen});
    }
    double boundary = detection::visibilityBoundary(inputs.windows);
    logger_.debug("Visibility boundary X: %f", boundary);

    co_await runtime::hopTo(runtime::mainExecutor());
    if (auto screen = ns::Screen::main()) inputs.geometry = ScreenGeometry::forScreen(*screen);
    co_await runtime::hopTo(executor_);
    runtime::assertIsolated(executor_, "MenuBarScanner.hybridDetect");

    inputs.owner = [](std::int32_t pid) -> std::optional<detection::Owner> {
        auto application = ns::RunningApplication::withProcessIdentifier(pid);
        if (!application) return std::nullopt;
        return detection::Owner{application->bundleIdentifier(), displayName(*application)};
    };
    inputs.now = runtime::currentDate();
    Snapshot items = detection::detect(inputs, positionTolerance);

    long total = static_cast<long>(items.size());
    long hidden = 0;
    for (const auto& item : items)
        if (!item.isOnScreen()) ++hidden;
    long visible = total - hidden;
    // The texts below are made only when something reads the records.
    if (os::isLogLevelRead(os::LogLevel::info)) {
        bool notch = inputs.geometry && inputs.geometry->hasNotch();
        std::string notchRect = notch ? cg::describe(*inputs.geometry->notchRect()) : "nil";
        logger_.info("hybridDetect complete: %ld items (%ld hidden, %ld visible), notch=%{bool}d, notchRect=%s", total,
                     hidden, visible, notch, notchRect);
        for (const auto& item : items) {
            if (item.isOnScreen()) continue;
            std::string_view bundle = item.ownerBundleID() ? std::string_view(*item.ownerBundleID()) : "nil";
            logger_.info("  HIDDEN: %s bundle=%s pos=(%f,%f) verified=%{bool}d wid=%u", item.ownerName(), bundle,
                         item.position().x, item.position().y, item.isVerified(), item.windowID());
        }
    }
    co_return items;
}

}  // namespace stashbay
