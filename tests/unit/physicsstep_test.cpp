// The world's geometry, and the step's own small passes and regions.
#include <gtest/gtest.h>

#include <tuple>

#include "scenes/scenes.h"
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

}  // namespace
}  // namespace tstest
