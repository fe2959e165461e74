// The frame cycle: the frame manager on its own, then the cycle driven
// through the C exports in-process: queued messages, their result records one
// exchange later, and the frame bookkeeping.
#include <cmath>
#include <tuple>
#include <vector>

#include "hostapi/runtime.h"
#include "simlib/simframemanager.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

using ts::EnqueueResult;
using ts::SimFrameManager;

template <class Region>
auto Corners(const Region& r) {
    return std::tuple(r.minX, r.minY, r.maxX, r.maxY);
}

// (Queued messages applied through the frame cycle are the tests further down.)
TEST(SimFrameManager, TheLaterParametersWinAndEndFrameClosesItsRegion) {
    SimFrameManager frames;
    ts::PendingFrame& frame = frames.currentFrame();
    // Two SetFrameParameters in one frame: the later one wins.
    SetFrameParametersPayload p1{1, 2, 3, 4, 5}, p2{6, 7, 8, 9, 10};
    frames.EnqueueMessage(SIM_MSG_SET_FRAME_PARAMETERS, &p1, sizeof p1);
    frames.EnqueueMessage(SIM_MSG_SET_FRAME_PARAMETERS, &p2, sizeof p2);
    EXPECT_TRUE(frame.hasFrameParameters);
    EXPECT_EQ(frame.frameParameters.offGasChance, 7.0f);

    const EndFramePayload end{0.2f, 0, 1, 10, 11};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_END_FRAME, &end, sizeof end), EnqueueResult::Handled);
    EXPECT_EQ(frames.readyCount(), 1u);
    EXPECT_NE(&frames.currentFrame(), &frame);
    EXPECT_EQ(frame.dt, 0.2f);
    EXPECT_EQ(Corners(frame.region), std::tuple(1, 2, 11, 12));

    EXPECT_EQ(frames.EnqueueMessage(0x12345678u, &end, sizeof end), EnqueueResult::NotHandled);
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_NO_OP, nullptr, 0), EnqueueResult::NotHandled);
    // A region at the limits of i32 saturates.
    ts::PendingFrame& next = frames.currentFrame();
    const EndFramePayload edge{0.0f, INT32_MIN, INT32_MAX - 1, INT32_MAX, INT32_MAX};
    frames.EnqueueMessage(SIM_MSG_END_FRAME, &edge, sizeof edge);
    EXPECT_EQ(Corners(next.region), std::tuple(INT32_MIN + 1, INT32_MAX, INT32_MAX, INT32_MAX));
}

TEST(SimFrameManager, ShortPayloadsAreRefused) {
    SimFrameManager frames;
    const ModifyCellPayload modify{};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_MODIFY_CELL, &modify, sizeof modify - 1), EnqueueResult::Refused);
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_MODIFY_CELL, nullptr, 24), EnqueueResult::Refused);
    EXPECT_EQ(frames.currentFrame().queue(ts::kModifyCell).count(), 0u);
    const EndFramePayload end{};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_END_FRAME, &end, 19), EnqueueResult::Refused);
    EXPECT_EQ(frames.readyCount(), 0u);
    // A longer payload is fine: only the fixed size is copied.
    uint8_t longer[40] = {};
    EXPECT_EQ(frames.EnqueueMessage(SIM_MSG_MODIFY_CELL, longer, sizeof longer), EnqueueResult::Handled);
}

// The frame cycle driven through the C exports in-process: queued messages,
// their result records one exchange later, and the frame bookkeeping.
using FrameCycle = InProcessHost;

WorldLayout MixedPlan() {
    WorldLayout world(4, 3, Matter(kOxygen, 300.0f, 1.0f));
    world.at(0, 0) = Matter(kGranite, 300.0f, 1000.0f);
    world.at(1, 0) = Matter(kWater, 300.0f, 1.0f);
    world.at(2, 0) = Matter(kGranite, 310.0f, 500.0f);
    return world;
}

