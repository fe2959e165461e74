// Germs: the arithmetic of one cell (AddDisease, and MergeDisease where it
// must agree), the disease table's parser, spread between neighbours and
// growth in cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "scenes/scenes.h"
#include "simlib/diseasepasses.h"
#include "unit/testtables.h"

namespace tstest {
namespace {

TEST(AddDisease, SameNewCompetingAndCancelling) {
    const struct {
        const char* name;
        int d, n, add, delta;
        float weightX;                 // competition weight of disease 0 (disease 1 has 1)
        int dAfter, nAfter, ageAfter;  // the cell starts at age 7
        bool mergeAgrees;              // MergeDisease gives the same index and count
    } cases[] = {
        {"same disease adds", 0, 100, 0, 100, 1.0f, 0, 200, 7, true},
        {"into a clean cell", 255, 0, 1, 50, 1.0f, 1, 50, 0, true},
        {"index 255 adds nothing", 0, 10, 255, 99, 1.0f, 0, 10, 7, true},
        {"equal weights: the holder keeps 150", 0, 100, 1, 50, 1.0f, 0, 150, 7, true},
        // r = trunc(100 - (300 / 100) x 300) = -800, capped at the 400 the two bring.
        {"a stronger newcomer wins", 0, 100, 1, 300, 1.0f, 1, 400, 0, true},
        {"exactly cancelling clears", 0, 100, 1, 100, 1.0f, 255, 0, 0, true},
        // sOld 40 > sNew 30: r = trunc(30 - (40 / 30) x 10) = 16 for the newcomer.
        {"weights scale the strengths", 0, 10, 1, 30, 4.0f, 1, 16, 0, true},
        {"a delta of 0 changes nothing", 0, 100, 1, 0, 1.0f, 0, 100, 7, false},  // would divide by zero
        {"a negative count clears", 0, 3, 0, -5, 1.0f, 255, 0, 0, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        auto diseases = StandardDiseases();
        diseases.records[0].competitionWeight = k.weightX;
        ts::CellArrays cell;
        cell.Assign(1);
        cell.diseaseIdx[0] = k.d;
        cell.diseaseCount[0] = k.n;
        cell.diseaseAge[0] = 7;
        cell.diseaseGrowthRemainder[0] = 0.25f;
        ts::AddDisease(cell, 0, k.add, k.delta, diseases);
        EXPECT_EQ(cell.diseaseIdx[0], k.dAfter);
        EXPECT_EQ(cell.diseaseCount[0], k.nAfter);
        EXPECT_EQ(cell.diseaseAge[0], k.ageAfter);
        EXPECT_EQ(cell.diseaseGrowthRemainder[0], k.dAfter == 255 ? 0.0f : 0.25f);
        if (!k.mergeAgrees) continue;
        const ts::DiseaseAmount m = ts::MergeDisease(k.d, k.n, k.add, k.delta, diseases);
        EXPECT_EQ(m.index, k.dAfter == 255 ? k.d : k.dAfter);  // no germs left: the merge keeps the holder's index
        EXPECT_EQ(m.count, k.nAfter);
    }
}

TEST(DiseaseTable, ParseAndRefusals) {
    // (Fields read back are the host kit tables test's.)
    const std::string good = DiseaseTablePayload(StandardDiseases(3), 3);
    ts::DiseaseTable table;
    std::string error;
    const auto parse = [&](const std::string& bytes, size_t length, int32_t elements) {
        ts::BinaryBufferReader reader(bytes.data(), int64_t(length));
        return ts::ParseDiseaseTable(reader, elements, table, error);
    };
    ASSERT_TRUE(parse(good, good.size(), 3)) << error;
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.FindDiseaseIndex(0xD2), 1);
    EXPECT_EQ(table.FindDiseaseIndex(0x999), 255);

    // Growth-info count differing from the element count.
    EXPECT_FALSE(parse(good, good.size(), 4));
    EXPECT_EQ(error, "Elements table contains 4 elements but diseases are only listing 3 growth info entries");
    // Bytes left over.
    EXPECT_FALSE(parse(good + '\0', good.size() + 1, 3));
    // Truncated anywhere.
    for (size_t cut = 0; cut < good.size(); cut += 7) EXPECT_FALSE(parse(good, cut, 3)) << cut;
    // A count that claims more diseases than the payload could hold.
    std::string lying = good;
    lying[0] = char(200);
    EXPECT_FALSE(parse(lying, lying.size(), 3));
}

// Germ spread between neighbours and growth in cells.
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
        diseases.records[size_t(d)].populationHalfLife.assign(size_t(elements.count()), INFINITY);
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
    EXPECT_EQ(ts::HalfLifeFactor(INFINITY), 1.0f);
    EXPECT_FLOAT_EQ(ts::HalfLifeFactor(0.2f), 0.5f);
    EXPECT_GT(ts::HalfLifeFactor(-0.2f), 1.0f);  // a negative half-life grows

    Curve(0, {250.0f, 280.0f, 320.0f, 350.0f}, {0.2f, 0.4f, INFINITY, 10.0f});
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
    Curve(0, {100.0f, 200.0f, 300.0f, 400.0f}, {INFINITY, INFINITY, INFINITY, INFINITY});
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
