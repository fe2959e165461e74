// The physics step and the whole host cycle on the shared scenes, in the
// steady state (after warm-up steps), against the cost of copying the world's
// cells in the same run. Absolute times on shared machines are noise; the
// ratios ("copies") are what compare across runs and machines.
//
//   Step/<scene>/<w>x<h>/w<workers>       one physics step; per-stage copies
//   HostCycle/<scene>/<w>x<h>/w<workers>  one frame of dt 0.2 through
//                                         SIM_HandleMessage, exchange to exchange
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "common/floatmode.h"
#include "hostapi/runtime.h"
#include "hostkit/payloads.h"
#include "hostkit/savegame.h"
#include "hostkit/tables.h"
#include "scenes/scenes.h"
#include "simlib/physicsstep.h"
#include "simlib/simthread.h"
#include "tesselsim/tesselsim.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

const tsscene::Tables& SharedTables() {
    static const tsscene::Tables tables = tsscene::SampleTables();
    return tables;
}

enum Scene : int64_t { kMixed = 0, kSettled = 1 };
const char* SceneName(int64_t scene) { return scene == kSettled ? "settled" : "mixed"; }

std::unique_ptr<ts::World> MakeScene(int64_t scene, int32_t gw, int32_t gh) {
    return scene == kSettled ? tsscene::Settled(SharedTables(), gw, gh) : tsscene::Mixed(SharedTables(), gw, gh);
}

// Warm-up steps before measuring, past the first steps' rush. The same number
// on every size: the scenes change most in their first steps (the mixed one
// goes from 0.4 to 1.0 exchanging pairs per cell), and the cost per cell of two
// sizes compares only in the same state.
constexpr int kWarmUpSteps = 30;

// CPU seconds of every thread of the process: on a machine shared with
// other work this counts what the run did, not the time it waited for a core.
double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Wall and CPU seconds of one run of something.
struct Cost {
    double wall = 0.0;
    double cpu = 0.0;
};

// Times one run each; the median shrugs off the runs another process interrupted.
class IterationTimes {
public:
    explicit IterationTimes(size_t expected = 0) { times_.reserve(expected); }
    template <class F>
    void Time(F&& f) {
        const auto start = Clock::now();
        const double cpu = ProcessCpuSeconds();
        f();
        benchmark::ClobberMemory();
        times_.push_back(Cost{Seconds(start), ProcessCpuSeconds() - cpu});
    }
    Cost Median() const {
        std::vector<double> wall, cpu;
        for (const Cost& c : times_) {
            wall.push_back(c.wall);
            cpu.push_back(c.cpu);
        }
        return Cost{MedianOf(wall), MedianOf(cpu)};
    }
    double MeanWall() const {
        double sum = 0.0;
        for (const Cost& c : times_) sum += c.wall;
        return times_.empty() ? 0.0 : sum / double(times_.size());
    }

private:
    static double MedianOf(std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    }
    std::vector<Cost> times_;
};

// The yardstick is timed just before and again just after the timed
// iterations, and its median over both takes the place of either: the speed of
// this shared machine's memory drifts over a run, and a yardstick taken on one
// side only made the ratios of one case swing by half.
class Yardstick {
public:
    template <class F>
    void Time(size_t cells, F&& copy) {
        copy();
        for (int i = cells > 4'000'000 ? 5 : 21; i > 0; --i) times_.Time(copy);
    }
    Cost Median() const { return times_.Median(); }

private:
    IterationTimes times_;
};

// One Snapshot (the ten cell arrays copied whole): the step's yardstick.
void TimeSnapshot(Yardstick& yardstick, ts::World& world) {
    yardstick.Time(world.cellCount(), [&] { world.Snapshot(); });
}

// One memcpy of 22 bytes per cell (the ten arrays' width): the host cycle's yardstick.
void TimeMemcpy(Yardstick& yardstick, size_t cells) {
    std::vector<uint8_t> from(22 * cells, 1), to(22 * cells, 0);
    yardstick.Time(cells, [&] { std::memcpy(to.data(), from.data(), from.size()); });
}

// `copies`: median wall time over the yardstick's; `cpu_copies` the same in
// CPU time of the whole process (all threads), the steadier figure when the
// machine is busy with other work.
void SetPerCell(benchmark::State& state, const IterationTimes& times, double cells, Cost yardstick) {
    const Cost median = times.Median();
    state.counters["ns_per_cell"] = median.wall / cells * 1e9;
    state.counters["copies"] = median.wall / yardstick.wall;
    state.counters["copies_mean"] = times.MeanWall() / yardstick.wall;
    state.counters["cpu_ns_per_cell"] = median.cpu / cells * 1e9;
    state.counters["cpu_copies"] = median.cpu / yardstick.cpu;
    state.counters["yardstick_ms"] = yardstick.wall * 1e3;
    state.counters["cells"] = cells;
}