TEST_F(FrameCycle, ResultsArriveOneExchangeLater) {
    ASSERT_NE(Start(MixedPlan()), nullptr);

    const DigCellPayload dig{Cell(0, 0), 41, 0, {0, 0, 0}};
    Post(SIM_MSG_DIG_CELL, dig);
    EndFrame(0.0f);
    const FrameResults* first = Exchange();
    EXPECT_EQ(std::pair(first->frameCount, first->cellCallbacksCount), std::pair(0, 0));  // the cycle before the frame closed
    const FrameResults* second = Exchange();
    EXPECT_EQ(second->frameCount, 1);
    // Counts of the callbacks, dug matter, changed cells, solid changes, solid and liquid changed cells.
    ASSERT_EQ(std::tuple(second->cellCallbacksCount, second->dugMatterCount, second->changedCellsCount,
                         second->solidChangesCount, second->solidChangedCellsCount, second->liquidChangedCellsCount),
              std::tuple(1, 1, 1, 1, 1, 0));
    EXPECT_EQ(second->cellCallbacks[0], 41u);
    EXPECT_EQ(std::tuple(second->dugMatter[0].gameCell, second->dugMatter[0].elementIdx), std::tuple(Cell(0, 0), kGranite));
    EXPECT_EQ(second->elementIdx[Cell(0, 0)], kVacuum);
    EXPECT_EQ(second->solidChanges[0].becameSolid, 0);
    // The next exchange without frames: nothing applied, every list empty.
    const FrameResults* third = Exchange();
    EXPECT_EQ(third->frameCount, 0);
    EXPECT_EQ(third->changedCellsCount, 0);
    EXPECT_TRUE(third->changedCells == nullptr);
    EXPECT_EQ(ReportCount(), 0u);
}

// Mass that messages put into cells is capped as the loader caps it.
TEST_F(FrameCycle, MassFromMessagesIsCapped) {
    Start(WorldLayout(4, 3, Matter(kVacuum, 0.0f, 0.0f)));
    const float huge = 3e38f;
    Post(SIM_MSG_ADD_MASS, AddMassPayload{Cell(0, 1), SIM_NO_CALLBACK, huge, 300.0f, 0, kWater, 255, {0, 0}});
    Post(SIM_MSG_MODIFY_CELL, ModifyCellPayload{Cell(1, 1), SIM_NO_CALLBACK, 300.0f, huge, 0, kOxygen,
                                                SIM_REPLACE_ADD, 255, 0});
    Post(SIM_MSG_MODIFY_CELL, ModifyCellPayload{Cell(2, 1), SIM_NO_CALLBACK, 300.0f, huge, 0, kGranite,
                                                SIM_REPLACE_REPLACE, 255, 0});
    const FrameResults* r = RunFrame(0.0f);
    const int added[] = {kWater, kOxygen, kGranite};
    for (int32_t x : {0, 1, 2}) EXPECT_EQ(Contents(r, Cell(x, 1)), (std::tuple{added[x], 1e9f, 300.0f})) << x;
    EXPECT_EQ(ReportCount(), 3u);
    EXPECT_TRUE(Reported("capped at 1e+09 kg"));

    Post(SIM_MSG_ADD_MASS_EMITTER, AddMassEmitterPayload{huge, 1, SIM_NO_CALLBACK, SIM_NO_CALLBACK});
    r = RunFrame(0.0f);
    ASSERT_EQ(r->componentCallbacksCount, 1);
    const uint32_t emitter = r->componentCallbacks[0].handle;
    Post(SIM_MSG_MODIFY_MASS_EMITTER,
         ModifyMassEmitterPayload{emitter, Cell(3, 2), 0.0f, huge, 300.0f, huge, 0, kOxygen, 1, 255, 0});
    r = RunFrame(0.2f);
    ASSERT_EQ(r->massEmitterOutputsCount, 1);
    EXPECT_EQ(r->massEmitterOutputs[0].mass, 1e9f);
    EXPECT_EQ(ReportCount(), 4u);
}

// Rates and fractions out of range are clamped and a value that is not
// finite keeps the previous one, each with a warning; no cell relaxes below
// 1 K, whatever its target.
TEST_F(FrameCycle, FrameParametersAreKeptInRange) {
    WorldLayout world(3, 1, Matter(kGranite, 300.0f, 1.0f));
    world.at(1, 0) = Matter(kVacuum, 0.0f, 0.0f);
    world.at(0, 0).targetTemperature = 100.0f;
    world.at(2, 0).targetTemperature = 0.0f;
    Start(world);
    Post(SIM_MSG_SET_FRAME_PARAMETERS, SetFrameParametersPayload{NAN, 0.01f, -2.0f, 3.0f, 0});
    const FrameResults* r = RunFrame(0.2f);
    // Relaxed at the rate of 1: onto the target, and onto 1 K for a target of 0 K.
    EXPECT_EQ(r->temperature[Cell(0, 0)], 100.0f);
    EXPECT_EQ(r->temperature[Cell(2, 0)], 1.0f);
    EXPECT_EQ(ReportCount(), 3u);
    const ts::FrameParameters& p = ts::GetRuntime().simData->frameParameters;
    EXPECT_EQ(p.buildingExchangeRate, 0.001f);  // the creation value, kept
    EXPECT_EQ(p.offGasFraction, 0.0f);
    EXPECT_EQ(p.temperatureRelaxRate, 1.0f);
}

