// Matter movement: worked examples of the gas, liquid, settle and cell
// modification rules, then conservation and the invariants over a long run.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "hostapi/runtime.h"
#include "scenes/scenes.h"
#include "simlib/matterpasses.h"
#include "simlib/passstate.h"
#include "simlib/physicsstep.h"
#include "simlib/simframemanager.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

using tsscene::Put;

// The standard table with flow parameters, a sand that falls and a gas that
// sublimates from ice.
ts::ElementTable MovingElements() {
    ts::ElementTable t = StandardElements();
    t.records.push_back(Element(0x1006, SIM_STATE_SOLID | SIM_ELEMENT_UNSTABLE, 0.8f, 1.0f));  // sand
    t.records.push_back(Element(0x1007, SIM_STATE_GAS, 0.85f, 0.02f));                         // carbon dioxide
    t.elementNames.push_back("Sand");
    t.elementNames.push_back("Carbon dioxide");
    for (int gas : {int(kOxygen), int(kSteam), 9}) t.records[gas].flow = 0.5f;
    t.records[kOxygen].weight = 1.0f;
    t.records[9].weight = 1.5f;
    ElementRecord& water = t.records[kWater];
    water.maxMass = 1000.0f;
    water.maxFlow = 100.0f;
    water.minHorizontalFlow = 0.1f;
    water.minVerticalFlow = 10.0f;
    water.weight = 1.0f;
    t.records[kGranite].strength = 1.0f;
    t.records[kGranite].maxMass = 1000.0f;
    t.records[8].maxMass = 1000.0f;
    t.BuildDerivedTables();
    return t;
}
constexpr uint8_t kSand = 8;
constexpr uint8_t kCarbonDioxide = 9;

struct MatterFixture : ::testing::Test {
    ts::ElementTable elements = MovingElements();
    ts::DiseaseTable diseases = StandardDiseases(elements.records.size());
    std::unique_ptr<ts::World> Make(int32_t gw, int32_t gh, uint8_t e, float t, float m) {
        return tsscene::Uniform(elements, diseases, gw, gh, e, t, m);
    }
    static int32_t At(const ts::World& w, int32_t x, int32_t y) { return y * w.width + x; }
    static float Mass(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.mass[size_t(At(w, x, y))]; }
    static uint8_t Elem(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.elementIdx[size_t(At(w, x, y))]; }
};

TEST_F(MatterFixture, GasExchanges) {
    auto world = Make(3, 1, kVacuum, 0.0f, 0.0f);
    Put(*world, 1, 1, kOxygen, 300.0f, 1.0f);
    Put(*world, 3, 1, kSink, 0.0f, 0.0f);
    world->Snapshot();
    EXPECT_FLOAT_EQ(ts::ExchangeGas(*world, At(*world, 1, 1), At(*world, 2, 1)), 0.125f);
    EXPECT_FLOAT_EQ(Mass(*world, 1, 1), 0.875f);
    EXPECT_FLOAT_EQ(Mass(*world, 2, 1), 0.125f);
    EXPECT_EQ(Elem(*world, 2, 1), kOxygen);
    EXPECT_EQ(world->updatedCells.temperature[size_t(At(*world, 2, 1))], 300.0f);
    ASSERT_EQ(world->outputCollector.changedCells.size(), 1u);

    // Equal masses exchange nothing; two empty cells change nothing at all.
    auto even = Make(2, 1, kOxygen, 300.0f, 1.0f);
    EXPECT_EQ(ts::ExchangeGas(*even, At(*even, 1, 1), At(*even, 2, 1)), 0.0f);
    auto empty = Make(2, 1, kVacuum, 0.0f, 0.0f);
    EXPECT_EQ(ts::ExchangeGas(*empty, At(*empty, 1, 1), At(*empty, 2, 1)), 0.0f);
    EXPECT_FALSE(std::isnan(empty->updatedCells.temperature[size_t(At(*empty, 2, 1))]));
    EXPECT_TRUE(empty->outputCollector.changedCells.empty());

    // The sink swallows what flows into it: an eighth per step at most.
    world->Snapshot();
    const float before = Mass(*world, 2, 1);
    ts::ExchangeGas(*world, At(*world, 2, 1), At(*world, 3, 1));
    EXPECT_FLOAT_EQ(Mass(*world, 2, 1), before * 0.875f);
    EXPECT_EQ(Mass(*world, 3, 1), 0.0f);
    EXPECT_EQ(Elem(*world, 3, 1), kSink);
}

