// After warm-up, a steady flow of frames allocates nothing: frames are
// recycled, queues and result lists keep their storage and swap owners.
#include <atomic>
#include <cstdlib>
#include <new>

#include "unit/inprocesshost.h"

// The replacement pair below is malloc/free on both sides.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<uint64_t> gAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tstest {
namespace {

using Allocations = InProcessHost;

// Allocations during 200 frames after warm-up. The warm-up starts with a burst
// of frames, so there are as many frames (with filled queues) as thread timing
// can ever keep in flight; then 64 frames let the lists reach their sizes.
template <class Close, class Exchange>
uint64_t AllocationsInSteadyFrames(Close& close, Exchange& exchange) {
    for (int i = 0; i < 6; ++i) close(i);
    exchange();
    exchange();
    for (int i = 0; i < 264; ++i) {
        if (i == 64) gAllocations.store(0);
        close(i);
        exchange();
    }
    return gAllocations.load();
}

TEST_F(Allocations, SteadyFramesAllocateNothing) {
    // Solids with warm and cold rows: heat flows every step, and the dug
    // cells are filled again each frame. (A gas world's drift is random: its
    // lists keep reaching new record sizes, which is growth, not churn.)
    WorldLayout world(16, 8, Matter(kGranite, 300.0f, 500.0f));
    world.Fill(0, 3, 16, 4, Matter(kGranite, 400.0f, 500.0f));
    ASSERT_NE(Start(world), nullptr);
    const std::string grid(16 * 8, '\0');
    auto close = [&](int i) {
        Post(SIM_MSG_DIG_CELL, DigCellPayload{i % 16, uint32_t(i), 0, {0, 0, 0}});
        Post(SIM_MSG_ADD_MASS, AddMassPayload{i % 16, 7, 1.0f, 300.0f, 0, kGranite, 255, {0, 0}});
        Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{16 + i % 16, 0.5f});
        EndFrame(0.2f);
    };
    auto exchange = [&] { SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data()); };
    EXPECT_EQ(AllocationsInSteadyFrames(close, exchange), 0u);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Allocations, SteadyFramesWithComponentsAllocateNothing) {
    // Granite with a small pocket of oxygen: gas drift is random, and in a
    // large gas volume its lists keep reaching new record sizes (growth, not
    // churn); in a pocket they cannot.
    WorldLayout world(16, 8, Matter(kGranite, 320.0f, 500.0f));
    world.Fill(2, 4, 10, 8, Matter(kOxygen, 300.0f, 1.0f));
    ASSERT_NE(Start(world), nullptr);
    const std::string grid(16 * 8, '\0');
    const BuildingHeatExchangeBody body{kGranite, {}, 100.0f, 350.0f, 1.0f, 400.0f, 5.0f, 2, 0, 6, 1};
    Post(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, AddBuildingHeatExchangePayload{1, body});
    Post(SIM_MSG_ADD_ELEMENT_CHUNK, AddElementChunkPayload{Cell(8, 1), 2, 5.0f, 400.0f, 1.0f, 1.0f, 1.0f, kGranite, {}});
    // The intake takes what the outlet beside it gives: the scene stays steady.
    Post(SIM_MSG_ADD_MASS_CONSUMER, AddMassConsumerPayload{Cell(3, 5), 3, 3, 2, 255, 0});
    Post(SIM_MSG_ADD_MASS_EMITTER, AddMassEmitterPayload{2.0f, 4, 40, 41});
    Post(SIM_MSG_ADD_DISEASE_EMITTER, AddDiseaseEmitterPayload{5});
    EndFrame(0.0f);
    Post(SIM_MSG_MODIFY_MASS_CONSUMER, ModifyMassConsumerPayload{0, Cell(3, 5), 0.05f});
    Post(SIM_MSG_MODIFY_MASS_EMITTER,
         ModifyMassEmitterPayload{0, Cell(3, 5), 0.2f, 0.01f, 310.0f, 2.0f, 100, kOxygen, 2, 0, 0});
    Post(SIM_MSG_MODIFY_DISEASE_EMITTER, ModifyDiseaseEmitterPayload{0, Cell(8, 6), 1, 3, {0, 0}, 0.4f, 50});
    ConduitTemperatureManager_Initialize();
    ConduitTemperatureManager_Add(360.0f, 1.0f, elements.records[kWater].id, 0, 10.0f, 1.0f, 0);
    const FrameResults* r = nullptr;
    auto close = [&](int i) {
        Post(SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, ModifyElementChunkEnergyPayload{0, float(i % 3) - 1.0f});
        Post(SIM_MSG_MODIFY_BUILDING_ENERGY, ModifyBuildingEnergyPayload{0, 1.0f, 0.0f, 500.0f});
        if (r != nullptr) ConduitTemperatureManager_Update(0.2f, r->buildingOutputs);
        EndFrame(0.2f);
    };
    auto exchange = [&] {
        r = reinterpret_cast<const FrameResults*>(
            SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data()));
    };
    const uint64_t allocations = AllocationsInSteadyFrames(close, exchange);
    ConduitTemperatureManager_Shutdown();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(ReportCount(), 0u);
}

}  // namespace
}  // namespace tstest
