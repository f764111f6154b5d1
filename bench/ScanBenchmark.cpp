// One scan of the menu bar on generated worlds of n status items spread over n/3 applications:
// detection plus debounce apart from icon capture, the simulated platform's share of it, the heap
// allocations per scan, the icon cache's hit rate, and the state's own work per snapshot.
#include "App/AppState.hpp"
#include "Services/HybridDetection.hpp"
#include "Services/MenuBarScanner.hpp"
#include "System/AccessibilityBridge.hpp"
#include "System/WindowListBridge.hpp"
#include "macos/Accessibility/UIElement.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/AppKit/Screen.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/CoreGraphics/WindowList.hpp"
#include "macos/os/Logger.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

namespace {
// Every heap allocation of the process, so that a benchmark can report them per iteration.
std::atomic<std::uint64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace stashbay;

namespace {

// Reports the allocations made since `before`, per iteration.
void reportAllocations(benchmark::State& state, std::uint64_t before) {
    double made = static_cast<double>(allocations.load(std::memory_order_relaxed) - before);
    state.counters["allocsPerScan"] = made / static_cast<double>(state.iterations());
}

// Bundle identifiers as long as real ones (20 to 40 characters), beyond a string's inline
// buffer, so that every copy of one costs the allocation it costs on a Mac.
std::string bundleIdentifier(int app) {
    static const char* const vendors[] = {"com.examplesoft", "io.menubartools", "org.statusutilities",
                                          "com.acme-software-labs"};
    static const char* const products[] = {"Clock", "NetworkMonitor", "BatteryHelper", "Sync"};
    return std::string(vendors[app % 4]) + "." + products[(app / 4) % 4] + std::to_string(app);
}

constexpr int firstPid = 1000;

sim::Scenario generatedWorld(int items) {
    sim::Scenario scenario = sim::defaultScenario();
    scenario.applications.clear();
    int apps = std::max(1, items / 3);
    for (int a = 0; a < apps; ++a) {
        sim::ProcessSpec app{firstPid + a, bundleIdentifier(a), "App " + std::to_string(a)};
        int count = a == apps - 1 ? items - 3 * (apps - 1) : 3;
        for (int i = 0; i < count; ++i) {
            sim::StatusItemSpec item;
            item.title = "Item " + std::to_string(i);
            item.width = 20 + (a + i) % 12;
            app.statusItems.push_back(item);
        }
        scenario.applications.push_back(app);
    }
    return scenario;
}

// A world, a loop and a scanner, made once per benchmark run.
struct Bench {
    explicit Bench(int items) : world(generatedWorld(items)) {
        // Nothing reads the log: the scan is measured, not the terminal.
        os::LogStore::shared().setEchoToStderr(false);
        scanner = MenuBarScanner::create();
    }
    runtime::ManualLoop loop;
    sim::World world;
    std::shared_ptr<MenuBarScanner> scanner;
};

detection::Inputs gather() {
    detection::Inputs in;
    for (const auto& app : ns::Workspace::shared().runningApplications()) {
        for (const auto& ax : AccessibilityBridge::menuBarItems(*app))
            in.items.push_back({ax.pid, ax.title, ax.position, ax.size, ax.isEnabled});
    }
    for (const auto& w : WindowListBridge::menuBarWindows())
        in.windows.push_back({w.windowID, w.ownerPID, w.bounds, w.isOnScreen});
    in.owner = [](std::int32_t pid) -> std::optional<detection::Owner> {
        return detection::Owner{bundleIdentifier(pid - firstPid), "App"};
    };
    return in;
}

void matchingAndDuplicates(benchmark::State& state, detection::Passes passes) {
    Bench bench(static_cast<int>(state.range(0)));
    auto inputs = gather();
    for (auto _ : state) benchmark::DoNotOptimize(detection::detect(inputs, 4.0, passes));
    state.SetComplexityN(state.range(0));
}

void BM_DetectionLiteralPasses(benchmark::State& state) { matchingAndDuplicates(state, detection::Passes::literal); }
void BM_DetectionIndexedPasses(benchmark::State& state) { matchingAndDuplicates(state, detection::Passes::indexed); }

// One scan's detection and debounce, awaited inside the loop so that no snapshot is copied out.
runtime::Task<void> detectAndDebounce(std::shared_ptr<MenuBarScanner> scanner) {
    auto detecting = scanner->hybridDetectForTesting();
    auto detected = co_await detecting;
    auto debouncing = scanner->debounceForTesting(std::move(detected));
    auto result = co_await debouncing;
    benchmark::DoNotOptimize(result);
}

// The whole of detection (accessibility queries, window list, matching, sorts) plus debounce.
void BM_DetectAndDebounce(benchmark::State& state) {
    Bench bench(static_cast<int>(state.range(0)));
    auto before = allocations.load();
    for (auto _ : state) bench.loop.run(detectAndDebounce(bench.scanner));
    reportAllocations(state, before);
    state.SetComplexityN(state.range(0));
}

// The simulated platform's share of one scan: the calls the bridges make, and nothing of the
// app's. The app's own work is the scan above less this.
runtime::Task<void> platformCalls() {
    auto applications = ns::Workspace::shared().runningApplications();
    for (const auto& application : applications) {
        auto pid = application->processIdentifier();
        std::optional<cf::Value> bar, children, value;
        (void)ax::copyAttributeValue(ax::createApplication(pid), "AXExtrasMenuBar", bar);
        auto barElement = bar ? bar->as<ax::UIElement>() : nullptr;
        (void)ax::copyAttributeValue(barElement, "AXChildren", children);
        if (!children || !children->asArray()) continue;
        for (const auto& child : *children->asArray()) {
            auto element = child.as<ax::UIElement>();
            for (const char* attribute : {"AXPosition", "AXSize", "AXTitle", "AXEnabled", "AXSubrole"}) {
                (void)ax::copyAttributeValue(element, attribute, value);
                benchmark::DoNotOptimize(value);
            }
            benchmark::DoNotOptimize(ns::RunningApplication::withProcessIdentifier(pid));
        }
        benchmark::DoNotOptimize(application->localizedName());
    }
    benchmark::DoNotOptimize(
        cg::windowListCopyWindowInfo(cg::windowListOptionAll | cg::windowListExcludeDesktopElements, cg::nullWindowID));
    benchmark::DoNotOptimize(ns::Screen::main());
    co_return;
}

void BM_PlatformShareOfDetection(benchmark::State& state) {
    Bench bench(static_cast<int>(state.range(0)));
    auto before = allocations.load();
    for (auto _ : state) bench.loop.run(platformCalls());
    reportAllocations(state, before);
    state.SetComplexityN(state.range(0));
}

void BM_IconCapture(benchmark::State& state) {
    Bench bench(static_cast<int>(state.range(0)));
    auto detected = bench.loop.run(bench.scanner->hybridDetectForTesting());
    std::size_t withWindow = 0;
    for (const auto& item : detected)
        if (item.windowID() != 0) ++withWindow;
    bench.loop.run(bench.scanner->captureIconsForTesting(detected));  // fills the cache
    int before = bench.world.captureService().windowImageRequests;
    for (auto _ : state) benchmark::DoNotOptimize(bench.loop.run(bench.scanner->captureIconsForTesting(detected)));
    double captures = bench.world.captureService().windowImageRequests - before;
    double lookups = static_cast<double>(withWindow) * static_cast<double>(state.iterations());
    state.counters["cacheHitRate"] = lookups > 0 ? 1.0 - captures / lookups : 0.0;
    state.SetComplexityN(state.range(0));
}

// The state's own work per snapshot: the sections from the items and the arrangement, and the
// check of whether the panel would show anything new. The arrangement orders every other item,
// last first, so both the ordered and the unordered paths carry weight.
void BM_StateSectionsAndChangeCheck(benchmark::State& state) {
    Bench bench(static_cast<int>(state.range(0)));
    auto detected = bench.loop.run(bench.scanner->hybridDetectForTesting());
    auto items = bench.loop.run(bench.scanner->captureIconsForTesting(std::move(detected)));
    IconArrangement arrangement = IconArrangement::empty();
    for (std::size_t i = items.size(); i-- > 0;)
        if (i % 2 == 0) arrangement.assign(items[i].id(), MenuBarItemVisibility::hiddenByNotch);
    const std::optional<DisplayInfo> display;
    const auto previous = AppState::computeSections(items, display, arrangement);
    for (auto _ : state) {
        auto sections = AppState::computeSections(items, display, arrangement);
        benchmark::DoNotOptimize(AppState::sectionsShowTheSame(previous, sections));
        benchmark::DoNotOptimize(sections);
    }
    state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(BM_StateSectionsAndChangeCheck)->Arg(50)->Arg(200)->Arg(1000)->Complexity(benchmark::oNLogN);
BENCHMARK(BM_DetectionLiteralPasses)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();
BENCHMARK(BM_DetectionIndexedPasses)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();
BENCHMARK(BM_DetectAndDebounce)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();
BENCHMARK(BM_PlatformShareOfDetection)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();
BENCHMARK(BM_IconCapture)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();

BENCHMARK_MAIN();
