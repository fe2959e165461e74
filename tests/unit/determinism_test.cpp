// Results are pinned: whole steps on the shared scenes end in one fixed hash
// of the cells, the side arrays and every result list, for any number of
// workers. A change that moves these hashes changes results; it is never a
// speed-up. Re-pin (the two constants below) only for a deliberate change of
// behaviour, and say so in its commit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "scenes/scenes.h"
#include "simlib/passstate.h"
#include "simlib/gasflow.h"
#include "simlib/physicsstep.h"
#include "simlib/updateliquid.h"
#include "simlib/workerpool.h"
#include "simlib/worldhash.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

constexpr uint64_t kMixedHash = 0x4887e7004c974e49;
constexpr uint64_t kSettledHash = 0xf048fe7475bfa0b2;
// The mixed scene with an active region of three rows: more workers than rows
// leaves bands empty.
constexpr uint64_t kThreeRowsHash = 0x7fd99671c561d728;

constexpr int kSteps = 200;

struct SceneRun {
    uint64_t hash = 0;
    size_t listEntries = 0;  // how much the lists carried: a hash of empty lists pins little
};

uint64_t Fold(uint64_t h, uint64_t v) { return (h ^ v) * 0x100000001b3ull; }

struct SceneOptions {
    bool settled = false;  // the settled scene, poured every 10 steps; otherwise the mixed one
    int workers = 1;
    int steps = kSteps;
    bool skipQuietChunks = true;
    ts::Region region{};  // empty: the whole interior
};

SceneRun RunScene(const tsscene::Tables& tables, const SceneOptions& options) {
    SimThreadFloatMode floatMode;
    auto world = options.settled ? tsscene::Settled(tables, 128, 64) : tsscene::Mixed(tables, 96, 64);
    world->randomSeed = 20240611u;
    if (options.region.maxX > 0) world->activeRegion = options.region;
    // Release permitted in the left half: emptied and emitted cells reach the lists.
    for (int32_t g = 0; g < world->numGameCells; ++g)
        world->releasePermit[size_t(g)] = uint8_t(g % world->gameWidth() < world->gameWidth() / 2);
    ts::ProcessPassState() = ts::PassState{};  // the directions outlive worlds
    ts::WorkerPool pool(options.workers);
    ts::StepContext context(pool);
    context.heatScratch.skipQuietChunks = options.skipQuietChunks;
    SceneRun run;
    uint64_t outputs = 0;
    for (int step = 0; step < options.steps; ++step) {
        if (options.settled && step % 10 == 0) tsscene::Pour(tables, *world);
        ts::Step(context, *world);
        // The step's later snapshots leave out the arrays only messages write:
        // a pass that wrote one would leave the snapshot behind.
        EXPECT_EQ(world->cells.cellFlags, world->updatedCells.cellFlags);
        EXPECT_EQ(world->cells.insulation, world->updatedCells.insulation);
        EXPECT_EQ(world->cells.strengthModifier, world->updatedCells.strengthModifier);
        world->outputCollector.ForEachList([&run](const auto& list) { run.listEntries += list.size(); });
        outputs = Fold(outputs, ts::HashOutputs(world->outputCollector));
        world->outputCollector.Clear();
    }
    run.hash = Fold(ts::HashWorldState(*world), outputs);
    return run;
}

TEST(Determinism, PinnedHashesForEveryWorkerCount) {
    const tsscene::Tables tables = tsscene::SampleTables();
    for (const bool settled : {false, true}) {
        const uint64_t pinned = settled ? kSettledHash : kMixedHash;
        for (const int workers : {1, 2, 3, 4, 8}) {
            SCOPED_TRACE(std::string(settled ? "settled" : "mixed") + ", workers " + std::to_string(workers));
            const SceneRun run = RunScene(tables, {.settled = settled, .workers = workers});
            EXPECT_GT(run.listEntries, 100u);
            if (run.hash != pinned) std::printf("hash 0x%016" PRIx64 " entries %zu\n", run.hash, run.listEntries);
            EXPECT_EQ(run.hash, pinned);
        }
    }
    for (const int workers : {1, 8}) {
        const SceneRun run = RunScene(tables, {.workers = workers, .steps = 50, .region = ts::Region{1, 20, 97, 23}});
        EXPECT_EQ(run.hash, kThreeRowsHash) << workers << std::hex << " 0x" << run.hash;
    }
}

// The heat pass skips 32 x 32 blocks that cannot change: with skipping off
// every block is computed, and the results must be the same, also where the
// active region cuts chunks and halos (the heater's front crosses blocks).
TEST(Determinism, SkippingQuietChunksChangesNothing) {
    const tsscene::Tables tables = tsscene::SampleTables();
    for (const bool settled : {false, true}) {
        for (const ts::Region region : {ts::Region{}, ts::Region{7, 5, 90, 60}}) {
            SCOPED_TRACE(std::string(settled ? "settled" : "mixed") + ", region from x " + std::to_string(region.minX));
            SceneOptions options{.settled = settled, .workers = 3, .steps = 80, .region = region};
            const SceneRun skipping = RunScene(tables, options);
            options.skipQuietChunks = false;
            EXPECT_EQ(RunScene(tables, options).hash, skipping.hash);
        }
    }
}

// The step copies into its snapshot only the rows the gas and the liquid
// passes marked: after each copy the snapshot must equal the cells, bit for
// bit, however the scenes move.
TEST(Determinism, MarkedRowsHoldEveryWriteOfTheMatterPasses) {
    const tsscene::Tables tables = tsscene::SampleTables();
    SimThreadFloatMode floatMode;
    for (const bool settled : {false, true}) {
        auto world = settled ? tsscene::Settled(tables, 128, 64) : tsscene::Mixed(tables, 96, 64);
        world->randomSeed = 7u;
        ts::WorkerPool pool(1);
        ts::StepContext context(pool);
        auto synced = [&](const char* after, int step) {
            world->SyncWrittenRows();
            const ts::CellArrays &s = world->cells, &u = world->updatedCells;
            auto same = [](const auto& a, const auto& b) { return std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0; };
            EXPECT_TRUE(same(s.elementIdx, u.elementIdx) && same(s.temperature, u.temperature) && same(s.mass, u.mass) &&
                        same(s.diseaseIdx, u.diseaseIdx) && same(s.diseaseCount, u.diseaseCount) &&
                        same(s.diseaseAge, u.diseaseAge) && same(s.diseaseGrowthRemainder, u.diseaseGrowthRemainder))
                << (settled ? "settled" : "mixed") << ", after " << after << " of step " << step;
        };
        for (int step = 0; step < 60; ++step) {
            if (settled && step % 10 == 0) tsscene::Pour(tables, *world);
            const int32_t dir = ts::ProcessPassState().scanDirection;
            world->Snapshot();
            ts::GasPressurePass(*world, dir);
            ts::GasMixingPass(*world, dir);
            synced("the gas passes", step);
            ts::LiquidFlowPass(*world);
            ts::LiquidMixingPass(*world, dir);
            synced("the liquid passes", step);
            ts::Step(context, *world);
            world->outputCollector.Clear();
        }
    }
}

}  // namespace
}  // namespace tstest
