// Building a simulated world of n status items, one application each: the scenario's load and
// the bar's layout, which runs once for the whole load.
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <benchmark/benchmark.h>

#include <string>

namespace {

sim::Scenario generatedWorld(int items) {
    sim::Scenario scenario = sim::defaultScenario();
    scenario.applications.resize(1);
    for (int i = 0; i < items; ++i) {
        sim::ProcessSpec app;
        app.pid = 1000 + i;
        app.bundleIdentifier = "com.example.app" + std::to_string(i);
        sim::StatusItemSpec item;
        item.title = "Item " + std::to_string(i);
        item.width = 20 + i % 13;
        app.statusItems.push_back(std::move(item));
        scenario.applications.push_back(std::move(app));
    }
    return scenario;
}

void BM_BuildWorld(benchmark::State& state) {
    runtime::ManualLoop loop;
    const auto scenario = generatedWorld(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        sim::World world{scenario};
        benchmark::DoNotOptimize(world.statusItems().size());
    }
    state.SetComplexityN(state.range(0));
}

}  // namespace

BENCHMARK(BM_BuildWorld)
    ->Arg(1000)
    ->Arg(3000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN);

BENCHMARK_MAIN();
