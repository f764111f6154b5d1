#include "Interaction/IconInteractor.hpp"
#include "Interaction/MenuBarController.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "stashbay/runtime/Executor.hpp"
#include "stashbay/runtime/Sleep.hpp"

#include <string>
#include <vector>

namespace stashbay {

using namespace std::chrono_literals;

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& name : names) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
}

cg::Point centre(const MenuBarItem& item) {
    auto bounds = item.bounds();
    return cg::Point{bounds.midX(), bounds.midY()};
}

}  // namespace

runtime::Task<bool> IconInteractor::clickItem(MenuBarItem item) {
    runtime::assertMainExecutor("IconInteractor::clickItem");
    if (!item.isOnScreen()) {
        auto result = co_await activateHiddenItem(item, cg::MouseButton::left);
        co_return result;
    }
    if (axShowMenu(item)) co_return true;
    if (axPress(item)) co_return true;
    auto clicked = co_await MenuBarController::shared().clickItem(item, cg::MouseButton::left);
    if (!clicked) syntheticClick(centre(item), cg::MouseButton::left);
    co_return true;
}

runtime::Task<bool> IconInteractor::rightClickItem(MenuBarItem item) {
    runtime::assertMainExecutor("IconInteractor::rightClickItem");
    if (!item.isOnScreen()) {
        auto result = co_await activateHiddenItem(item, cg::MouseButton::right);
        co_return result;
    }
    auto clicked = co_await MenuBarController::shared().clickItem(item, cg::MouseButton::right);
    if (clicked) co_return true;
    if (axShowMenu(item)) co_return true;
    syntheticClick(centre(item), cg::MouseButton::right);
    co_return true;
}

runtime::Task<bool> IconInteractor::activateHiddenItem(MenuBarItem item, cg::MouseButton button) {
    const auto pid = item.ownerPID();
    std::vector<std::string> tried;

    // A press counts only by a window of the owning process that was not on screen before it;
    // the press's own result plays no part. A cancelled wait ends at once and the chain goes on.
    if (button == cg::MouseButton::left) {
        tried.emplace_back("axPress");
        auto before = onScreenWindowIDs(pid);
        axPress(item);
        co_await runtime::sleepFor(300ms);
        if (newWindowAppeared(pid, before)) co_return true;

        auto application = ns::RunningApplication::withProcessIdentifier(pid);
        if (application && !application->isTerminated()) {
            tried.emplace_back("activate+axPress");
            auto beforeActivation = onScreenWindowIDs(pid);
            application->activate(ns::ApplicationActivationOptions::none);
            co_await runtime::sleepFor(150ms);
            axPress(item);
            co_await runtime::sleepFor(300ms);
            if (newWindowAppeared(pid, beforeActivation)) co_return true;
        }
    }

    tried.emplace_back("axShowMenu");
    if (axShowMenu(item)) co_return true;

    if (item.windowID() != 0) {
        tried.emplace_back("tempShowAndClick");
        auto shown = co_await MenuBarController::shared().tempShowAndClick(item, button);
        if (shown) co_return true;
    }

    tried.emplace_back("openApp");
    auto application = ns::RunningApplication::withProcessIdentifier(pid);
    if (application && !application->isTerminated()) {
        application->unhide();
        application->activate(ns::ApplicationActivationOptions::none);
    }
    logger_.error(
        "All AX activation strategies failed for hidden item %{public}s; opened its app as a last resort (tried "
        "%{public}s)",
        item.displayName(), joined(tried));
    co_return false;
}

}  // namespace stashbay
