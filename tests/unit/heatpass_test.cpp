// The heat pass and phase changes: worked examples of one pair and of one
// cell's transition (many cells over many steps, and every worker count, are
// the pinned hashes of the determinism tests).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scenes/scenes.h"
#include "simlib/physicsstep.h"
#include "simlib/updatetemperature.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

using tsscene::Put;

struct HeatFixture : ::testing::Test {
    ts::ElementTable elements = StandardElements();
    ts::DiseaseTable diseases = StandardDiseases();
    ts::WorkerPool pool{1};
    ts::StepContext context{pool};

    std::unique_ptr<ts::World> Make(int32_t gw, int32_t gh, uint8_t element, float t, float m) {
        return tsscene::Uniform(elements, diseases, gw, gh, element, t, m);
    }
    // One heat pass from the current updatedCells.
    void Heat(ts::World& world) {
        world.Snapshot();
        ts::RunHeatPass(context, world);
        for (auto& c : context.collectors) world.outputCollector.AppendAndClear(c);
    }
    static float T(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.temperature[size_t(y * w.width + x)]; }
    static float M(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.mass[size_t(y * w.width + x)]; }
    static uint8_t E(const ts::World& w, int32_t x, int32_t y) { return w.updatedCells.elementIdx[size_t(y * w.width + x)]; }
    // The transition check of a cell as the element it holds.
    static bool Transition(ts::World& w, int32_t x, int32_t y) {
        return ts::CheckStateTransition(w, w.outputCollector, y * w.width + x, w.elements.info[E(w, x, y)]);
    }
};

TEST_F(HeatFixture, PairExchangeAndThreshold) {
    elements.records[kGranite].specificHeatCapacity = 1.0f;
    elements.records[kGranite].thermalConductivity = 1.0f;
    elements.BuildDerivedTables();
    // E1 = dT * 1 * 1 * 0.2, E2 = dT * 0.125: the smaller moves (1.25 kJ for
    // 10 K), from a difference of 1 K on.
    const struct {
        float hot, coldAfter, hotAfter;
    } pairs[] = {{310.0f, 301.25f, 308.75f}, {300.9f, 300.0f, 300.9f}, {301.0f, 300.125f, 300.875f}};
    auto world = Make(2, 1, kGranite, 300.0f, 1.0f);
    for (const auto& k : pairs) {
        Put(*world, 1, 1, kGranite, 300.0f, 1.0f);
        Put(*world, 2, 1, kGranite, k.hot, 1.0f);
        Heat(*world);
        EXPECT_FLOAT_EQ(T(*world, 1, 1), k.coldAfter) << k.hot;
        EXPECT_FLOAT_EQ(T(*world, 2, 1), k.hotAfter) << k.hot;
    }

    // A light cell that would overshoot moves a quarter of the way.
    elements.records[kGranite].thermalConductivity = 1000.0f;
    elements.BuildDerivedTables();
    Put(*world, 1, 1, kGranite, 300.0f, 1.0f);
    Put(*world, 2, 1, kGranite, 400.0f, 50.0f);
    Heat(*world);
    EXPECT_LE(T(*world, 1, 1), 325.0f + 1e-3f);
    EXPECT_GE(T(*world, 2, 1), T(*world, 1, 1));
}

TEST_F(HeatFixture, ConductionByteChoosesMeanOrMinimum) {
    // Different conductivities: the geometric mean between fully conducting
    // cells, the smaller scaled conductance otherwise; both sides' contact
    // factors scale it.
    for (const uint8_t e : {kGranite, kIce}) {
        elements.records[e].specificHeatCapacity = 1.0f;
        elements.records[e].contactWithSolidFactor = 0.5f;
    }
    elements.records[kGranite].thermalConductivity = 4.0f;
    elements.records[kIce].thermalConductivity = 1.0f;
    elements.BuildDerivedTables();
    // Byte 255: kappa = sqrt(4 * 1) = 2, Q = 10 * 2 * 0.25 * 0.2 = 1 kJ over
    // 10 kJ/K; byte 254: min(0.99217 * 4, 1 * 1) = 1, Q = 0.5 kJ.
    for (const auto& [byte, rise] : {std::pair<uint8_t, float>{255, 0.1f}, {254, 0.05f}}) {
        auto world = Make(2, 1, kGranite, 300.0f, 10.0f);
        Put(*world, 2, 1, kIce, 310.0f, 10.0f);
        world->updatedCells.insulation[size_t(1 * world->width + 1)] = byte;
        Heat(*world);
        EXPECT_NEAR(T(*world, 1, 1) - 300.0f, rise, 1e-4f) << int(byte);
    }
}

