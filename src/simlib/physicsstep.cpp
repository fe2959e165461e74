#include "simlib/physicsstep.h"

#include "simlib/passstate.h"
#include "simlib/simthread.h"

namespace ts {

namespace {

// The worker collectors are merged into the world's, in job order.
void MergeWorkerOutputs(SimThread& simThread, World& world) {
    for (OutputCollector& collector : simThread.workerCollectors()) world.outputCollector.AppendAndClear(collector);
}

}  // namespace

void Step(SimThread& simThread, World& world) {
    if (world.width == 0) return;
    PassState& state = ProcessPassState();
    state.scanDirection = -state.scanDirection;
    world.Snapshot();
    // Heat pass in parallel bands: not built yet.
    world.Snapshot();
    // Gas pressure and gas mixing: not built yet.
    world.Snapshot();
    MergeWorkerOutputs(simThread, world);
    if (world.activeRegion.maxX != world.activeRegion.minX) {
        // Liquid flow and liquid mixing: not built yet.
        world.Snapshot();
    }
    // Disease spread: not built yet.
    for (auto& component : world.components) component->Simulate(world);
    // Venting, settling and disease growth: not built yet.
    world.stepCounter = static_cast<uint16_t>(world.stepCounter + 1);
}

}  // namespace ts
