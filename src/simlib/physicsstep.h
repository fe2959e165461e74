// One physics step: 0.2 s of game time, a fixed sequence of passes.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "simlib/updatetemperature.h"
#include "simlib/workerpool.h"
#include "simlib/world.h"

namespace ts {

// Rectangle x in [x0, x1), y in [y0, y1) of sim cells.
struct Rect {
    int32_t x0, y0, x1, y1;
};

// The active region widened to whole 32 x 32 chunks (chunks start at 1, 33,
// 65, ...), then kept inside the grid's interior: rounded out, it would reach
// past the grid whenever a side is not a multiple of 32.
Rect ChunkRegion(const World& world);

// The heat pass of one band of rows, in one of its two phases.
class StepJob final : public Job {
public:
    enum class Phase { ComputePairs, ApplyPairs };
    void Set(World* world, HeatPassScratch* scratch, OutputCollector* collector, Phase phase, int32_t x0,
             int32_t y0, int32_t x1, int32_t y1) {
        world_ = world;
        scratch_ = scratch;
        collector_ = collector;
        phase_ = phase;
        x0_ = x0;
        y0_ = y0;
        x1_ = x1;
        y1_ = y1;
    }
    void Run() override;

private:
    World* world_ = nullptr;
    HeatPassScratch* scratch_ = nullptr;
    OutputCollector* collector_ = nullptr;
    Phase phase_ = Phase::ComputePairs;
    int32_t x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;
};

// The stages of a step in their order, for the time spent in each.
enum class StepStage {
    Snapshots,
    HeatCompute,
    HeatApply,
    GasPressure,
    GasMixing,
    MergeOutputs,
    LiquidFlow,
    LiquidMixing,
    DiseaseSpread,
    Components,
    Vent,
    Settle,
    Growth,
    Count
};
const char* StepStageName(StepStage stage);

// Seconds spent in each stage, summed over the steps run while a benchmark
// has set StepContext::timings.
struct StepTimings {
    double seconds[size_t(StepStage::Count)] = {};
    uint64_t steps = 0;
};

// Adds the time since the previous lap to a stage; does nothing without timings.
class StageClock {
public:
    using Clock = std::chrono::steady_clock;
    explicit StageClock(double* seconds) : seconds_(seconds) {
        if (seconds_) last_ = Clock::now();
    }
    void Lap(size_t stage) {
        if (!seconds_) return;
        const Clock::time_point now = Clock::now();
        seconds_[stage] += std::chrono::duration<double>(now - last_).count();
        last_ = now;
    }

private:
    double* seconds_;
    Clock::time_point last_{};
};

// What the step keeps for the life of the simulation: one job and one output
// collector per pool worker, and the heat pass's scratch.
struct StepContext {
    explicit StepContext(WorkerPool& pool);
    WorkerPool& pool;
    std::vector<std::unique_ptr<StepJob>> jobs;
    std::vector<OutputCollector> collectors;
    HeatPassScratch heatScratch;
    StepTimings* timings = nullptr;  // benchmarks only
};

// The heat pass over the active region, in parallel bands of rows.
void RunHeatPass(StepContext& context, World& world);
void RunHeatPass(StepContext& context, World& world, StageClock& clock);

void Step(StepContext& context, World& world);

// Passes that the step runs on the sim thread.
void VentPass(World& world, const Rect& region);

}  // namespace ts
