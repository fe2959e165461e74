#include "simlib/physicsstep.h"

#include <iterator>

#include "simlib/diseasepasses.h"
#include "simlib/gasflow.h"
#include "simlib/passstate.h"
#include "simlib/settling.h"
#include "simlib/updateliquid.h"
#include "simlib/ventpass.h"

namespace ts {

void StepJob::Run() { RunHeatBand(*world_, *collector_, band_, *scratch_, *rows_); }

namespace {
// With several workers the rows are cut into more bands than workers, so a
// band of busy rows does not leave the other workers idle. The result does
// not depend on the bands (each cell is written by the band that owns it).
int BandsFor(int workers) { return workers <= 1 ? 1 : 4 * workers; }
}  // namespace

StepContext::StepContext(WorkerPool& workerPool)
    : pool(workerPool), collectors(size_t(BandsFor(workerPool.workerCount()))) {
    for (size_t i = 0; i < collectors.size(); ++i) jobs.push_back(std::make_unique<StepJob>());
}

namespace {

// Rows minY..maxY-1 divided among the jobs in row order; the lowest rows go
// to job 0 and the row counts differ by at most one.
void RunBands(StepContext& context, World& world) {
    const Region& a = world.activeRegion;
    const int32_t n = int32_t(context.jobs.size());
    const int32_t h = a.maxY - a.minY;
    const int32_t q = h / n;
    const int32_t r = h % n;
    int32_t y0 = a.minY;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t y1 = y0 + q + (i < r ? 1 : 0);
        context.jobs[size_t(i)]->Set(&world, &context.collectors[size_t(i)], Rect{a.minX, y0, a.maxX, y1},
                                     &context.heatScratch, &context.heatScratch.bands[size_t(i)]);
        context.pool.Post(context.jobs[size_t(i)].get());
        y0 = y1;
    }
    context.pool.WaitAll();
}

void MergeWorkerOutputs(StepContext& context, World& world) {
    for (OutputCollector& collector : context.collectors) world.outputCollector.AppendAndClear(collector);
}

}  // namespace

void RunHeatPass(StepContext& context, World& world) {
    StageClock unused(nullptr);
    RunHeatPass(context, world, unused);
}

void RunHeatPass(StepContext& context, World& world, StageClock& clock) {
    context.heatScratch.Resize(context.jobs.size(), world.width, world.height);
    RunBands(context, world);
    clock.Lap(size_t(StepStage::Heat));
}

const char* StepStageName(StepStage stage) {
    static const char* const names[] = {"snapshots",      "heat",       "gas_pressure", "gas_mixing",
                                        "merge_outputs",  "liquid_flow",  "liquid_mixing", "disease_spread",
                                        "components",     "vent",         "settle",     "growth"};
    static_assert(std::size(names) == size_t(StepStage::Count));
    return names[size_t(stage)];
}

void Step(StepContext& context, World& world) {
    if (world.width == 0) return;
    StageClock clock(context.timings ? context.timings->seconds : nullptr);
    auto lap = [&clock](StepStage stage) { clock.Lap(size_t(stage)); };
    PassState& state = ProcessPassState();
    state.scanDirection = -state.scanDirection;
    world.Snapshot();
    lap(StepStage::Snapshots);
    // Later snapshots copy only what the passes since the last one can have
    // written: the rows the heat pass wrote, then the rows the gas and the
    // liquid passes marked, of the seven arrays passes write.
    RunHeatPass(context, world, clock);
    SnapshotAfterHeat(world, context.heatScratch);
    lap(StepStage::Snapshots);
    GasPressurePass(world, state.scanDirection);
    lap(StepStage::GasPressure);
    GasMixingPass(world, state.scanDirection);
    lap(StepStage::GasMixing);
    world.SyncWrittenRows();
    lap(StepStage::Snapshots);
    MergeWorkerOutputs(context, world);
    lap(StepStage::MergeOutputs);
    const Region& a = world.activeRegion;
    if (a.maxX != a.minX) {
        LiquidFlowPass(world);
        lap(StepStage::LiquidFlow);
        LiquidMixingPass(world, state.scanDirection);
        lap(StepStage::LiquidMixing);
        world.SyncWrittenRows();
        lap(StepStage::Snapshots);
    }
    DiseaseSpreadPass(world);
    lap(StepStage::DiseaseSpread);
    for (auto& component : world.components) component->Simulate(kStepSeconds, world);
    lap(StepStage::Components);
    const Rect chunks = ChunkRegion(world);
    VentPass(world, chunks);
    lap(StepStage::Vent);
    SettlePass(world, chunks);
    lap(StepStage::Settle);
    GrowDisease(world, chunks);
    lap(StepStage::Growth);
    world.stepCounter = static_cast<uint16_t>(world.stepCounter + 1);
    if (context.timings) ++context.timings->steps;
}

}  // namespace ts