TEST_F(HeatFixture, TinyMassRelaxesAndNoHeatExchangeElementDoesNot) {
    auto world = Make(3, 1, kGranite, 300.0f, 1.0f);
    Put(*world, 1, 1, kGranite, 300.0f, 0.0009f);
    Put(*world, 2, 1, kGranite, 400.0f, 1.0f);
    world->targetTemperature[size_t(1 * world->width + 1)] = 500.0f;
    world->frameParameters.temperatureRelaxRate = 0.5f;
    Heat(*world);
    // No conduction with its hot neighbour, but halfway to its target.
    EXPECT_FLOAT_EQ(T(*world, 1, 1), 400.0f);

    // At the ceiling a cell stays there: (1 - k) T + k T rounds 1 ulp above
    // 10000 K for many rates.
    auto hot = Make(1, 1, kGranite, 10000.0f, 1.0f);
    hot->targetTemperature[size_t(1 * hot->width + 1)] = 10000.0f;
    hot->frameParameters.temperatureRelaxRate = 1.46484467e-07f;
    Heat(*hot);
    EXPECT_EQ(T(*hot, 1, 1), 10000.0f);

    elements.records[kIce].stateFlags |= SIM_ELEMENT_NO_HEAT_EXCHANGE;
    elements.BuildDerivedTables();
    auto sealed = Make(2, 1, kIce, 250.0f, 10.0f);
    Put(*sealed, 2, 1, kGranite, 260.0f, 10.0f);
    sealed->targetTemperature[size_t(1 * sealed->width + 1)] = 200.0f;
    Heat(*sealed);
    EXPECT_EQ(T(*sealed, 1, 1), 250.0f);
    EXPECT_EQ(T(*sealed, 2, 1), 260.0f);
}

TEST_F(HeatFixture, PhaseChangesWithHysteresisOresAndRelease) {
    elements.records[kWater].lowTempTransitionOreId = elements.records[kGranite].id;
    elements.records[kWater].lowTempTransitionOreMassConversion = 0.001f;
    elements.records[kSteam].defaultMass = 1.0f;
    elements.BuildDerivedTables();
    auto world = Make(4, 1, kWater, 300.0f, 1.0f);
    // Exactly 3 K below: no transition (hysteresis is strict).
    Put(*world, 1, 1, kWater, 272.5f - 3.0f, 1.0f);
    EXPECT_FALSE(Transition(*world, 1, 1));
    // Just beyond: ice, 1.5 K warmer; the ore of exactly 0.001 kg is not made.
    Put(*world, 1, 1, kWater, 272.5f - 3.01f, 1.0f);
    EXPECT_TRUE(Transition(*world, 1, 1));
    EXPECT_EQ(E(*world, 1, 1), kIce);
    EXPECT_FLOAT_EQ(T(*world, 1, 1), 272.5f - 3.01f + 1.5f);
    EXPECT_EQ(world->outputCollector.emittedMatter.size(), 0u);
    // With 2 kg the ore is 0.002 kg: emitted, taken from the cell.
    Put(*world, 2, 1, kWater, 260.0f, 2.0f);
    EXPECT_TRUE(Transition(*world, 2, 1));
    ASSERT_EQ(world->outputCollector.emittedMatter.size(), 1u);
    EXPECT_EQ(world->outputCollector.emittedMatter[0].elementIdx, kGranite);
    EXPECT_FLOAT_EQ(world->outputCollector.emittedMatter[0].mass, 0.002f);
    EXPECT_FLOAT_EQ(M(*world, 2, 1), 1.998f);
    // Heating beyond highTemp + 3 with flag 0x40 reports a flagged transition.
    world->updatedCells.cellFlags[size_t(1 * world->width + 3)] = SIM_CELL_REPORT_TRANSITIONS;
    Put(*world, 3, 1, kWater, 380.0f, 1.0f);
    EXPECT_TRUE(Transition(*world, 3, 1));
    EXPECT_EQ(E(*world, 3, 1), kSteam);
    ASSERT_EQ(world->outputCollector.flaggedTransitions.size(), 1u);
    EXPECT_EQ(world->outputCollector.flaggedTransitions[0], 2);
}