TEST_F(MatterFixture, LiquidFallsSwapsAndVanishes) {
    auto world = Make(1, 2, kOxygen, 300.0f, 1.0f);
    Put(*world, 1, 2, kWater, 300.0f, 1000.0f);
    Put(*world, 1, 1, kWater, 300.0f, 500.0f);
    world->Snapshot();
    ts::FlowLiquid(*world, At(*world, 1, 2));
    // 0.5 x (1010 - 500) = 255, capped at maxFlow 100.
    EXPECT_FLOAT_EQ(Mass(*world, 1, 1), 600.0f);
    EXPECT_FLOAT_EQ(world->cellFlow[size_t(At(*world, 1, 2))].f[2], 100.0f);

    auto overGas = Make(1, 2, kOxygen, 300.0f, 1.0f);
    Put(*overGas, 1, 2, kWater, 310.0f, 200.0f);
    overGas->Snapshot();
    ts::FlowLiquid(*overGas, At(*overGas, 1, 2));
    EXPECT_EQ(Elem(*overGas, 1, 1), kWater);
    EXPECT_EQ(Mass(*overGas, 1, 1), 200.0f);
    EXPECT_EQ(overGas->updatedCells.temperature[size_t(At(*overGas, 1, 1))], 310.0f);
    EXPECT_EQ(Elem(*overGas, 1, 2), kOxygen);

    auto overSink = Make(1, 2, kSink, 0.0f, 0.0f);
    Put(*overSink, 1, 2, kWater, 300.0f, 50.0f);
    overSink->Snapshot();
    ts::FlowLiquid(*overSink, At(*overSink, 1, 2));
    EXPECT_EQ(Elem(*overSink, 1, 2), kVacuum);
    EXPECT_EQ(Mass(*overSink, 1, 2), 0.0f);
    EXPECT_EQ(Mass(*overSink, 1, 1), 0.0f);
}

TEST_F(MatterFixture, SpillAtALedgeLeavesWherePermitted) {
    // Water on a granite floor; the cell to its right has nothing under it.
    auto world = Make(3, 2, kVacuum, 0.0f, 0.0f);
    Put(*world, 1, 1, kGranite, 300.0f, 500.0f);
    Put(*world, 1, 2, kWater, 300.0f, 100.0f);
    world->releasePermit.assign(world->releasePermit.size(), 1);
    world->Snapshot();
    ts::FlowLiquid(*world, At(*world, 1, 2));
    ASSERT_EQ(world->outputCollector.releasedContents.size(), 1u);
    const MatterEntry released = world->outputCollector.releasedContents[0];
    EXPECT_EQ(released.gameCell, 4);  // game cell (1, 1): the ledge cell
    EXPECT_FLOAT_EQ(released.mass, 25.0f);
    EXPECT_FLOAT_EQ(Mass(*world, 1, 2), 75.0f);
    EXPECT_EQ(Elem(*world, 2, 2), kVacuum);  // nothing was added there
}

TEST_F(MatterFixture, SettleRules) {
    auto world = Make(5, 5, kVacuum, 0.0f, 0.0f);
    world->randomSeed = 7;
    // A trace of liquid disappears with its flow record.
    Put(*world, 1, 1, kWater, 300.0f, 0.005f);
    world->cellFlow[size_t(At(*world, 1, 1))] = ts::CellFlow{{1, 2, 3, 4}};
    ts::SettleCell(*world, At(*world, 1, 1));
    EXPECT_EQ(Elem(*world, 1, 1), kVacuum);
    EXPECT_EQ(world->cellFlow[size_t(At(*world, 1, 1))].f[3], 0.0f);

    // Sublimation: ice gives 0.08 kg, the gas cell receives half of it.
    elements.records[kIce].sublimateIndex = kSteam;
    elements.records[kIce].sublimateId = 77;
    elements.BuildDerivedTables();
    Put(*world, 3, 1, kIce, 250.0f, 100.0f);
    ts::SettleCell(*world, At(*world, 3, 2));
    EXPECT_EQ(Elem(*world, 3, 2), kSteam);
    EXPECT_FLOAT_EQ(Mass(*world, 3, 2), 0.04f);
    EXPECT_FLOAT_EQ(Mass(*world, 3, 1), 99.92f);
    EXPECT_FLOAT_EQ(world->cellAccumulator[size_t(At(*world, 3, 1))], 0.08f);
    ASSERT_EQ(world->outputCollector.sublimationEvents.size(), 1u);
    EXPECT_EQ(world->outputCollector.sublimationEvents[0].sublimateId, 77u);
    EXPECT_EQ(world->outputCollector.sublimationEvents[0].angle, 0.0f);  // the solid lies below
}

