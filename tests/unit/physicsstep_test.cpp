// The world's geometry, the step's own small passes and regions, and the
// publication of a cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "scenes/scenes.h"
#include "simlib/frameresults.h"
#include "simlib/gamedata.h"
#include "simlib/passstate.h"
#include "simlib/physicsstep.h"
#include "simlib/ventpass.h"
#include "simlib/world.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

TEST(World, GeometryAndConversions) {
    const auto elements = StandardElements();
    const auto diseases = StandardDiseases();
    ts::World world(7, 5, 0, elements, diseases);  // game 5 x 3
    EXPECT_EQ(world.numGameCells, 15);
    // Game cell (gameWidth - 1) of row 0 is the last interior cell of row 1.
    EXPECT_EQ(world.GameToSim(4), 2 * 7 - 2);
    for (int32_t g = 0; g < world.numGameCells; ++g) {
        const int32_t c = world.GameToSim(g);
        EXPECT_EQ(world.SimToGame(c), g);
        EXPECT_EQ(world.ReportableGameCell(c), g);
    }
    // Border cells are never reportable, not even the right border whose plain
    // conversion lands on a valid game number.
    for (int32_t y = 0; y < 5; ++y) {
        EXPECT_EQ(world.ReportableGameCell(y * 7), -1);
        EXPECT_EQ(world.ReportableGameCell(y * 7 + 6), -1);
    }
    EXPECT_EQ(world.PackedPosition(2 * 7 + 3), (2u << 16) | 3u);
}

struct StepFixture : ::testing::Test {
    ts::ElementTable elements = StandardElements();
    ts::DiseaseTable diseases = StandardDiseases();
    ts::WorkerPool pool{2};
    ts::StepContext context{pool};
};

TEST_F(StepFixture, ChunkRegionStaysInsideTheGrid) {
    auto world = tsscene::Uniform(elements, diseases, 40, 20, kOxygen, 300.0f, 1.0f);  // 42 x 22 padded
    world->activeRegion = ts::Region{5, 3, 20, 10};
    const auto corners = [&] {
        const ts::Rect r = ts::ChunkRegion(*world);
        return std::tuple{r.x0, r.y0, r.x1, r.y1};
    };
    EXPECT_EQ(corners(), std::tuple(1, 1, 33, 21));  // y rounded out to 33, kept inside the interior
    world->activeRegion = ts::Region{1, 1, 41, 21};
    EXPECT_EQ(corners(), std::tuple(1, 1, 41, 21));
}

TEST_F(StepFixture, VentsCounterAndScanDirection) {
    auto world = tsscene::Uniform(elements, diseases, 4, 3, kWater, 300.0f, 15.0f);
    tsscene::Put(*world, 2, 1, kOxygen, 300.0f, 0.5f);
    tsscene::Put(*world, 3, 1, kGranite, 300.0f, 800.0f);
    world->cellByteGrid.assign(world->cellCount(), 0);
    for (int32_t x = 1; x <= 3; ++x) world->cellByteGrid[size_t(1 * world->width + x)] = 255;
    ts::VentPass(*world, ts::ChunkRegion(*world));
    const size_t liquid = size_t(1 * world->width + 1);
    EXPECT_EQ(world->updatedCells.mass[liquid], 0.0f);  // 15 kg, 20 kg vented
    EXPECT_EQ(world->updatedCells.elementIdx[liquid], kWater);
    EXPECT_EQ(world->updatedCells.temperature[liquid], 300.0f);
    EXPECT_FLOAT_EQ(world->updatedCells.mass[liquid + 1], 0.48f);
    EXPECT_EQ(world->cellFlow[liquid].f[0], -0.2f);
    EXPECT_EQ(world->updatedCells.mass[liquid + 2], 800.0f);  // solids are left alone
    EXPECT_EQ(world->cellFlow[liquid + 2].f[0], 0.0f);

    // In a whole step the settle pass then clears the emptied liquid cell.
    world->stepCounter = 65535;
    const int32_t direction = ts::ProcessPassState().scanDirection;
    tsscene::Put(*world, 1, 1, kWater, 300.0f, 15.0f);
    ts::Step(context, *world);
    EXPECT_EQ(ts::ProcessPassState().scanDirection, -direction);
    EXPECT_EQ(world->stepCounter, 0);
    EXPECT_EQ(world->updatedCells.elementIdx[liquid], kVacuum);
}

// Publication of a cycle: the emittedMatter merge, the change records and the
// per-cell views the host draws from.
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
