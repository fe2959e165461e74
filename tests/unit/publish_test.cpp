// Publication of a cycle: the emittedMatter merge, the change records and the
// per-cell views the host draws from.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "scenes/scenes.h"
#include "simlib/frameresults.h"
#include "simlib/gamedata.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

struct PublishFixture : ::testing::Test {
    ts::ElementTable elements = StandardElements();
    ts::DiseaseTable diseases = StandardDiseases();
    ts::WorkerPool pool{1};
    ts::PublishContext context{1};
};

TEST_F(PublishFixture, EmittedMatterOfOneElementAtOneCellMerges) {
    auto world = tsscene::Uniform(elements, diseases, 3, 2, kOxygen, 300.0f, 1.0f);
    ts::GameData w(3, 2), r(3, 2);
    w.CopyCellsFrom(*world);
    r.CopyCellsFrom(*world);
    auto& emitted = world->outputCollector.emittedMatter;
    emitted.push_back(MatterEntry{4, kIce, 0, {0, 0}, 1.0f, 300.0f, 10});
    emitted.push_back(MatterEntry{1, kIce, 255, {0, 0}, 2.0f, 250.0f, 0});
    emitted.push_back(MatterEntry{4, kIce, 1, {0, 0}, 3.0f, 400.0f, 20});
    emitted.push_back(MatterEntry{4, kGranite, 255, {0, 0}, 5.0f, 500.0f, 0});
    ts::PublishResults(*world, w, r, 1, pool, context);
    ASSERT_EQ(w.emittedMatter.size(), 3u);
    const auto entry = [&w](size_t i) {
        const MatterEntry& e = w.emittedMatter[i];
        return std::tuple(e.gameCell, int(e.elementIdx), e.mass, e.temperature, int(e.diseaseIdx), e.diseaseCount);
    };
    EXPECT_EQ(entry(0), std::tuple(1, int(kIce), 2.0f, 250.0f, 255, 0));
    EXPECT_EQ(entry(1), std::tuple(4, int(kGranite), 5.0f, 500.0f, 255, 0));
    // The two ice entries of cell 4, mixed; the first entry's disease stays.
    EXPECT_EQ(entry(2), std::tuple(4, int(kIce), 4.0f, 375.0f, 0, 10));
    EXPECT_TRUE(world->outputCollector.emittedMatter.empty());
    EXPECT_EQ(w.frameCount, 1u);
}

TEST_F(PublishFixture, LightAndLiquidColoursNeverNaN) {
    elements.records[kWater].colour = 0x123456;
    elements.records[kOxygen].defaultMass = 0.0f;  // 1/0: infinite inverse default mass
    elements.records[kOxygen].lightAbsorptionFactor = 0.5f;
    elements.records[kGranite].lightAbsorptionFactor = 1.0f;
    elements.BuildDerivedTables();
    // Column 0: water under empty oxygen; column 1: granite in the middle row.
    auto world = tsscene::Uniform(elements, diseases, 2, 3, kOxygen, 300.0f, 0.0f);
    tsscene::Put(*world, 1, 1, kWater, 300.0f, 250.0f);
    tsscene::Put(*world, 2, 2, kGranite, 300.0f, 10.0f);
    world->cellFlow[size_t(1 * world->width + 1)] = ts::CellFlow{{NAN, 0, 0, 0}};
    world->Snapshot();
    ts::GameData w(2, 3), r(2, 3);
    ts::PublishResults(*world, w, r, 1, pool, context);
    // The top row is fully lit; an empty oxygen cell absorbs nothing.
    EXPECT_EQ(w.lightLevels[4], 255);
    EXPECT_EQ(w.lightLevels[2], 255);
    EXPECT_EQ(w.lightLevels[0], 255);
    // The granite cell itself is lit; below it (it absorbs everything) it is dark.
    EXPECT_EQ(w.lightLevels[3], 255);
    EXPECT_EQ(w.lightLevels[1], 0);
    // Water under (empty) gas: alpha from its fill, colour from the table.
    const uint32_t colour = w.liquidColours[0];
    EXPECT_EQ(colour & 0xFFFFFFu, 0x123456u);
    EXPECT_EQ(colour >> 24, uint32_t(255.0f * std::pow(0.25f, 0.45f)));
    for (float v : w.flowVectors) EXPECT_FALSE(std::isnan(v));
}

}  // namespace
}  // namespace tstest