// A frame's dt must be finite and >= 0, and one cycle runs a bounded number
// of steps: no host value can keep the sim thread (and the host waiting on
// it) busy for long.
TEST_F(FrameCycle, DtIsCheckedAndStepsPerCycleCapped) {
    Start(MixedPlan());
    struct Case { std::vector<float> dts; int steps; bool reported; };
    const std::vector<Case> cases = {
        {{0.5f}, 2, false},                      // leaves 0.1 s carried
        {{1e3f}, SIM_MAX_STEPS_PER_CYCLE, true},  // 5000 asked; the carried time is dropped
        {{1.0f}, 5, false},
        {{INFINITY}, 0, true},
        {{NAN}, 0, true},
        {{-1.0f}, 0, true},
        {std::vector<float>(30, 1.0f), 150, false},  // a full backlog of one-second frames
        {std::vector<float>(30, 2.0f), SIM_MAX_STEPS_PER_CYCLE, true},
    };
    for (const Case& c : cases) {
        ClearReports();
        const uint16_t before = ts::GetRuntime().simData->stepCounter;
        for (float dt : c.dts) EndFrame(dt);
        Exchange();
        Exchange();
        EXPECT_EQ(int(uint16_t(ts::GetRuntime().simData->stepCounter - before)), c.steps);
        EXPECT_EQ(ReportCount() > 0, c.reported);
    }
}

TEST_F(FrameCycle, CellSettingsAndDiseaseMessages) {
    WorldLayout world = MixedPlan();
    SetGerms(world.at(1, 1), 0, 10);
    SetGerms(world.at(2, 1), 0, 3);
    Start(world);
    Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{Cell(0, 1), 1.0f});
    Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{Cell(1, 2), 0.5f});
    Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{Cell(2, 2), 1.2f});
    Post(SIM_MSG_SET_STRENGTH_MODIFIER, SetStrengthModifierPayload{Cell(3, 2), 300.7f});
    Post(SIM_MSG_CONSUME_DISEASE, ConsumeDiseasePayload{Cell(1, 1), 9, 1.0f, 100});
    Post(SIM_MSG_MODIFY_CELL_DISEASE, ModifyCellDiseasePayload{Cell(2, 1), 255, {0, 0, 0}, -5});
    Post(SIM_MSG_MODIFY_CELL_DISEASE, ModifyCellDiseasePayload{Cell(3, 1), 1, {0, 0, 0}, 50});
    Post(SIM_MSG_MODIFY_CELL_DISEASE, ModifyCellDiseasePayload{Cell(0, 1), 255, {0, 0, 0}, 40});  // holds none
    Post(SIM_MSG_DIG_CELL, DigCellPayload{Cell(3, 0), 5, 0, {0, 0, 0}});  // a gas cell
    const FrameResults* r = RunFrame(0.0f);
    EXPECT_EQ(r->insulation[Cell(0, 1)], 255);
    EXPECT_EQ(r->insulation[Cell(1, 2)], 127);
    EXPECT_EQ(r->insulation[Cell(2, 2)], 50);  // 306 cut to its low byte
    EXPECT_EQ(r->strengthModifier[Cell(3, 2)], 300 & 0xFF);
    ASSERT_EQ(r->consumeDiseaseResultsCount, 1);
    const ConsumeDiseaseResult& consumed = r->consumeDiseaseResults[0];
    EXPECT_EQ(std::tuple(consumed.callbackId, consumed.countRemoved, consumed.diseaseIdx), std::tuple(9u, 10, 255));
    for (int32_t x : {0, 1, 2}) EXPECT_EQ(Germs(r, Cell(x, 1)), (std::pair{255, 0})) << x;
    EXPECT_EQ(Germs(r, Cell(3, 1)), (std::pair{1, 50}));
    // Digging a gas lists the callback and changes nothing.
    ASSERT_EQ(r->cellCallbacksCount, 1);
    EXPECT_EQ(r->cellCallbacks[0], 5u);
    EXPECT_EQ(r->dugMatterCount, 0);
    EXPECT_EQ(r->elementIdx[Cell(3, 0)], kOxygen);
}

