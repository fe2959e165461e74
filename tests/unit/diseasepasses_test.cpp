// Germ spread between neighbours and growth in cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "scenes/scenes.h"
#include "simlib/diseasepasses.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

struct DiseaseFixture : ::testing::Test {
    ts::ElementTable elements = StandardElements();
    ts::DiseaseTable diseases = StandardDiseases();

    std::unique_ptr<ts::World> Make(int32_t gw, int32_t gh, uint8_t element) {
        return tsscene::Uniform(elements, diseases, gw, gh, element, 300.0f, 10.0f);
    }
    static void Germs(ts::World& w, int32_t x, int32_t y, uint8_t d, int32_t n, uint8_t age = 0) {
        const size_t c = size_t(y * w.width + x);
        w.updatedCells.diseaseIdx[c] = d;
        w.updatedCells.diseaseCount[c] = n;
        w.updatedCells.diseaseAge[c] = age;
    }
    static int32_t Count(const ts::World& w, int32_t x, int32_t y) {
        return w.updatedCells.diseaseCount[size_t(y * w.width + x)];
    }
    // A temperature curve for disease d, in cells whose counts neither grow nor shrink per kg.
    void Curve(int d, std::array<float, 4> thresholds, std::array<float, 4> halfLives) {
        std::copy(thresholds.begin(), thresholds.end(), diseases.records[size_t(d)].temperatureThresholds);
        std::copy(halfLives.begin(), halfLives.end(), diseases.records[size_t(d)].temperatureHalfLives);
        diseases.records[size_t(d)].maxCountPerKg.assign(size_t(elements.count()), 1e9f);
        diseases.records[size_t(d)].populationHalfLife.assign(size_t(elements.count()), kInf);
    }
};

// An eighth of the difference moves down the gradient, also between counts
// whose difference does not fit 32 bits (diff 4e9: 5e8 moves, a is left empty).
TEST_F(DiseaseFixture, SameDiseaseSpreadsDownTheGradient) {
    diseases.records[0].spreadRate.assign(size_t(elements.count()), 1.0f);
    const struct {
        int32_t a, b, aAfter, bAfter;
    } cases[] = {{80, 16, 72, 24}, {-2000000000, 2000000000, 0, 1500000000}};
    for (const auto& k : cases) {
        auto world = Make(2, 1, kWater);
        Germs(*world, 1, 1, 0, k.a);
        Germs(*world, 2, 1, 0, k.b);
        world->Snapshot();
        ts::SpreadDisease(*world, 1 * world->width + 1, 1 * world->width + 2);
        EXPECT_EQ(Count(*world, 1, 1), k.aAfter);
        EXPECT_EQ(Count(*world, 2, 1), k.bAfter);
    }
}

TEST_F(DiseaseFixture, NoSpreadAcrossPhasesOrFromYoungOrSparseCells) {
    diseases.records[0].spreadRate.assign(size_t(elements.count()), 1.0f);
    diseases.records[0].minSpreadCount.assign(size_t(elements.count()), 50);
    diseases.records[0].minSpreadAge.assign(size_t(elements.count()), 3);
    auto world = Make(4, 1, kWater);
    tsscene::Put(*world, 4, 1, kOxygen, 300.0f, 1.0f);
    Germs(*world, 3, 1, 0, 400, 10);  // liquid next to the gas: nothing crosses
    Germs(*world, 1, 1, 0, 40, 10);   // below minSpreadCount: does not spread
    world->Snapshot();
    ts::DiseaseSpreadPass(*world);
    EXPECT_EQ(world->updatedCells.diseaseIdx[size_t(1 * world->width + 4)], 255);
    EXPECT_EQ(Count(*world, 1, 1), 40);
    // The sparse cell still receives from a strong, old neighbour: 400 germs
    // at cell 3 spread to cell 2 (an eighth).
    EXPECT_EQ(Count(*world, 2, 1), 50);
    Germs(*world, 1, 1, 0, 400, 1);  // too young
    Germs(*world, 2, 1, 255, 0);
    Germs(*world, 3, 1, 255, 0);
    world->Snapshot();
    ts::DiseaseSpreadPass(*world);
    EXPECT_EQ(Count(*world, 1, 1), 400);
}

