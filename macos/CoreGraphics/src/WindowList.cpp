#include "macos/CoreGraphics/WindowList.hpp"

#include "WindowSelection.hpp"
#include "macos/sim/World.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace cg {

namespace {

constexpr WindowLevel baseLevel = std::numeric_limits<std::int32_t>::min();
constexpr WindowLevel minimumLevel = baseLevel + 5;
constexpr WindowLevel desktopLevel = minimumLevel + 20;
constexpr WindowLevel desktopIconLevel = desktopLevel + 20;
// The platform keeps the topmost levels for itself.
constexpr WindowLevel maximumLevel = std::numeric_limits<std::int32_t>::max() - 16;

bool isDesktopElement(const sim::Window& w) { return w.layer <= desktopIconLevel; }

cf::Value describeWindow(const sim::World& world, const sim::Window& w, bool showOthersNames) {
    cf::Value::Dictionary d;
    d[windowNumberKey] = cf::Value(static_cast<std::int64_t>(w.number));
    const auto owner = world.reportedOwner(w);
    d[windowOwnerPIDKey] = cf::Value(static_cast<std::int64_t>(owner));
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
    if (auto process = world.processes().find(owner); process && process->localizedName())
        d[windowOwnerNameKey] = cf::Value(*process->localizedName());
    bool own = w.owner == world.processes().selfPid();
    if (w.name && (own || showOthersNames)) d[windowNameKey] = cf::Value(*w.name);
    return cf::Value(std::move(d));
}

// What a window's description is made from; equal inputs give an equal description.
struct DescriptionInputs {
    sim::WindowNumber number = 0;
    sim::ProcessID owner = 0;
    std::int64_t layer = 0;
    cg::Rect bounds;
    bool onScreen = false;
    const std::optional<std::string>* ownerName = nullptr;
    const std::optional<std::string>* shownName = nullptr;

    bool describes(const sim::Window& w, sim::ProcessID reportedOwner, const std::optional<std::string>& name,
                   const std::optional<std::string>& shown) const {
        auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
        return number == w.number && owner == reportedOwner && layer == w.layer && onScreen == w.onScreen &&
               same(bounds.origin.x, w.bounds.origin.x) && same(bounds.origin.y, w.bounds.origin.y) &&
               same(bounds.size.width, w.bounds.size.width) && same(bounds.size.height, w.bounds.size.height) &&
               *ownerName == name && *shownName == shown;
    }
};

// The descriptions of the windows the last listings held. A listing shares the description of
// a window that has not changed instead of describing it anew: the scan asks for the list every
// few seconds and most windows stay as they were. Kept to the windows of the latest listings.
class DescriptionCache {
public:
    cf::Value describe(const sim::World& world, const sim::Window& w, bool showOthersNames) {
        static const std::optional<std::string> none;
        const auto owner = world.reportedOwner(w);
        auto process = world.processes().find(owner);
        const auto& ownerName = process ? process->localizedName() : none;
        bool own = w.owner == world.processes().selfPid();
        const auto& shownName = own || showOthersNames ? w.name : none;
        auto& entry = entries_[w.number];
        entry.lastUse = generation_;
        if (!entry.value || !entry.inputs.describes(w, owner, ownerName, shownName)) {
            entry.value = describeWindow(world, w, showOthersNames);
            entry.ownerName = ownerName;
            entry.shownName = shownName;
            entry.inputs = {w.number, owner, w.layer, w.bounds, w.onScreen, &entry.ownerName, &entry.shownName};
        }
        return *entry.value;
    }

    // Ends one listing: forgets the windows that the last two listings did not hold.
    void endListing() {
        if (entries_.size() > 2 * listed_ + 64)
            std::erase_if(entries_, [this](const auto& e) { return e.second.lastUse + 1 < generation_; });
        ++generation_;
        listed_ = 0;
    }
    void countListed(std::size_t n) { listed_ = std::max(listed_, n); }

    std::mutex mutex;

private:
    struct Entry {
        DescriptionInputs inputs;
        std::optional<std::string> ownerName;
        std::optional<std::string> shownName;
        std::optional<cf::Value> value;
        std::uint64_t lastUse = 0;
    };
    std::unordered_map<sim::WindowNumber, Entry> entries_;
    std::uint64_t generation_ = 1;
    std::size_t listed_ = 0;
};

DescriptionCache& descriptionCache() {
    static DescriptionCache cache;
    return cache;
}

}  // namespace

namespace detail {

std::vector<const sim::Window*> selectWindows(const sim::WindowServer& server, WindowListOption options,
                                              WindowID relativeToWindow) {
    const bool onScreenOnly = options & windowListOptionOnScreenOnly;
    const bool above = options & windowListOptionOnScreenAboveWindow;
    const bool below = options & windowListOptionOnScreenBelowWindow;
    const bool including = options & windowListOptionIncludingWindow;
    if (including && !onScreenOnly && !above && !below) {
        // Only the window itself: found without ordering every window (a capture of one status
        // window among many asks for this).
        const auto* w = server.find(relativeToWindow);
        if (!w || ((options & windowListExcludeDesktopElements) && isDesktopElement(*w))) return {};
        return {w};
    }
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
    auto windows = detail::selectWindows(world.windowServer(), options, relativeToWindow);
    cf::Value::Array list;
    list.reserve(windows.size());
    auto& cache = descriptionCache();
    std::lock_guard lock(cache.mutex);
    cache.countListed(windows.size());
    for (const auto* w : windows) list.push_back(cache.describe(world, *w, showOthersNames));
    cache.endListing();
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