// Granite holds 0.79 kJ/K per kg, water 4.179. Infinite energy follows the
// same rule: heating stops at the bound, cooling ends at the floor of the
// clamp, and the host hears nothing of it.
TEST_F(FrameCycle, CellEnergy) {
    WorldLayout world(6, 1, Matter(kGranite, 300.0f, 1.0f));
    world.at(2, 0) = Matter(kWater, 370.0f, 10.0f);
    world.at(3, 0) = Matter(kVacuum, 0.0f, 0.0f);
    Start(world);
    const float cp = 0.79f;
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{Cell(0, 0), 100.0f * cp, 350.0f, 1});
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{Cell(1, 0), -100.0f * cp, 350.0f, 2});
    // Water at 370 K gains 6 K: 376 K > 372.5 + 3, steam at 374.5 K.
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{Cell(2, 0), 6.0f * 4.179f * 10.0f, 1000.0f, 3});
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{Cell(3, 0), 100.0f, 350.0f, 4});
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{Cell(4, 0), INFINITY, 350.0f, 5});
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{Cell(5, 0), -INFINITY, 350.0f, 6});
    const FrameResults* r = RunFrame(0.0f);
    for (const auto& [x, t] : {std::pair{0, 350.0f}, {1, 200.0f}, {4, 350.0f}, {5, 1.0f}})
        EXPECT_FLOAT_EQ(r->temperature[Cell(x, 0)], t) << x;
    EXPECT_EQ(ReportCount(), 0u);
    EXPECT_EQ(r->temperature[Cell(3, 0)], 0.0f);  // vacuum is not heated
    EXPECT_EQ(r->elementIdx[Cell(2, 0)], kSteam);
    EXPECT_NEAR(r->temperature[Cell(2, 0)], 374.5f, 1e-3f);
    EXPECT_EQ(std::tuple(r->changedCellsCount, r->liquidChangedCellsCount, r->solidChangedCellsCount), std::tuple(1, 1, 0));
    // Already hotter than maxTemperature: stays where it is.
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{Cell(0, 0), 100.0f * cp, 300.0f, 5});
    r = RunFrame(0.0f);
    EXPECT_FLOAT_EQ(r->temperature[Cell(0, 0)], 350.0f);
}

TEST_F(FrameCycle, AddMassAndConsumeMass) {
    WorldLayout world(4, 1, Matter(kWater, 300.0f, 1.5f));
    world.at(1, 0) = Matter(kWater, 350.0f, 1.0f);
    world.at(2, 0) = Matter(kGranite, 300.0f, 1000.0f);
    world.at(3, 0) = Matter(kOxygen, 300.0f, 1.0f);
    Start(world);
    // 2 kg from cells of 1.5 kg and 1 kg: the first empties, the second gives 0.5 kg.
    Post(SIM_MSG_CONSUME_MASS, ConsumeMassPayload{Cell(0, 0), 11, 2.0f, kWater, 3, {0, 0}});
    // Own element: accepted without displacement or change record.
    Post(SIM_MSG_ADD_MASS, AddMassPayload{Cell(3, 0), 12, 1.0f, 400.0f, 0, kOxygen, 255, {0, 0}});
    const FrameResults* r = RunFrame(0.0f);
    ASSERT_EQ(r->consumeMassResultsCount, 1);
    const ConsumeMassResult& taken = r->consumeMassResults[0];
    EXPECT_EQ(std::tuple(taken.callbackId, int(taken.elementIdx), taken.mass, taken.temperature),
              std::tuple(11u, int(kWater), 2.0f, (1.5f * 300.0f + 0.5f * 350.0f) / 2.0f));
    EXPECT_EQ(r->elementIdx[Cell(0, 0)], kVacuum);
    EXPECT_FLOAT_EQ(r->mass[Cell(1, 0)], 0.5f);
    ASSERT_EQ(r->addMassResultsCount, 1);
    EXPECT_EQ(std::pair(int(r->addMassResults[0].accepted), int(r->addMassResults[0].elementIdx)), std::pair(1, int(kOxygen)));
    EXPECT_EQ(Contents(r, Cell(3, 0)), (std::tuple{int(kOxygen), 2.0f, 350.0f}));
    ASSERT_EQ(r->changedCellsCount, 1);  // only the emptied water cell
    EXPECT_EQ(r->changedCells[0].gameCell, Cell(0, 0));
}

