#include "macos/CoreGraphics/WindowList.hpp"

#include "WindowSelection.hpp"
#include "macos/sim/World.hpp"

#include <algorithm>
#include <limits>

namespace cg {

namespace {

constexpr WindowLevel baseLevel = std::numeric_limits<std::int32_t>::min();
constexpr WindowLevel minimumLevel = baseLevel + 1;
constexpr WindowLevel desktopLevel = minimumLevel + 20;
constexpr WindowLevel desktopIconLevel = desktopLevel + 20;
// The platform keeps the topmost levels for itself.
constexpr WindowLevel maximumLevel = std::numeric_limits<std::int32_t>::max() - 16;

bool isDesktopElement(const sim::Window& w) { return w.layer <= desktopIconLevel; }

cf::Value describeWindow(const sim::World& world, const sim::Window& w, bool showOthersNames) {
    cf::Value::Dictionary d;
    d[windowNumberKey] = cf::Value(static_cast<std::int64_t>(w.number));
    d[windowOwnerPIDKey] = cf::Value(static_cast<std::int64_t>(w.owner));
    d[windowLayerKey] = cf::Value(static_cast<std::int64_t>(w.layer));
    d[windowBoundsKey] = cf::Value::dictionary({
        {boundsXKey, cf::Value(w.bounds.origin.x)},
        {boundsYKey, cf::Value(w.bounds.origin.y)},
        {boundsWidthKey, cf::Value(w.bounds.size.width)},
        {boundsHeightKey, cf::Value(w.bounds.size.height)},
    });
    d[windowIsOnscreenKey] = cf::Value(w.onScreen);
    d[windowAlphaKey] = cf::Value(1.0);
    d[windowSharingStateKey] = cf::Value(windowSharingReadOnly);
    d[windowStoreTypeKey] = cf::Value(backingStoreBuffered);
    double pixels = std::max(0.0, w.bounds.size.width) * std::max(0.0, w.bounds.size.height) * 4.0;
    d[windowMemoryUsageKey] = cf::Value(static_cast<std::int64_t>(std::min(pixels, 1e15)));
    if (auto process = world.processes().find(w.owner); process && process->localizedName())
        d[windowOwnerNameKey] = cf::Value(*process->localizedName());
    bool own = w.owner == world.processes().selfPid();
    if (w.name && (own || showOthersNames)) d[windowNameKey] = cf::Value(*w.name);
    return cf::Value(std::move(d));
}

}  // namespace

namespace detail {

std::vector<const sim::Window*> selectWindows(const sim::WindowServer& server, WindowListOption options,
                                              WindowID relativeToWindow) {
    const bool onScreenOnly = options & windowListOptionOnScreenOnly;
    const bool above = options & windowListOptionOnScreenAboveWindow;
    const bool below = options & windowListOptionOnScreenBelowWindow;
    const bool including = options & windowListOptionIncludingWindow;
    const auto ordered = server.ordered();

    std::vector<const sim::Window*> out;
    if (!onScreenOnly && !above && !below && !including) {
        out = ordered;
    } else if (onScreenOnly || ((above || below) && relativeToWindow == nullWindowID)) {
        for (const auto* w : ordered)
            if (w->onScreen || (including && w->number == relativeToWindow)) out.push_back(w);
    } else {
        auto at = std::find_if(ordered.begin(), ordered.end(),
                               [relativeToWindow](const sim::Window* w) { return w->number == relativeToWindow; });
        if (at == ordered.end()) return {};
        auto relative = at - ordered.begin();
        for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(ordered.size()); ++i) {
            const auto* w = ordered[static_cast<std::size_t>(i)];
            if ((above && i < relative && w->onScreen) || (below && i > relative && w->onScreen) ||
                (including && i == relative))
                out.push_back(w);
        }
    }
    if (options & windowListExcludeDesktopElements)
        std::erase_if(out, [](const sim::Window* w) { return isDesktopElement(*w); });
    return out;
}

bool holdsScreenRecordingAccess() { return sim::World::current().permissions().screenRecording; }

}  // namespace detail

std::optional<cf::Value> windowListCopyWindowInfo(WindowListOption options, WindowID relativeToWindow) {
    auto& world = sim::World::current();
    world.windowServer().noteListQuery();
    if (world.faults().windowListUnavailable) return std::nullopt;
    const bool showOthersNames = detail::holdsScreenRecordingAccess();
    cf::Value::Array list;
    for (const auto* w : detail::selectWindows(world.windowServer(), options, relativeToWindow))
        list.push_back(describeWindow(world, *w, showOthersNames));
    return cf::Value(std::move(list));
}

WindowLevel windowLevelForKey(WindowLevelKey key) {
    switch (key) {
        case baseWindowLevelKey: return baseLevel;
        case minimumWindowLevelKey: return minimumLevel;
        case desktopWindowLevelKey: return desktopLevel;
        case backstopMenuLevelKey: return -20;
        case normalWindowLevelKey: return 0;
        case floatingWindowLevelKey: return 3;
        case tornOffMenuWindowLevelKey: return 3;
        case dockWindowLevelKey: return 20;
        case mainMenuWindowLevelKey: return 24;
        case statusWindowLevelKey: return 25;
        case modalPanelWindowLevelKey: return 8;
        case popUpMenuWindowLevelKey: return 101;
        case draggingWindowLevelKey: return 500;
        case screenSaverWindowLevelKey: return 1000;
        case maximumWindowLevelKey: return maximumLevel;
        case overlayWindowLevelKey: return 102;
        case helpWindowLevelKey: return 200;
        case utilityWindowLevelKey: return 19;
        case desktopIconWindowLevelKey: return desktopIconLevel;
        case cursorWindowLevelKey: return maximumLevel - 1;
        case assistiveTechHighWindowLevelKey: return 1500;
        default: return 0;
    }
}

WindowLevel desktopElementsTopLevel() { return desktopIconLevel; }

bool preflightScreenCaptureAccess() {
    const auto& world = sim::World::current();
    return world.captureService().pinnedPreflight.value_or(world.permissions().screenRecording);
}

bool requestScreenCaptureAccess() {
    auto& world = sim::World::current();
    ++world.permissions().screenRecordingRequests;
    return preflightScreenCaptureAccess();
}

}  // namespace cg
