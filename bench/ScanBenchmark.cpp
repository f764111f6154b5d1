// One scan of the menu bar on generated worlds of n status items spread over n/3 applications:
// detection plus debounce apart from icon capture, and the icon cache's hit rate.
#include "Services/HybridDetection.hpp"
#include "Services/MenuBarScanner.hpp"
#include "System/AccessibilityBridge.hpp"
#include "System/WindowListBridge.hpp"
#include "macos/AppKit/Workspace.hpp"
#include "macos/os/Logger.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

using namespace stashbay;

namespace {

sim::Scenario generatedWorld(int items) {
    sim::Scenario scenario = sim::defaultScenario();
    scenario.applications.clear();
    int apps = std::max(1, items / 3);
    for (int a = 0; a < apps; ++a) {
        sim::ProcessSpec app{1000 + a, "com.bench.app" + std::to_string(a), "App " + std::to_string(a)};
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
        os::LogStore::shared().setCapturing(false);
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
        return detection::Owner{"com.bench.app" + std::to_string(pid), "App"};
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

// The whole of detection (accessibility queries, window list, matching, sorts) plus debounce.
void BM_DetectAndDebounce(benchmark::State& state) {
    Bench bench(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto detected = bench.loop.run(bench.scanner->hybridDetectForTesting());
        benchmark::DoNotOptimize(bench.loop.run(bench.scanner->debounceForTesting(std::move(detected))));
    }
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

}  // namespace

BENCHMARK(BM_DetectionLiteralPasses)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();
BENCHMARK(BM_DetectionIndexedPasses)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();
BENCHMARK(BM_DetectAndDebounce)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();
BENCHMARK(BM_IconCapture)->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->Complexity();

BENCHMARK_MAIN();
