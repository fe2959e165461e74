// Matter movement: worked examples of the gas, liquid, settle and cell
// modification rules, then conservation over a long run.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <tuple>

#include "hostapi/runtime.h"
#include "scenes/scenes.h"
#include "simlib/gasflow.h"
#include "simlib/passstate.h"
#include "simlib/physicsstep.h"
#include "simlib/settling.h"
#include "simlib/simframemanager.h"
#include "simlib/updateliquid.h"
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
    t.records.push_back(Element(0x1008, SIM_STATE_LIQUID, 2.0f, 0.1f));  // oil
    t.elementNames.insert(t.elementNames.end(), {"Sand", "Carbon dioxide", "Oil"});
    t.records[10].weight = 0.5f;
    t.records[10].maxMass = 800.0f;
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
constexpr uint8_t kOil = 10;
using Slots = std::array<float, 4>;

struct MatterFixture : ::testing::Test {
    ts::ElementTable elements = MovingElements();
    ts::DiseaseTable diseases = StandardDiseases(elements.records.size());
    // A cell of a scene (sim coordinates), with `germs` of disease 0.
    struct Cell {
        int32_t x, y;
        uint8_t e;
        float t, m;
        int32_t germs = 0;
    };
    // A uniform world with `cells` put on it, snapshot taken.
    std::unique_ptr<ts::World> Make(int32_t gw, int32_t gh, uint8_t e, float t, float m,
                                    std::initializer_list<Cell> cells = {}) {
        auto w = tsscene::Uniform(elements, diseases, gw, gh, e, t, m);
        for (const Cell& c : cells) {
            Put(*w, c.x, c.y, c.e, c.t, c.m);
            if (c.germs == 0) continue;
            w->updatedCells.diseaseIdx[size_t(At(*w, c.x, c.y))] = 0;
            Germs(*w, c.x, c.y) = c.germs;
        }
        w->Snapshot();
        return w;
    }
    static int32_t At(const ts::World& w, int32_t x, int32_t y) { return y * w.width + x; }
    static float Mass(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.mass[size_t(At(w, x, y))]; }
    static uint8_t Elem(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.elementIdx[size_t(At(w, x, y))]; }
    static float Temp(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.temperature[size_t(At(w, x, y))]; }
    static int32_t& Germs(ts::World& w, int32_t x, int32_t y) { return w.updatedCells.diseaseCount[size_t(At(w, x, y))]; }
    static Slots Flow(const ts::World& w, int32_t x, int32_t y) {
        const float* f = w.cellFlow[size_t(At(w, x, y))].f;
        return Slots{f[0], f[1], f[2], f[3]};
    }
    // The element and mass of a cell, and its temperature; NaN skips a value,
    // floats compare to four ulps.
    static ::testing::AssertionResult Is(const ts::World& w, int32_t x, int32_t y, uint8_t e, float m, float t = NAN) {
        const auto same = [](float a, float b) {
            return std::isnan(b) || (::testing::FloatLE("", "", a, b) && ::testing::FloatLE("", "", b, a));
        };
        if (Elem(w, x, y) == e && same(Mass(w, x, y), m) && same(Temp(w, x, y), t)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "(" << x << ", " << y << ") holds element " << int(Elem(w, x, y)) << ", "
                                             << Mass(w, x, y) << " kg at " << Temp(w, x, y) << " K";
    }
};

TEST_F(MatterFixture, GasExchanges) {
    // Germs go with the gas in proportion: an eighth of 100 moves, truncated.
    auto world = Make(3, 1, kVacuum, 0.0f, 0.0f, {{1, 1, kOxygen, 300.0f, 1.0f, 100}, {3, 1, kSink, 0.0f, 0.0f}});
    EXPECT_FLOAT_EQ(ts::ExchangeGas(*world, At(*world, 1, 1), At(*world, 2, 1)), 0.125f);
    EXPECT_TRUE(Is(*world, 1, 1, kOxygen, 0.875f));
    EXPECT_TRUE(Is(*world, 2, 1, kOxygen, 0.125f, 300.0f));
    EXPECT_EQ(Germs(*world, 1, 1), 88);
    EXPECT_EQ(Germs(*world, 2, 1), 12);
    ASSERT_EQ(world->outputCollector.changedCells.size(), 1u);

    // The sink swallows what flows into it: an eighth per step at most.
    world->Snapshot();
    ts::ExchangeGas(*world, At(*world, 2, 1), At(*world, 3, 1));
    EXPECT_TRUE(Is(*world, 2, 1, kOxygen, 0.125f * 0.875f));
    EXPECT_TRUE(Is(*world, 3, 1, kSink, 0.0f));

    // Equal masses exchange nothing; two empty cells change nothing at all.
    auto even = Make(2, 1, kOxygen, 300.0f, 1.0f);
    EXPECT_EQ(ts::ExchangeGas(*even, At(*even, 1, 1), At(*even, 2, 1)), 0.0f);
    auto empty = Make(2, 1, kVacuum, 0.0f, 0.0f);
    EXPECT_EQ(ts::ExchangeGas(*empty, At(*empty, 1, 1), At(*empty, 2, 1)), 0.0f);
    EXPECT_TRUE(Is(*empty, 2, 1, kVacuum, 0.0f, 0.0f));
    EXPECT_TRUE(empty->outputCollector.changedCells.empty());

    // Gas just above the smallest normal temperature: on the simulation
    // thread, amount x temperature flushes to zero. The gas that fills an
    // empty cell keeps its own temperature; it is never matter at 0 K.
    SimThreadFloatMode floatMode;
    const float cold = 1.7816802e-38f;
    auto chill = Make(2, 1, kVacuum, 0.0f, 0.0f, {{1, 1, kOxygen, cold, 0.12f}});
    EXPECT_GT(ts::ExchangeGas(*chill, At(*chill, 1, 1), At(*chill, 2, 1)), 0.0f);
    EXPECT_TRUE(Is(*chill, 2, 1, kOxygen, 0.015f, cold));
}

// One kilogram of oxygen at the left of two vacuum cells, walked both ways:
// the cell it fills takes no further part in the pass, and the exchange is
// booked in the slots of the walk's direction.
TEST_F(MatterFixture, GasPressurePassWalksInItsDirection) {
    for (const int32_t dir : {1, -1}) {
        auto world = Make(3, 1, kVacuum, 0.0f, 0.0f, {{1, 1, kOxygen, 300.0f, 1.0f}});
        ts::GasPressurePass(*world, dir);
        EXPECT_TRUE(Is(*world, 1, 1, kOxygen, 0.875f));
        EXPECT_TRUE(Is(*world, 2, 1, kOxygen, 0.125f));
        EXPECT_TRUE(Is(*world, 3, 1, kVacuum, 0.0f));
        // dir +1: f = 0.125 from (1, 1); dir -1: f = -0.125 from (2, 1)'s side.
        EXPECT_EQ(Flow(*world, 1, 1), (dir > 0 ? Slots{0, 0.125f, 0, 0} : Slots{-0.125f, 0, 0, 0}));
        EXPECT_EQ(Flow(*world, 2, 1), (dir > 0 ? Slots{-0.125f, 0, 0, 0} : Slots{0, 0.125f, 0, 0}));
    }
    // The diagonal up and right: open between two liquids, closed by a solid
    // or by a gas beside a liquid; never booked in the flow slots.
    const struct {
        uint8_t side;
        float side_mass, diagonal;
    } diagonals[] = {{kWater, 500.0f, 0.125f}, {kGranite, 500.0f, 0.0f}, {kOxygen, 1.0f, 0.0f}};
    for (const auto& k : diagonals) {
        auto world = Make(2, 2, kVacuum, 0.0f, 0.0f, {{1, 1, kOxygen, 300.0f, 1.0f}, {2, 1, k.side, 300.0f, k.side_mass},
                                                    {1, 2, kWater, 300.0f, 500.0f}});
        // The gas beside is closed, so that only the diagonal can reach (2, 2).
        world->updatedCells.cellFlags[size_t(At(*world, 2, 1))] = SIM_CELL_NO_GAS;
        world->Snapshot();
        ts::GasPressurePass(*world, 1);
        EXPECT_FLOAT_EQ(Mass(*world, 2, 2), k.diagonal);
        EXPECT_EQ(Flow(*world, 1, 1), Slots{});
        EXPECT_EQ(Flow(*world, 2, 2), Slots{});
    }
}

// Unlike neighbours in the inner region: the heavier cell pushes the lighter
// one on by a cell and takes the freed cell with an eighth of its snapshot
// mass and of its germs.
TEST_F(MatterFixture, MixingPushesTheNeighbourOn) {
    auto gas = Make(6, 6, kGranite, 300.0f, 1000.0f,
                    {{3, 3, kCarbonDioxide, 350.0f, 1.5f, 80}, {4, 3, kOxygen, 300.0f, 1.0f}, {5, 3, kVacuum, 0.0f, 0.0f}});
    ts::GasMixingPass(*gas, 1);
    EXPECT_TRUE(Is(*gas, 3, 3, kCarbonDioxide, 1.3125f));
    EXPECT_TRUE(Is(*gas, 4, 3, kCarbonDioxide, 0.1875f, 350.0f));
    EXPECT_TRUE(Is(*gas, 5, 3, kOxygen, 1.0f));
    EXPECT_EQ(Germs(*gas, 3, 3), 70);
    EXPECT_EQ(Germs(*gas, 4, 3), 10);
    EXPECT_FLOAT_EQ(Flow(*gas, 3, 3)[3], -0.1875f);
    EXPECT_FLOAT_EQ(Flow(*gas, 4, 3)[2], 0.1875f);

    // Water beside oil: the oil goes on through the gas beyond it (which
    // gives way), never into vacuum.
    for (const bool gasBeyond : {true, false}) {
        auto world = Make(6, 6, kGranite, 300.0f, 1000.0f,
                          {{3, 3, kWater, 310.0f, 900.0f}, {4, 3, kOil, 300.0f, 100.0f}, {6, 3, kVacuum, 0.0f, 0.0f},
                           {5, 3, gasBeyond ? kOxygen : kVacuum, 300.0f, gasBeyond ? 1.0f : 0.0f}});
        ts::LiquidMixingPass(*world, 1);
        if (!gasBeyond) {
            EXPECT_TRUE(Is(*world, 3, 3, kWater, 900.0f));
            EXPECT_TRUE(Is(*world, 4, 3, kOil, 100.0f));
            continue;
        }
        EXPECT_TRUE(Is(*world, 3, 3, kWater, 787.5f));
        EXPECT_TRUE(Is(*world, 4, 3, kWater, 112.5f, 310.0f));
        EXPECT_EQ(Elem(*world, 5, 3), kOil);
        EXPECT_EQ(Elem(*world, 6, 3), kOxygen);
        // Both sideways cases book slot 0 of c and slot 1 of c - 1.
        EXPECT_FLOAT_EQ(Flow(*world, 3, 3)[0], -112.5f);
        EXPECT_FLOAT_EQ(Flow(*world, 2, 3)[1], 112.5f);
    }
}

// Water over another cell: it flows into water (0.5 x (1010 - 500) capped at
// maxFlow 100), swaps with a gas and vanishes into a sink.
TEST_F(MatterFixture, LiquidFallsSwapsAndVanishes) {
    const struct {
        uint8_t below, lower, upper;
        float belowMass, waterMass, lowerMass, upperMass;
    } cases[] = {
        {kWater, kWater, kWater, 500.0f, 1000.0f, 600.0f, 900.0f},
        {kOxygen, kWater, kOxygen, 1.0f, 200.0f, 200.0f, 1.0f},
        {kSink, kSink, kVacuum, 0.0f, 50.0f, 0.0f, 0.0f},
    };
    for (const auto& k : cases) {
        auto world = Make(1, 2, k.below, 300.0f, k.belowMass, {{1, 2, kWater, 310.0f, k.waterMass}});
        ts::FlowLiquid(*world, At(*world, 1, 2));
        EXPECT_TRUE(Is(*world, 1, 1, k.lower, k.lowerMass));
        EXPECT_TRUE(Is(*world, 1, 2, k.upper, k.upperMass));
    }
}

TEST_F(MatterFixture, SpillAtALedgeLeavesWherePermitted) {
    // Water on a granite floor; the cell to its right has nothing under it.
    auto world = Make(3, 2, kVacuum, 0.0f, 0.0f, {{1, 1, kGranite, 300.0f, 500.0f}, {1, 2, kWater, 300.0f, 100.0f}});
    world->releasePermit.assign(world->releasePermit.size(), 1);
    ts::FlowLiquid(*world, At(*world, 1, 2));
    ASSERT_EQ(world->outputCollector.releasedContents.size(), 1u);
    const MatterEntry released = world->outputCollector.releasedContents[0];
    EXPECT_EQ(std::pair(released.gameCell, released.mass), std::pair(4, 25.0f));  // game cell (1, 1): the ledge cell
    EXPECT_TRUE(Is(*world, 1, 2, kWater, 75.0f));
    EXPECT_EQ(Elem(*world, 2, 2), kVacuum);  // nothing was added there
}

TEST_F(MatterFixture, SettleRules) {
    elements.records[kIce].sublimateIndex = kSteam;
    elements.records[kIce].sublimateId = 77;
    elements.BuildDerivedTables();
    auto world = Make(5, 5, kVacuum, 0.0f, 0.0f, {{1, 1, kWater, 300.0f, 0.005f}, {3, 1, kIce, 250.0f, 100.0f}});
    world->randomSeed = 7;
    // A trace of liquid disappears with its flow record.
    world->cellFlow[size_t(At(*world, 1, 1))] = ts::CellFlow{{1, 2, 3, 4}};
    ts::SettleCell(*world, At(*world, 1, 1));
    EXPECT_EQ(Elem(*world, 1, 1), kVacuum);
    EXPECT_EQ(Flow(*world, 1, 1), Slots{});

    // Sublimation: ice gives 0.08 kg, the gas cell receives half of it.
    ts::SettleCell(*world, At(*world, 3, 2));
    EXPECT_TRUE(Is(*world, 3, 2, kSteam, 0.04f));
    EXPECT_TRUE(Is(*world, 3, 1, kIce, 99.92f));
    EXPECT_FLOAT_EQ(world->cellAccumulator[size_t(At(*world, 3, 1))], 0.08f);
    ASSERT_EQ(world->outputCollector.sublimationEvents.size(), 1u);
    const auto& event = world->outputCollector.sublimationEvents[0];
    EXPECT_EQ(std::pair(event.sublimateId, event.angle), std::pair(77u, 0.0f));  // the solid lies below
}

// Draws under fixed seeds, in the order the settle rules take them (seed
// after seed x 214013 + 2531011, draw = bits 16..30 x 3.0518509e-5).
TEST_F(MatterFixture, SettleDrawsUnderAFixedSeed) {
    // A liquid above a lighter one of the same phase sinks when its one draw
    // beats 0.3; above warmer water of its own kind both take the mean.
    const struct {
        uint32_t seed, seedAfter;
        uint8_t below, upper, lower;
        float belowT, belowM, t;  // t: of both afterwards, NaN when unchanged
    } sinks[] = {
        {4242, 910374157u, kOil, kOil, kWater, 300.0f, 100.0f, NAN},      // draw 0.424
        {1000, 216544011u, kOil, kWater, kOil, 300.0f, 100.0f, NAN},      // draw 0.101
        {4242, 910374157u, kWater, kWater, kWater, 340.0f, 300.0f, 330.0f},
    };
    for (const auto& k : sinks) {
        auto world =
            Make(1, 3, kGranite, 300.0f, 1000.0f, {{1, 2, k.below, k.belowT, k.belowM}, {1, 3, kWater, 300.0f, 100.0f}});
        world->randomSeed = k.seed;
        ts::SettleCell(*world, At(*world, 1, 3));
        EXPECT_TRUE(Is(*world, 1, 3, k.upper, NAN, k.t));
        EXPECT_TRUE(Is(*world, 1, 2, k.lower, NAN, k.t));
        EXPECT_EQ(world->randomSeed, k.seedAfter);
    }

    // Drift of oxygen between two cells of carbon dioxide (290 K at c + d,
    // 280 K at c - d): one draw, past 0.9 one more per candidate no warmer
    // than the best so far; the best gas swaps with c.
    const ts::PassState saved = ts::ProcessPassState();
    const struct {
        uint32_t seed, seedAfter;
        int32_t oxygenAt;  // x afterwards, 2 when it stays
    } drifts[] = {
        {1, 2745024u, 2},            // 0.0013: no drift
        {9020, 4183230144u, 1},      // 0.9001, 0.934, 0.093, 0.948
        {9023, 2471819187u, 3},      // 0.9004, 0.918, 0.728, 0.151
        {9024, 1901348868u, 2},      // 0.9005, 0.246, 0.273, 0.885
    };
    for (const auto& k : drifts) {
        auto world =
            Make(3, 1, kCarbonDioxide, 290.0f, 1.0f, {{2, 1, kOxygen, 300.0f, 1.0f}, {3, 1, kCarbonDioxide, 280.0f, 1.0f}});
        world->randomSeed = k.seed;
        ts::ProcessPassState().gasDirection = 1;  // d = -1 for this cell
        ts::SettleCell(*world, At(*world, 2, 1));
        EXPECT_EQ(ts::ProcessPassState().gasDirection, -1);
        for (int32_t x = 1; x <= 3; ++x)
            EXPECT_EQ(Elem(*world, x, 1), x == k.oxygenAt ? uint8_t(kOxygen) : kCarbonDioxide) << x;
        EXPECT_EQ(world->randomSeed, k.seedAfter);
    }
    ts::ProcessPassState() = saved;

    // Off-gassing into the vacuum above (the grid's top row): one draw against
    // offGasChance 0.5; offGasFraction of the 500 kg leaves as the sublimate.
    elements.records[kWater].sublimateIndex = kSteam;
    elements.records[kWater].sublimateId = 88;
    elements.BuildDerivedTables();
    for (const uint32_t seed : {4242u, 9020u}) {
        auto world = Make(1, 2, kGranite, 300.0f, 1000.0f, {{1, 2, kWater, 300.0f, 500.0f}, {1, 3, kVacuum, 0.0f, 0.0f}});
        world->frameParameters.offGasChance = 0.5f;
        world->frameParameters.offGasFraction = 0.001f;
        world->randomSeed = seed;
        ts::SettleCell(*world, At(*world, 1, 2));
        const bool offGas = seed == 4242u;  // draw 0.424; 9020 draws 0.9001
        EXPECT_TRUE(Is(*world, 1, 3, offGas ? kSteam : kVacuum, offGas ? 0.5f : 0.0f, offGas ? 300.0f : NAN));
        EXPECT_TRUE(Is(*world, 1, 2, kWater, offGas ? 499.5f : 500.0f));
        ASSERT_EQ(world->outputCollector.sublimationEvents.size(), offGas ? 1u : 0u);
        if (!offGas) continue;
        EXPECT_EQ(world->outputCollector.sublimationEvents[0].sublimateId, 88u);
    }
}

// Hot neighbours: a hot solid boils 5 kg of the water above it off (the rest
// of the water gives way), hot oxygen melts 5 kg of the ice below it.
TEST_F(MatterFixture, BoilingAndMeltingByHotNeighbours) {
    auto boil = Make(3, 2, kVacuum, 0.0f, 0.0f, {{1, 1, kGranite, 300.0f, 1000.0f}, {2, 1, kGranite, 600.0f, 1000.0f},
                                                {3, 1, kGranite, 300.0f, 1000.0f}, {2, 2, kWater, 300.0f, 20.0f}});
    ts::SettleCell(*boil, At(*boil, 2, 2));
    EXPECT_TRUE(Is(*boil, 2, 2, kSteam, 5.0f, 375.5f));
    EXPECT_TRUE(Is(*boil, 1, 2, kWater, 7.5f));
    EXPECT_TRUE(Is(*boil, 3, 2, kWater, 7.5f));
    // Q = (372.5 + 3 - 300) x 4.179 x 5 from the granite's 1000 x 0.79 kJ/K.
    EXPECT_NEAR(Temp(*boil, 2, 1), 600.0 - 75.5 * 4.179 * 5.0 / 790.0, 1e-3);
    // A heavy solid at the ceiling stays there: (cn T - Q) / cn rounded 1 ulp above.
    Put(*boil, 2, 1, kGranite, 10000.0f, 17951734.0f);
    Put(*boil, 2, 2, kWater, 300.0f, 20.0f);
    ts::SettleCell(*boil, At(*boil, 2, 2));
    EXPECT_TRUE(Is(*boil, 2, 2, kSteam, 5.0f, 375.5f));
    EXPECT_EQ(Temp(*boil, 2, 1), 10000.0f);

    auto melt = Make(1, 3, kVacuum, 0.0f, 0.0f, {{1, 1, kIce, 250.0f, 100.0f}, {1, 2, kOxygen, 1000.0f, 1.0f}});
    ts::SettleCell(*melt, At(*melt, 1, 2));
    // (1000 - 6) x 1.005 covers Q = (272.5 + 3 - 250) x 4.179 x 5; nothing
    // may leave the grid, so the oxygen gives way upward.
    EXPECT_TRUE(Is(*melt, 1, 2, kWater, 5.0f, 275.5f));
    EXPECT_TRUE(Is(*melt, 1, 1, kIce, 95.0f));
    EXPECT_TRUE(Is(*melt, 1, 3, kOxygen, NAN, 1000.0f));
}

// An unstable solid on a floor: with world flag bit 0 it spreads half its
// mass down the open diagonal (the cell beside it open too); without, it
// waits on its floor, even with its timer run down.
TEST_F(MatterFixture, SpreadingSolidsFallInShares) {
    elements.records[kSand].minHorizontalFlow = 100.0f;
    elements.BuildDerivedTables();
    for (const uint8_t flags : {0, 1}) {
        // Granite under the sand and right of it, closing the right diagonal.
        auto world = Make(3, 3, kVacuum, 0.0f, 0.0f, {{2, 3, kSand, 290.0f, 900.0f, 30}, {2, 2, kGranite, 300.0f, 1000.0f},
                                                    {3, 3, kGranite, 300.0f, 1000.0f}});
        const size_t c = size_t(At(*world, 2, 3));
        world->cellDirtyMask[c] = 0;  // the timer has run down
        world->worldFlags = flags;
        ts::SettleCell(*world, At(*world, 2, 3));
        EXPECT_EQ(world->cellDirtyMask[c] & 31, 31);
        if (flags == 0) {
            EXPECT_TRUE(world->outputCollector.fallingSolids.empty());
            EXPECT_EQ(Mass(*world, 2, 3), 900.0f);
            continue;
        }
        ASSERT_EQ(world->outputCollector.fallingSolids.size(), 1u);
        // Half of the sand and its germs, down in (1, 2): game cell 0 + 3 x 1.
        const FallingSolidEntry& f = world->outputCollector.fallingSolids[0];
        EXPECT_EQ(std::tuple(f.gameCell, int(f.elementIdx), f.mass, f.temperature, f.diseaseCount),
                  std::tuple(3, int(kSand), 450.0f, 290.0f, 15));
        EXPECT_EQ(Mass(*world, 2, 3), 450.0f);
        EXPECT_EQ(Germs(*world, 2, 3), 15);
    }
}

TEST_F(MatterFixture, PressureBreaksTwoWeakSolidsButNotThree) {
    for (int solids : {2, 3}) {
        // Water of ratio 1.5 closed on every other side.
        auto world = Make(3, 6, kVacuum, 0.0f, 0.0f, {{2, 1, kWater, 300.0f, 1500.0f}, {1, 1, kGranite, 300.0f, 1000.0f},
                                                    {3, 1, kGranite, 300.0f, 1000.0f}});
        for (int32_t x : {1, 3}) world->updatedCells.cellFlags[size_t(At(*world, x, 1))] = SIM_CELL_PRESSURE_PROOF;
        for (int i = 0; i < solids; ++i) {
            Put(*world, 2, 2 + i, kGranite, 300.0f, 1000.0f);
            world->updatedCells.strengthModifier[size_t(At(*world, 2, 2 + i))] = 2;  // 0.5 x strength 1
        }
        world->randomSeed = 1;
        ts::SettleCell(*world, At(*world, 2, 1));
        EXPECT_EQ(world->outputCollector.pressureDamage.size(), solids == 2 ? 2u : 0u);
    }
}

// (On a floor it never falls: the spreading test's case without flags.)
TEST_F(MatterFixture, UnstableSolidFallsAfterItsTimer) {
    auto world = Make(1, 3, kVacuum, 0.0f, 0.0f, {{1, 3, kSand, 300.0f, 900.0f}});
    world->randomSeed = 3;
    int ticks = 0;
    while (world->outputCollector.fallingSolids.empty() && ticks < 20) {
        ts::SettleCell(*world, At(*world, 1, 3));
        ++ticks;
    }
    ASSERT_EQ(world->outputCollector.fallingSolids.size(), 1u);
    EXPECT_GE(ticks, 4);  // the countdown starts at 3..6 and falls at 0
    EXPECT_LE(ticks, 7);
    const FallingSolidEntry& fell = world->outputCollector.fallingSolids[0];
    EXPECT_EQ(std::pair(int(fell.elementIdx), fell.mass), std::pair(int(kSand), 900.0f));
    EXPECT_EQ(Elem(*world, 1, 3), kVacuum);
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
    auto world = Make(3, 2, kOxygen, 300.0f, 5.0f, {{1, 1, kGranite, 300.0f, 100.0f}, {2, 1, kGranite, 300.0f, 100.0f},
                                                   {3, 1, kVacuum, 0.0f, 0.0f}, {2, 2, kOxygen, 300.0f, 2.0f}});
    Modify(*world, 5, kOxygen, 5.0f, 400.0f, SIM_REPLACE_ADD);  // same gas: mixes
    EXPECT_TRUE(Is(*world, 3, 2, kOxygen, 10.0f, 350.0f));
    Modify(*world, 0, kOxygen, 5.0f, 300.0f, SIM_REPLACE_ADD);  // into a solid: cancels
    EXPECT_TRUE(Is(*world, 1, 1, kGranite, 95.0f));
    // Removing 3 kg of a gas from 2 kg of another gas leaves vacuum.
    Modify(*world, 4, kCarbonDioxide, -3.0f, 300.0f, SIM_REPLACE_ADD);
    EXPECT_EQ(Elem(*world, 2, 2), kVacuum);
    // A liquid of mass 0 changes nothing but lists its callback (an unknown
    // replace type is the end-to-end refusal test's).
    Modify(*world, 3, kWater, 0.0f, 300.0f, SIM_REPLACE_ADD, 0, 11);
    EXPECT_TRUE(Is(*world, 1, 2, kOxygen, 5.0f));
    EXPECT_EQ(world->outputCollector.cellCallbacks, std::vector<uint32_t>{11});
}

// 10 kg of water added to (2, 1) of a granite box whose gas cannot be pushed
// aside: the liquid above swaps down and a water neighbour takes the 10 kg;
// without one, the new and the old matter cancel mass for mass.
TEST_F(ModifyFixture, LiquidThatFindsNoRoom) {
    const struct {
        const char* name;
        float gas;                     // oxygen in (2, 1)
        bool waterAbove, waterBeside;  // 300 kg in (2, 2), 50 kg in (3, 1)
        uint8_t element21;
        float mass21, mass31;
    } cases[] = {
        {"swap, then the neighbour", 1.0f, true, true, kWater, 300.0f, 60.0f},
        {"swap, then cancel", 1.0f, true, false, kWater, 290.0f, 1000.0f},
        {"cancel, more gas than water", 20.0f, false, false, kOxygen, 10.0f, 1000.0f},
        {"cancel, less gas than water", 4.0f, false, false, kWater, 6.0f, 1000.0f},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        auto world = Make(3, 3, kGranite, 300.0f, 1000.0f, {{2, 1, kOxygen, 300.0f, k.gas}});
        if (k.waterAbove) Put(*world, 2, 2, kWater, 300.0f, 300.0f);
        if (k.waterBeside) Put(*world, 3, 1, kWater, 300.0f, 50.0f);
        Modify(*world, 1, kWater, 10.0f, 300.0f, SIM_REPLACE_ADD);
        EXPECT_TRUE(Is(*world, 2, 1, k.element21, k.mass21));
        EXPECT_FLOAT_EQ(Mass(*world, 3, 1), k.mass31);
        EXPECT_TRUE(Is(*world, 2, 2, k.waterAbove ? kOxygen : kGranite, k.waterAbove ? 1.0f : 1000.0f));
    }
}

TEST_F(ModifyFixture, StackingAndInPlaceSolids) {
    auto world = Make(1, 4, kOxygen, 300.0f, 1.0f, {{1, 1, kGranite, 300.0f, 990.0f}, {1, 3, kSink, 0.0f, 0.0f}});
    // Tops up the granite below by 10 and puts the rest in the first open cell above.
    Modify(*world, 1, kGranite, 30.0f, 350.0f, SIM_REPLACE_ADD, 0);
    EXPECT_FLOAT_EQ(Mass(*world, 1, 1), 1000.0f);
    EXPECT_TRUE(Is(*world, 1, 2, kGranite, 20.0f, 350.0f));
    // The sink above swallows what does not fit.
    Modify(*world, 1, kGranite, 2000.0f, 350.0f, SIM_REPLACE_ADD, 0);
    EXPECT_EQ(Elem(*world, 1, 3), kSink);
    // In place on a gas that can be pushed aside: the cell becomes the solid.
    auto open = Make(3, 1, kOxygen, 300.0f, 1.0f);
    Modify(*open, 1, kGranite, 50.0f, 300.0f, SIM_REPLACE_ADD, 1);
    EXPECT_TRUE(Is(*open, 2, 1, kGranite, 50.0f));
}

// A mixed closed box (gases, liquids, an unstable solid, temperature
// differences; no sink, no releases, no sublimation) keeps the mass of every
// element family over a long run. (The cells' invariants after every frame
// are the soak program's and the fuzz targets'.)
TEST_F(MatterFixture, LongRunsConserveMass) {
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
    const auto familyMasses = [&world] {
        std::map<int, double> m;
        for (int32_t y = 1; y <= 16; ++y)
            for (int32_t x = 1; x <= 20; ++x) {
                const uint8_t e = Elem(*world, x, y);
                m[(e == kWater || e == kIce || e == kSteam) ? int(kWater) : int(e)] += Mass(*world, x, y);
            }
        return m;
    };
    const auto before = familyMasses();
    ts::WorkerPool pool(1);
    ts::StepContext context(pool);
    for (int step = 0; step < 1000; ++step) {
        ts::Step(context, *world);
        world->outputCollector.Clear();
    }
    // Solids that fell left as items: the sand is not counted.
    const auto after = familyMasses();
    for (const auto& [family, mass] : before) {
        if (family == kSand) continue;
        EXPECT_NEAR(after.at(family) / mass, 1.0, 1e-4) << "family " << family;
    }
}

}  // namespace
}  // namespace tstest
