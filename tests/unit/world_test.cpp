#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tstest
