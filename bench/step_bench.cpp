// The physics step on mixed scenes, against the cost of one full copy of the
// world's ten cell arrays (a step touches its data at least once). Reports
// ns per cell per step; the ratios to the copy are what compare across runs.
#include <benchmark/benchmark.h>

#include "scenes/scenes.h"
#include "simlib/physicsstep.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Seconds of one full copy of the world's ten cell arrays (the yardstick),
// measured in the same run as the pass it is compared with.
double CopySeconds(ts::World& world) {
    world.Snapshot();
    const auto start = Clock::now();
    constexpr int kCopies = 8;
    for (int i = 0; i < kCopies; ++i) {
        world.Snapshot();
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(Clock::now() - start).count() / kCopies;
}

const tsscene::Tables& SharedTables() {
    static const tsscene::Tables tables = tsscene::SampleTables();
    return tables;
}

void SetCellCounters(benchmark::State& state, const ts::World& world) {
    const double cells = double(world.cellCount());
    // Seconds per cell per iteration (printed with its SI prefix, e.g. "2.1n").
    state.counters["time_per_cell"] = benchmark::Counter(cells * double(state.iterations()),
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["cells"] = cells;
}

// One Snapshot: the yardstick.
void BM_CopyCellArrays(benchmark::State& state) {
    auto world = tsscene::Mixed(SharedTables(), int32_t(state.range(0)), int32_t(state.range(1)));
    for (auto _ : state) {
        world->Snapshot();
        benchmark::ClobberMemory();
    }
    SetCellCounters(state, *world);
}

void BM_HeatPass(benchmark::State& state) {
    auto world = tsscene::Mixed(SharedTables(), int32_t(state.range(0)), int32_t(state.range(1)));
    ts::WorkerPool pool(int(state.range(2)));
    ts::StepContext context(pool);
    ts::RunHeatPass(context, *world);  // warm-up: scratch sized
    const double copy = CopySeconds(*world);
    const auto start = Clock::now();
    for (auto _ : state) {
        ts::RunHeatPass(context, *world);
        for (auto& c : context.collectors) c.Clear();
    }
    const double pass = std::chrono::duration<double>(Clock::now() - start).count() / double(state.iterations());
    state.counters["copies"] = pass / copy;  // the pass's cost in full copies of the cell arrays
    SetCellCounters(state, *world);
    // How many pair exchanges a cell takes part in: the pass's real work.
    size_t pairs = 0;
    for (uint8_t m : context.heatScratch.pairMask) pairs += size_t((m & 1) + ((m >> 1) & 1));
    state.counters["pairs_per_cell"] = double(pairs) / double(world->cellCount());
}

void BM_Step(benchmark::State& state) {
    auto world = tsscene::Mixed(SharedTables(), int32_t(state.range(0)), int32_t(state.range(1)));
    ts::WorkerPool pool(int(state.range(2)));
    ts::StepContext context(pool);
    // Past the first steps' rush: the scene's steady work is what is measured.
    for (int i = 0; i < 10; ++i) {
        ts::Step(context, *world);
        world->outputCollector.Clear();
    }
    const double copy = CopySeconds(*world);
    const auto start = Clock::now();
    for (auto _ : state) {
        ts::Step(context, *world);
        world->outputCollector.Clear();
    }
    const double step = std::chrono::duration<double>(Clock::now() - start).count() / double(state.iterations());
    state.counters["copies"] = step / copy;  // the step's cost in full copies of the cell arrays
    SetCellCounters(state, *world);
}

}  // namespace

BENCHMARK(BM_CopyCellArrays)->Args({256, 384})->Args({1024, 1024})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeatPass)->Args({256, 384, 1})->Args({256, 384, 2})->Args({1024, 1024, 1})->Args({1024, 1024, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
// The cost per cell across sizes (1 worker).
BENCHMARK(BM_Step)->Args({64, 64, 1})->Args({128, 128, 1})->Args({512, 512, 1})->Args({2048, 2048, 1})
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Name("BM_StepScaling");
BENCHMARK(BM_Step)->Args({256, 384, 1})->Args({256, 384, 2})->Args({1024, 1024, 1})->Args({1024, 1024, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
