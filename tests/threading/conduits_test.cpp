// The conduit manager used from a second host thread while frames run: its
// lock serialises the exports and the sim thread's removal passes, and the
// energy it queues for buildings reaches them.
#include <atomic>
#include <thread>

#include "unit/inprocesshost.h"

namespace tstest {
namespace {

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

}  // namespace
}  // namespace tstest
