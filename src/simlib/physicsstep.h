// One physics step: kStepSeconds of game time, a fixed sequence of passes.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "simlib/heatpass.h"
#include "simlib/passregion.h"
#include "simlib/workerpool.h"
#include "simlib/world.h"

namespace ts {

// The heat pass of one band of rows.
class StepJob final : public Job {
public:
    void Set(World* world, OutputCollector* collector, const Rect& band, HeatPassScratch* scratch,
             HeatBandRows* rows) {
        world_ = world;
        collector_ = collector;
        band_ = band;
        scratch_ = scratch;
        rows_ = rows;
    }
    void Run() override;

private:
    World* world_ = nullptr;
    OutputCollector* collector_ = nullptr;
    Rect band_{0, 0, 0, 0};
    HeatPassScratch* scratch_ = nullptr;
    HeatBandRows* rows_ = nullptr;
};

// The stages of a step in their order, for the time spent in each.
enum class StepStage {
    Snapshots,
    Heat,
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

}  // namespace ts