TEST_F(FrameCycle, ChangedTwiceListedOnce) {
    Start(MixedPlan());
    // Two frames applied by one cycle: dug out, then filled with water.
    Post(SIM_MSG_DIG_CELL, DigCellPayload{Cell(0, 0), SIM_NO_CALLBACK, 1, {0, 0, 0}});
    EndFrame(0.0f);
    Post(SIM_MSG_ADD_MASS, AddMassPayload{Cell(0, 0), SIM_NO_CALLBACK, 1.0f, 300.0f, 0, kWater, 255, {0, 0}});
    const FrameResults* r = RunFrame(0.0f);
    EXPECT_EQ(r->frameCount, 2);
    ASSERT_EQ(r->changedCellsCount, 1);
    EXPECT_EQ(r->changedCells[0].oldElementIdx, kGranite);
    EXPECT_EQ(r->changedCells[0].newElementIdx, kWater);
    EXPECT_EQ(r->dugMatterCount, 0);  // skipDrop
    EXPECT_EQ(r->liquidChangedCellsCount, 1);
    EXPECT_EQ(r->solidChangedCellsCount, 1);
}

TEST_F(FrameCycle, ThirtyFiveFramesWithoutExchange) {
    Start(MixedPlan());
    for (int i = 0; i < 35; ++i) {
        Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{Cell(0, 2), float(i) / 255.0f + 1e-4f});
        EndFrame(0.0f);
    }
    Exchange();
    const FrameResults* r = Exchange();
    EXPECT_EQ(r->frameCount, 30);
    EXPECT_EQ(r->insulation[Cell(0, 2)], 29);
    // The five later frames merged into one, applied by a later cycle.
    r = RunFrame(0.0f);
    EXPECT_EQ(r->frameCount, 1);
    EXPECT_EQ(r->insulation[Cell(0, 2)], 34);
}

// (Refusals of cells, elements and masses are the end-to-end cell message
// tests', of short payloads the frame manager's. A negative take is refused by
// the message itself, before the flood fill's own check would catch it.)
TEST_F(FrameCycle, BadQueuedMessagesAreSkippedWithReports) {
    WorldLayout world = MixedPlan();
    SetGerms(world.at(1, 1), 0, 10);
    Start(world);
    Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergyPayload{0, std::nanf(""), 400.0f, 1});
    Post(SIM_MSG_SET_CELL_BYTE_GRID, SetCellByteGridPayload{0, 255, {0, 0, 0}});  // no grid loaded
    Post(SIM_MSG_CONSUME_MASS, ConsumeMassPayload{Cell(1, 0), 2, -1.0f, kWater, 3, {0, 0}});
    // Takes of germs below zero (a NaN fraction was one of two billion) take none.
    Post(SIM_MSG_CONSUME_DISEASE, ConsumeDiseasePayload{Cell(1, 1), 7, std::nanf(""), 100});
    Post(SIM_MSG_CONSUME_DISEASE, ConsumeDiseasePayload{Cell(1, 1), 8, 1.0f, -5});
    Post(SIM_MSG_CONSUME_DISEASE, ConsumeDiseasePayload{Cell(1, 1), 9, -2.0f, 100});
    const FrameResults* r = RunFrame(0.0f);
    ASSERT_EQ(r->consumeDiseaseResultsCount, 3);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(std::pair(int(r->consumeDiseaseResults[i].diseaseIdx), r->consumeDiseaseResults[i].countRemoved),
                  std::pair(0, 0)) << i;
    EXPECT_EQ(Germs(r, Cell(1, 1)), (std::pair{0, 10}));
    EXPECT_TRUE(Reported("ConsumeDisease skipped: a fraction of nan, at most 100"));
    EXPECT_EQ(r->elementIdx[0], kGranite);
    EXPECT_EQ(r->temperature[0], 300.0f);
    EXPECT_TRUE(Reported("not a number"));
    EXPECT_TRUE(Reported("no cell byte grid"));
    EXPECT_TRUE(Reported("ConsumeMass skipped: a mass of -1.000000") && !Reported("amount >= 0.0f"));
    // An exchange with a grid of the wrong size still exchanges.
    EndFrame(0.0f);
    EXPECT_NE(Send(SIM_MSG_EXCHANGE_FRAME, std::string(5, '\1')), 0u);
    EXPECT_TRUE(Reported("size == gameWidth * gameHeight"));
}

}  // namespace
}  // namespace tstest