TEST_F(MatterFixture, PressureBreaksTwoWeakSolidsButNotThree) {
    for (int solids : {2, 3}) {
        SCOPED_TRACE(solids);
        auto world = Make(3, 6, kVacuum, 0.0f, 0.0f);
        Put(*world, 2, 1, kWater, 300.0f, 1500.0f);  // ratio 1.5
        for (int i = 0; i < solids; ++i) {
            Put(*world, 2, 2 + i, kGranite, 300.0f, 1000.0f);
            world->updatedCells.strengthModifier[size_t(At(*world, 2, 2 + i))] = 2;  // 0.5 x strength 1
        }
        // Closed on every other side.
        Put(*world, 1, 1, kGranite, 300.0f, 1000.0f);
        Put(*world, 3, 1, kGranite, 300.0f, 1000.0f);
        for (int32_t x : {1, 3}) world->updatedCells.cellFlags[size_t(At(*world, x, 1))] = SIM_CELL_PRESSURE_PROOF;
        world->randomSeed = 1;
        ts::SettleCell(*world, At(*world, 2, 1));
        EXPECT_EQ(world->outputCollector.pressureDamage.size(), solids == 2 ? 2u : 0u);
    }
}

TEST_F(MatterFixture, UnstableSolidFallsAfterItsTimer) {
    auto world = Make(1, 3, kVacuum, 0.0f, 0.0f);
    Put(*world, 1, 3, kSand, 300.0f, 900.0f);
    world->randomSeed = 3;
    int ticks = 0;
    while (world->outputCollector.fallingSolids.empty() && ticks < 20) {
        ts::SettleCell(*world, At(*world, 1, 3));
        ++ticks;
    }
    ASSERT_EQ(world->outputCollector.fallingSolids.size(), 1u);
    EXPECT_GE(ticks, 4);  // the countdown starts at 3..6 and falls at 0
    EXPECT_LE(ticks, 7);
    EXPECT_EQ(world->outputCollector.fallingSolids[0].elementIdx, kSand);
    EXPECT_EQ(world->outputCollector.fallingSolids[0].mass, 900.0f);
    EXPECT_EQ(Elem(*world, 1, 3), kVacuum);
    // On a floor it never falls.
    Put(*world, 1, 2, kGranite, 300.0f, 900.0f);
    Put(*world, 1, 3, kSand, 300.0f, 900.0f);
    for (int i = 0; i < 20; ++i) ts::SettleCell(*world, At(*world, 1, 3));
    EXPECT_EQ(world->outputCollector.fallingSolids.size(), 1u);
}

struct ModifyFixture : MatterFixture {
    ts::MessageQueue queue;
    void Modify(ts::World& w, int32_t gameCell, uint8_t e, float m, float t, uint8_t type, uint8_t solidMode = 0,
                uint32_t callback = SIM_NO_CALLBACK) {
        const ModifyCellPayload p{gameCell, callback, t, m, 0, e, type, 255, solidMode};
        queue.Append(&p, sizeof p);
        ts::ApplyCellModifications(w, queue);
    }
};