// A table may name a conversion beyond 1 (or not finite): the ore is then at
// most all the cell holds, never more matter or germs than there were.
TEST_F(HeatFixture, AnOreTakesAtMostTheCellsMatterAndGerms) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float conversion, oreMass, cellMass;
        int32_t oreGerms;
    } cases[] = {{2.0f, 2.0f, 0.0f, 1000}, {INFINITY, 2.0f, 0.0f, 1000}, {nan, 0.0f, 2.0f, 0}};
    for (const auto& k : cases) {
        elements.records[kWater].lowTempTransitionOreId = elements.records[kGranite].id;
        elements.records[kWater].lowTempTransitionOreMassConversion = k.conversion;
        elements.BuildDerivedTables();
        auto world = Make(1, 1, kWater, 260.0f, 2.0f);
        const size_t c = size_t(1 * world->width + 1);
        world->updatedCells.diseaseIdx[c] = 0;
        world->updatedCells.diseaseCount[c] = 1000;
        EXPECT_TRUE(Transition(*world, 1, 1));
        const auto& emitted = world->outputCollector.emittedMatter;
        ASSERT_EQ(emitted.size(), k.oreMass > 0.0f ? 1u : 0u) << k.conversion;
        if (!emitted.empty()) {
            EXPECT_EQ(emitted[0].mass, k.oreMass) << k.conversion;
            EXPECT_EQ(emitted[0].diseaseCount, k.oreGerms) << k.conversion;
        }
        EXPECT_EQ(M(*world, 1, 1), k.cellMass) << k.conversion;
        EXPECT_EQ(world->updatedCells.diseaseCount[c], 1000 - k.oreGerms) << k.conversion;
    }
}

// Steam of game cell 2 (top left) may leave, that of game cell 3 may not.
TEST_F(HeatFixture, CondensingGasLeavesWhereReleaseIsPermitted) {
    auto world = Make(2, 2, kSteam, 368.0f, 0.5f);
    world->releasePermit[2] = 1;
    world->Snapshot();
    EXPECT_TRUE(Transition(*world, 1, 2));
    ASSERT_EQ(world->outputCollector.releasedContents.size(), 1u);
    const MatterEntry released = world->outputCollector.releasedContents[0];
    EXPECT_EQ(std::pair(int(released.elementIdx), released.temperature), std::pair(int(kWater), 369.5f));
    EXPECT_EQ(E(*world, 1, 2), kVacuum);
    EXPECT_TRUE(world->outputCollector.changedCells.empty());
    // Without a permit the cell turns into water in place.
    EXPECT_TRUE(Transition(*world, 2, 2));
    EXPECT_EQ(E(*world, 2, 2), kWater);
    EXPECT_EQ(world->outputCollector.changedCells.size(), 1u);
}

// Ice's defaultMass is 1000: 800 kg fill 0.8 of an item, 801 kg more.
TEST_F(HeatFixture, FreezeToItemFillLimit) {
    auto world = Make(2, 1, kWater, 260.0f, 800.0f);
    world->frameParameters.forceEmission = 1;
    world->updatedCells.mass[size_t(1 * world->width + 2)] = 801.0f;
    EXPECT_TRUE(Transition(*world, 1, 1));
    EXPECT_EQ(E(*world, 1, 1), kVacuum);
    ASSERT_EQ(world->outputCollector.emittedMatter.size(), 1u);
    EXPECT_EQ(world->outputCollector.emittedMatter[0].elementIdx, kIce);
    EXPECT_TRUE(Transition(*world, 2, 1));
    EXPECT_EQ(E(*world, 2, 1), kIce);
    EXPECT_EQ(world->outputCollector.emittedMatter.size(), 1u);
}

TEST_F(HeatFixture, FourHottestNeighboursStopACellAtTheCeiling) {
    // Each exchange moves at most a quarter of the way, so four of them reach
    // the neighbours' temperature exactly; rounding carried the sum 1 ulp past
    // SIM_MAX_TEMPERATURE.
    elements.records[kGranite].thermalConductivity = 1000.0f;
    elements.BuildDerivedTables();
    auto world = Make(3, 3, kGranite, SIM_MAX_TEMPERATURE, 4081083.25f);
    Put(*world, 2, 2, kGranite, 9988.14941f, 947.492065f);
    Heat(*world);
    EXPECT_EQ(T(*world, 2, 2), SIM_MAX_TEMPERATURE);
}

}  // namespace
}  // namespace tstest
