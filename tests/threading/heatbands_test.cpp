// The heat pass in parallel bands gives bit-identical cells and output lists
// for any number of workers (run under ThreadSanitizer in CI).
#include <gtest/gtest.h>

#include "scenes/scenes.h"
#include "simlib/physicsstep.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

struct HeatFixture : ::testing::Test {
    ts::ElementTable elements = StandardElements();
    ts::DiseaseTable diseases = StandardDiseases();
};

// A world with heat flowing across every band border, phase changes and a
// release permit, run with the given worker count.
uint64_t RunScene(int workers, ts::ElementTable& elements, ts::DiseaseTable& diseases, std::vector<ChangedCellEntry>& changed,
                  std::vector<MatterEntry>& emitted) {
    ts::WorkerPool pool(workers);
    ts::StepContext context(pool);
    auto world = tsscene::Uniform(elements, diseases, 40, 37, kGranite, 300.0f, 500.0f);
    for (int32_t y = 1; y <= 37; ++y)
        for (int32_t x = 1; x <= 40; ++x) {
            const size_t c = size_t(y * world->width + x);
            world->updatedCells.temperature[c] = 250.0f + float((x * 7 + y * 13) % 60) * 2.0f;
            if ((x + 2 * y) % 5 == 0) {
                world->updatedCells.elementIdx[c] = kWater;
                world->updatedCells.mass[c] = 400.0f;
            }
            if (x % 9 == 0) world->targetTemperature[c] = 280.0f;
        }
    std::fill(world->releasePermit.begin(), world->releasePermit.end(), 1);
    world->frameParameters.temperatureRelaxRate = 0.05f;
    for (int step = 0; step < 30; ++step) {
        world->Snapshot();
        ts::RunHeatPass(context, *world);
        for (auto& c : context.collectors) world->outputCollector.AppendAndClear(c);
    }
    changed = world->outputCollector.changedCells;
    emitted = world->outputCollector.emittedMatter;
    return tsscene::Hash(*world);
}

TEST_F(HeatFixture, BitIdenticalForAnyWorkerCount) {
    std::vector<ChangedCellEntry> changed1, changedN;
    std::vector<MatterEntry> emitted1, emittedN;
    const uint64_t one = RunScene(1, elements, diseases, changed1, emitted1);
    ASSERT_FALSE(changed1.empty());  // the scene does change phases
    for (int workers : {2, 4}) {
        SCOPED_TRACE(workers);
        EXPECT_EQ(RunScene(workers, elements, diseases, changedN, emittedN), one);
        ASSERT_EQ(changedN.size(), changed1.size());
        for (size_t i = 0; i < changed1.size(); ++i) EXPECT_EQ(changedN[i].gameCell, changed1[i].gameCell);
        ASSERT_EQ(emittedN.size(), emitted1.size());
        for (size_t i = 0; i < emitted1.size(); ++i) EXPECT_EQ(emittedN[i].gameCell, emitted1[i].gameCell);
    }
}

}  // namespace
}  // namespace tstest