TEST_F(ModifyFixture, AddByPhase) {
    auto world = Make(3, 2, kOxygen, 300.0f, 5.0f);
    Put(*world, 1, 1, kGranite, 300.0f, 100.0f);
    Put(*world, 2, 1, kGranite, 300.0f, 100.0f);
    Put(*world, 3, 1, kVacuum, 0.0f, 0.0f);
    Put(*world, 2, 2, kOxygen, 300.0f, 2.0f);
    Modify(*world, 5, kOxygen, 5.0f, 400.0f, SIM_REPLACE_ADD);  // same gas: mixes
    EXPECT_FLOAT_EQ(Mass(*world, 3, 2), 10.0f);
    EXPECT_FLOAT_EQ(world->updatedCells.temperature[size_t(At(*world, 3, 2))], 350.0f);
    Modify(*world, 0, kOxygen, 5.0f, 300.0f, SIM_REPLACE_ADD);  // into a solid: cancels
    EXPECT_EQ(Elem(*world, 1, 1), kGranite);
    EXPECT_FLOAT_EQ(Mass(*world, 1, 1), 95.0f);
    // A liquid into a solid: the first open neighbour (left, right, below, above) takes it.
    Modify(*world, 1, kWater, 10.0f, 300.0f, SIM_REPLACE_ADD);
    EXPECT_EQ(Elem(*world, 3, 1), kWater);
    EXPECT_FLOAT_EQ(Mass(*world, 3, 1), 10.0f);
    // Removing 3 kg of a gas from 2 kg of another gas leaves vacuum.
    Modify(*world, 4, kCarbonDioxide, -3.0f, 300.0f, SIM_REPLACE_ADD);
    EXPECT_EQ(Elem(*world, 2, 2), kVacuum);
    // A liquid of mass 0 and replace type 7 change nothing but list their callbacks.
    world->outputCollector.cellCallbacks.clear();
    Modify(*world, 3, kWater, 0.0f, 300.0f, SIM_REPLACE_ADD, 0, 11);
    Modify(*world, 3, kWater, 5.0f, 300.0f, 7, 0, 12);
    EXPECT_EQ(Elem(*world, 1, 2), kOxygen);
    EXPECT_FLOAT_EQ(Mass(*world, 1, 2), 5.0f);
    ASSERT_EQ(world->outputCollector.cellCallbacks.size(), 2u);
    EXPECT_EQ(world->outputCollector.cellCallbacks[1], 12u);
}

TEST_F(ModifyFixture, StackingAndInPlaceSolids) {
    auto world = Make(1, 4, kOxygen, 300.0f, 1.0f);
    Put(*world, 1, 1, kGranite, 300.0f, 990.0f);
    Put(*world, 1, 3, kSink, 0.0f, 0.0f);
    // Tops up the granite below by 10 and puts the rest in the first open cell above.
    Modify(*world, 1, kGranite, 30.0f, 350.0f, SIM_REPLACE_ADD, 0);
    EXPECT_FLOAT_EQ(Mass(*world, 1, 1), 1000.0f);
    EXPECT_EQ(Elem(*world, 1, 2), kGranite);
    EXPECT_FLOAT_EQ(Mass(*world, 1, 2), 20.0f);
    EXPECT_EQ(world->updatedCells.temperature[size_t(At(*world, 1, 2))], 350.0f);
    // The sink above swallows what does not fit.
    Modify(*world, 1, kGranite, 2000.0f, 350.0f, SIM_REPLACE_ADD, 0);
    EXPECT_EQ(Elem(*world, 1, 3), kSink);
    // In place on a gas that can be pushed aside: the cell becomes the solid.
    auto open = Make(3, 1, kOxygen, 300.0f, 1.0f);
    Modify(*open, 1, kGranite, 50.0f, 300.0f, SIM_REPLACE_ADD, 1);
    EXPECT_EQ(Elem(*open, 2, 1), kGranite);
    EXPECT_FLOAT_EQ(Mass(*open, 2, 1), 50.0f);
}