struct Config {
    int64_t scene;
    int32_t width, height;
    int workers;
};

void BM_Step(benchmark::State& state, Config config) {
    const int64_t scene = config.scene;
    auto world = MakeScene(scene, config.width, config.height);
    ts::WorkerPool pool(config.workers);
    ts::StepContext context(pool);
    int step = 0;
    ts::SetSimulationFloatMode();  // as on the sim thread, which runs the step
    auto advance = [&] {
        // The settled scene's pour, as a host would keep it going.
        if (scene == kSettled && step++ % 10 == 0) tsscene::Pour(SharedTables(), *world);
        ts::Step(context, *world);
        world->outputCollector.Clear();
    };
    for (int i = kWarmUpSteps; i > 0; --i) advance();
    Yardstick yard;
    TimeSnapshot(yard, *world);
    ts::StepTimings timings;
    context.timings = &timings;
    IterationTimes times{size_t(state.max_iterations)};
    for (auto _ : state) times.Time(advance);
    context.timings = nullptr;
    TimeSnapshot(yard, *world);  // the step begins with a Snapshot: results are unchanged
    const Cost yardstick = yard.Median();
    const double copy = yardstick.wall;
    SetPerCell(state, times, double(world->cellCount()), yardstick);
    for (size_t s = 0; s < size_t(ts::StepStage::Count); ++s)
        state.counters[std::string("c_") + ts::StepStageName(ts::StepStage(s))] =
            timings.seconds[s] / double(timings.steps) / copy;
    // Pair exchanges per cell in the last step: the heat pass's real work.
    uint64_t pairs = 0;
    for (const ts::HeatBandRows& band : context.heatScratch.bands) pairs += band.exchangedPairs;
    state.counters["pairs_per_cell"] = double(pairs) / double(world->cellCount());
    // Share of the interior's row segments (a row of one 32-column chunk) the heat pass skipped.
    const ts::HeatPassScratch& heat = context.heatScratch;
    size_t quiet = 0, segments = 0;
    for (int32_t y = 1; y < world->height - 1; ++y)
        for (int32_t x = 1; x < world->width - 1; x += 32, ++segments)
            quiet += heat.quietSegment[size_t(y) * size_t(heat.chunkColumns) + size_t((x - 1) / 32)];
    state.counters["heat_skipped"] = double(quiet) / double(segments);
}

// ------------------------------------------------------------- host cycle

uint64_t Send(uint32_t id, const std::string& payload) {
    return SIM_HandleMessage(id, int32_t(payload.size()), payload.data());
}
template <class T>
uint64_t Post(uint32_t id, const T& payload) {
    return SIM_HandleMessage(id, int32_t(sizeof(T)), &payload);
}

// The scene as a save blob, so the library loads it as a host's world.
std::string SaveOf(const ts::World& world) {
    const ts::ElementTable& elements = SharedTables().elements;
    tshost::SaveGame save = tshost::SaveGame::Empty(world.width, world.height);
    const ts::CellArrays& u = world.updatedCells;
    for (size_t c = 0; c < world.cellCount(); ++c) {
        const uint8_t e = elements.Contains(u.elementIdx[c]) ? u.elementIdx[c] : world.vacuumElementIdx;
        save.cells[c] = SavedCell{elements.records[e].id, u.temperature[c], u.mass[c]};
        save.targetTemperature[c] = world.targetTemperature[c];
    }
    return tshost::WriteSaveGame(save);
}

