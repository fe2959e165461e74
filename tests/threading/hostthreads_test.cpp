// The in-process host's frame cycle under threads: lifecycles while a world
// runs, the conduit manager from a second host thread, random host traffic.
// Run under ThreadSanitizer in CI.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "hostkit/savegame.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

// Lifecycles that games go through while a world runs: initialising again,
// loading again. Run under ThreadSanitizer in CI (the exit without shutdown is
// the lifecycle_host program's).
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

// The conduit manager used from a second host thread while frames run: its
// lock serialises the exports and the sim thread's removal passes, and the
// energy it queues for buildings reaches them.
using ConduitThreads = InProcessHost;

TEST_F(ConduitThreads, ExportsRunBesideTheFrameCycle) {
    tshost::WorldCell granite = Matter(kGranite, 300.0f, 100.0f);
    granite.insulation = 0;
    ASSERT_NE(Start(WorldLayout(8, 4, granite)), nullptr);
    for (int32_t x = 0; x < 8; ++x)
        for (int32_t y = 0; y < 4; ++y) Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{Cell(x, y), 0.0f});
    BuildingHeatExchangeBody body{kGranite, {}, 10.0f, 300.0f, 1.0f, 1000.0f, 0.0f, 0, 0, 1, 1};
    Post(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, AddBuildingHeatExchangePayload{1, body});
    RunFrame(0.0f);
    const uint32_t building = 0;
    ConduitTemperatureManager_Initialize();
    const uint32_t pipe = ConduitTemperatureManager_Add(350.0f, 1.0f, elements.records[kWater].id, building, 7.9f,
                                                        1.0f, 0);
    ASSERT_NE(pipe, SIM_NO_HANDLE);

    std::atomic<bool> done{false};
    std::thread other([&] {
        const uint32_t water = elements.records[kWater].id;
        for (int i = 0; i < 4000 && !done.load(); ++i) {
            const uint32_t h = ConduitTemperatureManager_Add(310.0f, 0.5f, water, SIM_NO_HANDLE, 1.0f, 1.0f, 0);
            ConduitTemperatureManager_Set(h, 305.0f, 0.5f, water);
            ConduitTemperatureManager_Remove(h);
            ConduitTemperatureManager_Update(0.2f, nullptr);
        }
    });
    float last = 300.0f;
    for (int frame = 0; frame < 200; ++frame) {
        const FrameResults* r = Exchange();
        ASSERT_NE(r, nullptr);
        if (r->buildingOutputsCount == 1) {
            const BuildingOutputEntry out = r->buildingOutputs[0];
            EXPECT_GE(out.temperature, last);  // only ever warmed by the pipe
            last = out.temperature;
            ConduitTemperatureManager_Update(0.2f, r->buildingOutputs);
        }
        EndFrame(0.2f);
    }
    done.store(true);
    other.join();
    EXPECT_GT(last, 300.0f);
    EXPECT_LT(last, 350.0f);
    ConduitTemperatureManager_Shutdown();
    EXPECT_EQ(ReportCount(), 0u);
}

// Thousands of frames of random host traffic: the handshake never deadlocks,
// results keep their one-exchange latency and no report is raised.
using Stress = InProcessHost;

TEST_F(Stress, RandomTrafficNeverDeadlocks) {
    ASSERT_NE(StartFloorAndWater(24, 16, 24), nullptr);
    std::mt19937 rng(1234);
    auto cell = [&] { return int32_t(rng() % uint32_t(24 * 16)); };
    uint32_t nextCallback = 1;
    uint32_t pendingDigs = 0;  // callbacks expected in the results of the next-but-one exchange
    uint32_t seenCallbacks = 0;
    uint32_t sentCallbacks = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int frame = 0; frame < 3000 && std::chrono::steady_clock::now() < deadline; ++frame) {
        const int messages = int(rng() % 6);
        for (int m = 0; m < messages; ++m) {
            switch (rng() % 5) {
                case 0:
                    Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{cell(), float(rng() % 100) / 100.0f});
                    break;
                case 1:
                    Post(SIM_MSG_DIG_CELL, DigCellPayload{cell(), nextCallback++, uint8_t(rng() % 2), {0, 0, 0}});
                    ++pendingDigs;
                    break;
                case 2:
                    Post(SIM_MSG_ADD_MASS, AddMassPayload{cell(), SIM_NO_CALLBACK, 0.5f, 310.0f, 0, kOxygen, 255,
                                                          {0, 0}});
                    break;
                case 3:
                    Post(SIM_MSG_MODIFY_CELL_ENERGY,
                         ModifyCellEnergyPayload{cell(), float(int(rng() % 200) - 100), 400.0f, 0});
                    break;
                default:
                    Post(SIM_MSG_SET_FRAME_PARAMETERS, SetFrameParametersPayload{0.001f, 0.01f, 0.001f, 0.001f, 0});
            }
        }
        // Closes 0..2 frames with assorted dt, then maybe exchanges.
        const int ends = int(rng() % 3);
        for (int e = 0; e < ends; ++e) EndFrame(float(rng() % 7) * 0.1f);
        if (ends == 0) {
            // Messages wait in the current frame until a later EndFrame.
            continue;
        }
        sentCallbacks += pendingDigs;
        pendingDigs = 0;
        if (rng() % 4 != 0) {
            const FrameResults* r = Exchange();
            ASSERT_NE(r, nullptr);
            seenCallbacks += uint32_t(r->cellCallbacksCount);
        }
    }
    // Two more exchanges bring every closed frame's results back.
    EndFrame(0.0f);
    seenCallbacks += uint32_t(Exchange()->cellCallbacksCount);
    seenCallbacks += uint32_t(Exchange()->cellCallbacksCount);
    EXPECT_EQ(seenCallbacks, sentCallbacks);
    EXPECT_EQ(ReportCount(), 0u);
}

}  // namespace
}  // namespace tstest