TEST_F(ModifyFixture, ClampsKeepTheCellInvariant) {
    ts::GetRuntime().callback.store(nullptr);
    auto world = Make(3, 1, kOxygen, 300.0f, 1.0f);
    Modify(*world, 0, kWater, 50.0f, 12000.0f, SIM_REPLACE_AND_DISPLACE);
    EXPECT_EQ(Elem(*world, 1, 1), kWater);
    EXPECT_EQ(Mass(*world, 1, 1), 50.0f);
    EXPECT_LT(world->updatedCells.temperature[size_t(At(*world, 1, 1))], SIM_MAX_TEMPERATURE);
    EXPECT_GT(world->updatedCells.temperature[size_t(At(*world, 1, 1))], 9999.0f);
    Modify(*world, 1, kGranite, 10.0f, -5.0f, SIM_REPLACE_REPLACE);
    EXPECT_GT(world->updatedCells.temperature[size_t(At(*world, 2, 1))], 0.0f);
    // Non-finite values are refused.
    Modify(*world, 2, kGranite, NAN, 300.0f, SIM_REPLACE_REPLACE);
    Modify(*world, 2, kGranite, 5.0f, INFINITY, SIM_REPLACE_REPLACE);
    EXPECT_EQ(Elem(*world, 3, 1), kOxygen);
}

// A mixed closed box: gases, liquids, an unstable solid, temperature
// differences. No sink, no releases, no sublimation.
std::unique_ptr<ts::World> Box(const ts::ElementTable& elements, const ts::DiseaseTable& diseases) {
    auto world = tsscene::Uniform(elements, diseases, 20, 16, kOxygen, 300.0f, 1.2f);
    for (int32_t x = 1; x <= 20; ++x) {
        Put(*world, x, 1, kGranite, 280.0f + float(x), 900.0f);
        Put(*world, x, 2, x < 10 ? uint8_t(kWater) : kCarbonDioxide, 300.0f, x < 10 ? 800.0f : 1.8f);
        Put(*world, x, 9, x % 3 == 0 ? uint8_t(kWater) : uint8_t(kOxygen), 330.0f, x % 3 == 0 ? 300.0f : 0.5f);
        if (x % 5 == 0) Put(*world, x, 12, kSand, 290.0f, 500.0f);
        if (x % 4 == 0) Put(*world, x, 14, kCarbonDioxide, 350.0f, 2.5f);
    }
    world->randomSeed = 99;
    world->Snapshot();
    return world;
}

std::map<int, double> FamilyMasses(const ts::World& w) {
    std::map<int, double> m;
    for (int32_t y = 1; y < w.height - 1; ++y)
        for (int32_t x = 1; x < w.width - 1; ++x) {
            const size_t c = size_t(y * w.width + x);
            uint8_t e = w.updatedCells.elementIdx[c];
            const int family = (e == kWater || e == kIce || e == kSteam) ? int(kWater) : int(e);
            m[family] += w.updatedCells.mass[c];
        }
    return m;
}

TEST_F(MatterFixture, LongRunsConserveMassAndKeepTheInvariants) {
    ts::WorkerPool pool(1);
    ts::StepContext context(pool);
    auto a = Box(elements, diseases);
    const auto before = FamilyMasses(*a);
    for (int step = 0; step < 1000; ++step) {
        ts::Step(context, *a);
        // Invariants after every step.
        const ts::CellArrays& u = a->updatedCells;
        for (size_t c = 0; c < u.size(); ++c) {
            if (a->ReportableGameCell(int32_t(c)) < 0) continue;  // border cells hold 9999 kg at 0 K
            ASSERT_GE(u.mass[c], 0.0f) << step;
            if (u.mass[c] > 0.0f) {
                ASSERT_GT(u.temperature[c], 0.0f) << step << " cell " << c;
                ASSERT_LE(u.temperature[c], SIM_MAX_TEMPERATURE);
            }
            if (u.diseaseCount[c] <= 0) {
                ASSERT_EQ(u.diseaseIdx[c], 255);
            }
        }
        ASSERT_TRUE(a->outputCollector.releasedContents.empty());
        ASSERT_TRUE(a->outputCollector.emittedMatter.empty());
        a->outputCollector.Clear();
    }
    // Solids that fell are reported as items: add them back.
    const auto after = FamilyMasses(*a);
    for (const auto& [family, mass] : before) {
        if (family == kSand) continue;
        EXPECT_NEAR(after.at(family) / mass, 1.0, 1e-4) << "family " << family;
    }
}

}  // namespace
}  // namespace tstest
