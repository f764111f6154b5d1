#include "Interaction/IconInteractor.hpp"

#include "Services/HybridDetection.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "stashbay/runtime/Executor.hpp"

#include <cmath>

namespace stashbay {

std::optional<ax::UIElementRef> IconInteractor::findCurrentAXElement(const MenuBarItem& item) const {
    auto application = ns::RunningApplication::withProcessIdentifier(item.ownerPID());
    if (!application || application->isTerminated()) return std::nullopt;
    auto axItems = AccessibilityBridge::menuBarItems(*application);
    if (axItems.empty()) return std::nullopt;
    if (axItems.size() == 1) return axItems.front().axElement.element;

    // An empty title is a title too.
    if (item.title()) {
        const AccessibilityBridge::AXMenuBarItem* match = nullptr;
        std::size_t matches = 0;
        for (const auto& candidate : axItems) {
            if (candidate.title == item.title()) {
                match = &candidate;
                ++matches;
            }
        }
        if (matches == 1) return match->axElement.element;
    }

    // Rank from the right. An identity read from a stored file can carry a negative index; it
    // names no rank and goes on to the nearest rule.
    auto index = item.id().index();
    if (index >= 0 && static_cast<std::uint64_t>(index) < axItems.size()) {
        std::vector<const AccessibilityBridge::AXMenuBarItem*> ranked;
        ranked.reserve(axItems.size());
        for (const auto& candidate : axItems) ranked.push_back(&candidate);
        // The sort stays in range even for positions that are not numbers.
        detection::stableSort(ranked, [](const auto* a, const auto* b) { return a->position.x > b->position.x; });
        return ranked[static_cast<std::size_t>(index)]->axElement.element;
    }

    const auto x = item.position().x;
    const AccessibilityBridge::AXMenuBarItem* nearest = &axItems.front();
    for (const auto& candidate : axItems) {
        if (std::abs(candidate.position.x - x) < std::abs(nearest->position.x - x)) nearest = &candidate;
    }
    return nearest->axElement.element;
}

std::optional<std::vector<AccessibilityBridge::AXMenuSnapshot>> IconInteractor::menuSnapshot(
    const MenuBarItem& item) const {
    runtime::assertMainExecutor("IconInteractor::menuSnapshot");
    auto element = findCurrentAXElement(item);
    if (!element) return std::nullopt;
    return AccessibilityBridge::menuSnapshot(*element);
}

bool IconInteractor::pressMenuItem(const ax::UIElementRef& element) const {
    runtime::assertMainExecutor("IconInteractor::pressMenuItem");
    return AccessibilityBridge::performPress(element);
}

bool IconInteractor::axShowMenu(const MenuBarItem& item) const {
    auto element = findCurrentAXElement(item);
    return element && AccessibilityBridge::performShowMenu(*element);
}

bool IconInteractor::axPress(const MenuBarItem& item) const {
    auto element = findCurrentAXElement(item);
    return element && AccessibilityBridge::performPress(*element);
}

}  // namespace stashbay
