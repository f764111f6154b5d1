// Building a simulated world of n status items, one application each: the scenario's load and
// the bar's layout, which runs once for the whole load.
#include "macos/sim/GeneratedScenario.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void BM_BuildWorld(benchmark::State& state) {
    runtime::ManualLoop loop;
    const auto scenario = sim::scenarioWithManyItems(static_cast<int>(state.range(0)));
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