// HostCycle/<scene>/<w>x<h>/w<workers>: each iteration is what a host does
// once per game frame: frame parameters, the pour (settled), EndFrame of dt
// 0.2, ExchangeFrame with its input grid. The exchange waits for the cycle it
// released last time, so an iteration lasts one whole cycle: apply, step,
// publication and the handshake.
void BM_HostCycle(benchmark::State& state, Config config) {
    const int64_t scene = config.scene;
    const int32_t gw = config.width, gh = config.height;
    const std::string blob = SaveOf(*MakeScene(scene, gw, gh));
    ts::Runtime& rt = ts::GetRuntime();
    rt.simWorkers = config.workers;
    SIM_Initialize(nullptr);
    const tshost::SampleTables sample = tshost::LoadSampleTables();
    Send(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(sample.elements));
    Send(SIM_MSG_LOAD_DISEASE_TABLE, tshost::DiseaseTablePayload(sample.diseases, int32_t(sample.elements.size())));
    ts::CycleTimings timings;
    rt.simThread->SetTimings(&timings);
    Send(SIM_MSG_LOAD_SAVE_GAME, blob);

    const std::string grid(size_t(gw) * size_t(gh), char(0));
    const uint8_t water = SharedTables().Index("Water");
    std::vector<int32_t> pourCells;
    if (scene == kSettled)
        for (int32_t y = 21; y < gh; y += tsscene::kSettledTileHeight)
            for (int32_t x = 75; x + 1 < gw; x += tsscene::kSettledTileWidth)
                for (int32_t dx = 0; dx < 2; ++dx) pourCells.push_back(y * gw + x + dx);
    auto frame = [&] {
        Post(SIM_MSG_SET_FRAME_PARAMETERS, tshost::SetFrameParameters(0.001f, 0.01f, 0.001f, 0.05f, 0));
        for (int32_t cell : pourCells)
            Post(SIM_MSG_ADD_MASS, tshost::AddMass(cell, 0xFFFFFFFFu, 20.0f, tsscene::kSettledTemperature, 0, water, 255));
        Post(SIM_MSG_END_FRAME, tshost::EndFrame(0.2f, 0, 0, gw, gh));
        benchmark::DoNotOptimize(Send(SIM_MSG_EXCHANGE_FRAME, grid));
    };
    for (int i = kWarmUpSteps; i > 0; --i) frame();
    Yardstick yard;
    TimeMemcpy(yard, size_t(gw) * size_t(gh));
    {
        std::lock_guard<std::mutex> guard(rt.exchange.cycleLock);
        timings = ts::CycleTimings{};
    }
    IterationTimes times{size_t(state.max_iterations)};
    for (auto _ : state) times.Time(frame);
    const double perCycle = times.MeanWall();
    ts::CycleTimings seen;
    {
        std::lock_guard<std::mutex> guard(rt.exchange.cycleLock);
        seen = timings;
    }
    SIM_Shutdown();
    rt.simWorkers = 0;
    TimeMemcpy(yard, size_t(gw) * size_t(gh));
    const Cost yardstick = yard.Median();
    const double copy = yardstick.wall;

    const double cycles = double(seen.cycles);
    SetPerCell(state, times, double(gw) * double(gh), yardstick);
    state.counters["cycles_per_s"] = 1.0 / times.Median().wall;
    double simSeconds = 0.0;
    const char* cycleNames[] = {"other", "apply", "steps", "publish"};
    for (int s = 0; s < ts::CycleTimings::StageCount; ++s) {
        state.counters[std::string("c_") + cycleNames[s]] = seen.seconds[s] / cycles / copy;
        simSeconds += seen.seconds[s];
    }
    // What the sim thread did not account for: the handshake and the host's own
    // work (means, as the stages are).
    state.counters["c_handshake"] = (perCycle - simSeconds / cycles) / copy;
    for (size_t s = 0; s < size_t(ts::PublishStage::Count); ++s)
        state.counters[std::string("p_") + ts::PublishStageName(ts::PublishStage(s))] =
            seen.publication.seconds[s] / double(seen.publication.publications) / copy;
}

void Register(const char* kind, void (*fn)(benchmark::State&, Config), int64_t scene, int32_t w, int32_t h,
              int workers) {
    const std::string name = std::string(kind) + "/" + SceneName(scene) + "/" + std::to_string(w) + "x" +
                             std::to_string(h) + "/w" + std::to_string(workers);
    const Config config{scene, w, h, workers};
    auto* b = benchmark::RegisterBenchmark(name.c_str(), [fn, config](benchmark::State& state) { fn(state, config); });
    b->Unit(benchmark::kMillisecond)->UseRealTime();
    // The largest worlds step about once a second: a few iterations only.
    if (int64_t(w) * h > 4'000'000) b->Iterations(4);
}

}  // namespace

int main(int argc, char** argv) {
    for (int64_t scene : {kSettled, kMixed}) {
        // Cost per cell across sizes (1 worker).
        Register("Step", BM_Step, scene, 64, 64, 1);
        for (auto [w, h] : {std::pair<int32_t, int32_t>{256, 384}, {1024, 1024}, {4096, 4096}})
            for (int workers : {1, 2}) {
                Register("Step", BM_Step, scene, w, h, workers);
                Register("HostCycle", BM_HostCycle, scene, w, h, workers);
            }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