TEST_F(DiseaseFixture, HalfLivesAndTheTemperatureCurve) {
    EXPECT_EQ(ts::HalfLifeFactor(0.0f), 0.0f);
    EXPECT_EQ(ts::HalfLifeFactor(std::nanf("")), 0.0f);
    EXPECT_EQ(ts::HalfLifeFactor(kInf), 1.0f);
    EXPECT_FLOAT_EQ(ts::HalfLifeFactor(0.2f), 0.5f);
    EXPECT_GT(ts::HalfLifeFactor(-0.2f), 1.0f);  // a negative half-life grows

    Curve(0, {250.0f, 280.0f, 320.0f, 350.0f}, {0.2f, 0.4f, kInf, 10.0f});
    const ts::DiseaseRecord& d = diseases.records[0];
    EXPECT_FLOAT_EQ(ts::TemperatureFactor(d, 240.0f), 0.5f);            // half-life 0 alone
    EXPECT_FLOAT_EQ(ts::TemperatureFactor(d, 280.0f), std::pow(2.0f, -0.5f));  // t = 1: half-life 1
    EXPECT_EQ(ts::TemperatureFactor(d, 300.0f), 1.0f);                   // comfortable band
    EXPECT_EQ(ts::TemperatureFactor(d, 330.0f), 1.0f);                   // an infinite end: no effect
    EXPECT_FLOAT_EQ(ts::TemperatureFactor(d, 400.0f), std::pow(2.0f, -0.02f));
    // Between thresholds 0 and 1 the half-life is interpolated: at 265 K, 0.3 s.
    EXPECT_FLOAT_EQ(ts::TemperatureFactor(d, 265.0f), std::pow(2.0f, -0.2f / 0.3f));
}

TEST_F(DiseaseFixture, GrowthPassKillsAgesAndCarriesRemainders) {
    Curve(0, {100.0f, 200.0f, 300.0f, 400.0f}, {kInf, kInf, kInf, kInf});
    // Half-life 0 at 300 K for the second cell's curve: all germs die.
    Curve(1, {1000.0f, 1000.0f, 1000.0f, 1000.0f}, {0.0f, 0.0f, 0.0f, 0.0f});
    ts::DiseaseRecord& d = diseases.records[0];
    auto world = Make(3, 1, kWater);
    Germs(*world, 1, 1, 0, 1000, 253);
    Germs(*world, 2, 1, 1, 500, 5);
    ts::GrowDisease(*world, ts::Rect{1, 1, 4, 2});
    EXPECT_EQ(Count(*world, 1, 1), 1000);  // no change anywhere on the curve
    EXPECT_EQ(world->updatedCells.diseaseAge[size_t(world->width + 1)], 254);
    EXPECT_EQ(world->updatedCells.diseaseIdx[size_t(world->width + 2)], 255);
    EXPECT_EQ(Count(*world, 2, 1), 0);
    ts::GrowDisease(*world, ts::Rect{1, 1, 4, 2});
    EXPECT_EQ(world->updatedCells.diseaseAge[size_t(world->width + 1)], 254);  // saturates
    // Underpopulation: 10 kg with a minimum of 200 per kg loses 0.2 x rate a step.
    d.minCountPerKg.assign(size_t(elements.count()), 200.0f);
    d.underpopulationDeathRate.assign(size_t(elements.count()), 3.0f);
    ts::GrowDisease(*world, ts::Rect{1, 1, 4, 2});  // total -0.6: count unchanged, remainder carried
    EXPECT_EQ(Count(*world, 1, 1), 1000);
    EXPECT_FLOAT_EQ(world->updatedCells.diseaseGrowthRemainder[size_t(world->width + 1)], -0.6f);
    ts::GrowDisease(*world, ts::Rect{1, 1, 4, 2});  // -1.2: one germ dies
    EXPECT_EQ(Count(*world, 1, 1), 999);
}

}  // namespace
}  // namespace tstest
