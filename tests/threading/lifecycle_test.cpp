// Lifecycles that games go through while a world runs: initialising again,
// loading again. Run under ThreadSanitizer in CI (the exit without shutdown is
// the lifecycle_host program's).
#include "hostkit/savegame.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

using Lifecycle = InProcessHost;

// The second SIM_Initialize stops the running thread before it replaces
// anything that thread may use (its start line goes through the logger).
TEST_F(Lifecycle, InitializeAgainWhileRunning) {
    for (int round = 0; round < 20; ++round) {
        ASSERT_NE(StartFloorAndWater(16, 12, 16), nullptr);
        if (round % 2 == 1) {
            EndFrame(1.0f);
            ASSERT_NE(Exchange(), nullptr);  // a cycle of five steps runs now
        }
        SetUp();  // SIM_Initialize again, and the tables
    }
    ASSERT_NE(StartFloorAndWater(16, 12, 16), nullptr);
    const FrameResults* r = RunFrame(0.2f);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->frameCount, 1);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Lifecycle, LoadAgainWhileRunning) {
    ASSERT_NE(StartFloorAndWater(8, 6, 8), nullptr);
    for (int round = 1; round < 10; ++round) {
        EndFrame(0.4f);
        ASSERT_NE(Exchange(), nullptr);  // the next load meets a running cycle
        // Oxygen over a water floor, one column wider each round.
        gameWidth = 8 + round;
        tshost::SaveGame save = tshost::SaveGame::Empty(gameWidth + 2, gameHeight + 2);
        for (int32_t x = 1; x <= gameWidth; ++x)
            for (int32_t y = 1; y <= gameHeight; ++y)
                save.cells[size_t(y * (gameWidth + 2) + x)] =
                    SavedCell{elements.records[y == 1 ? kWater : kOxygen].id, 300.0f, y == 1 ? 200.0f : 1.0f};
        ASSERT_NE(Send(SIM_MSG_LOAD_SAVE_GAME, tshost::WriteSaveGame(save)), 0u);
    }
    const FrameResults* r = RunFrame(0.2f);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->frameCount, 1);
    EXPECT_EQ(r->mass[Cell(0, 0)] > 0.0f, true);
    EXPECT_EQ(ReportCount(), 0u);
}

}  // namespace
}  // namespace tstest
