// Buildings over rectangles of cells: the exchange with each covered cell,
// their own production, the three report lists, energy messages and bad
// records.
#include <cmath>

#include "simlib/components/buildingheatexchange.h"
#include "unit/componentworld.h"

namespace tstest {
namespace {

struct BuildingTest : ComponentWorld {
    static BuildingHeatExchangeBody Body(uint8_t element, float mass, float t, int32_t minX, int32_t minY,
                                         int32_t maxX, int32_t maxY, float overheat = 1000.0f,
                                         float generation = 0.0f) {
        return BuildingHeatExchangeBody{element, {}, mass, t, 1.0f, overheat, generation, minX, minY, maxX, maxY};
    }
    ts::BuildingHeatExchange& buildings() { return Component<ts::BuildingHeatExchange>(); }
    uint32_t Add(const BuildingHeatExchangeBody& body) {
        const auto record = ts::BuildingHeatExchange::BuildRecord(*world, body);
        return record ? buildings().Add(*record) : SIM_NO_HANDLE;
    }
    ts::BuildingRecord& Building(uint32_t h) { return *buildings().Get(h); }
    void Step() { buildings().Simulate(0.2f, *world); }
    std::vector<uint32_t>& Overheated() { return world->outputCollector.buildingsOverheated; }
    std::vector<uint32_t>& Cooled() { return world->outputCollector.buildingsCooled; }
    std::vector<uint32_t>& AtHighTemp() { return world->outputCollector.buildingsAtHighTemp; }
};

// The heat a cell and a granite building exchange in one step, in double:
// conductivities x the colder side's heat capacity x dT x 0.005 x dt x rate.
double Exchange(double h, double dT, double rate) { return 3.39 * 3.39 * h * dT * 0.005 * 0.2 * rate; }

TEST_F(BuildingTest, CoveredCellsAt300And310) {
    Make(2, 1, kGranite, 300.0f, 1.0f);
    T(1, 0) = 310.0f;
    world->frameParameters.buildingExchangeRate = 1.0f;
    const uint32_t h = Add(Body(kGranite, 100.0f, 305.0f, 0, 0, 2, 1));
    const double hb = 0.79 * 100.0 / 2.0;  // per covered cell
    EXPECT_FLOAT_EQ(Building(h).heatCapacity, float(hb));
    Step();
    // The building is hotter than the first cell: its own heat capacity sets
    // the flow; colder than the second: the cell's does.
    const double q1 = Exchange(hb, 300.0 - 305.0, 1.0);
    const double q2 = Exchange(0.79, 310.0 - 305.0, 1.0);
    EXPECT_NEAR(T(0, 0), 300.0 - q1 / 0.79, 1e-4);
    EXPECT_NEAR(T(1, 0), 310.0 - q2 / 0.79, 1e-4);
    EXPECT_NEAR(Building(h).temperature, 305.0 + (q1 + q2) / (2.0 * hb), 1e-4);

    // However fast the exchange, the building stays between its cells'
    // temperatures before its production is added.
    world->frameParameters.buildingExchangeRate = 1e6f;
    Building(h).temperature = 305.0f;
    T(0, 0) = 300.0f;
    T(1, 0) = 310.0f;
    Step();
    EXPECT_GE(Building(h).temperature, 300.0f);
    EXPECT_LE(Building(h).temperature, 310.0f);
}

TEST_F(BuildingTest, NoConductionStillHeatsByProduction) {
    Make(3, 2, kGranite, 300.0f, 10.0f);
    for (int32_t x = 0; x < 3; ++x) Insulation(x, 1) = 0;
    const uint32_t h = Add(Body(kGranite, 60.0f, 350.0f, 0, 1, 3, 2, 1000.0f, 10.0f));
    for (int i = 0; i < 5; ++i) Step();
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(T(x, 1), 300.0f);
    // n x Hb = 0.79 x 60: +0.2 x 10 / 47.4 K per step.
    EXPECT_NEAR(Building(h).temperature, 350.0f + 5.0f * 0.2f * 10.0f / 47.4f, 1e-4f);
    // A cell without mass is skipped.
    M(0, 1) = 0.0f;
    Insulation(0, 1) = 255;
    Step();
    EXPECT_EQ(T(0, 1), 300.0f);
}

TEST_F(BuildingTest, ThresholdReports) {
    Make(1, 1, kGranite, 300.0f, 1.0f);
    Insulation(0, 0) = 0;
    // Ice melts at 272.5 K: a building of it at 400 K is at its highTemp too.
    const uint32_t h = Add(Body(kIce, 10.0f, 400.0f, 0, 0, 1, 1, 400.0f));
    for (int i = 0; i < 3; ++i) {
        Step();
        EXPECT_EQ(Overheated().size(), size_t(i + 1));
        EXPECT_EQ(AtHighTemp().size(), size_t(i + 1));
    }
    EXPECT_TRUE(Cooled().empty());
    // Losing 1 K per step: cooled once, overheated no more.
    Building(h).heatGeneration = -1.0f * 20.5f / 0.2f;
    world->outputCollector.Clear();
    for (int i = 0; i < 3; ++i) Step();
    EXPECT_TRUE(Overheated().empty());
    ASSERT_EQ(Cooled().size(), 1u);
    EXPECT_EQ(Cooled()[0], h);
    EXPECT_NEAR(Building(h).temperature, 397.0f, 1e-3f);

    // A replacement below the old threshold reports the cooling as well.
    world->outputCollector.Clear();
    Building(h).temperature = 450.0f;
    const auto colder = ts::BuildingHeatExchange::BuildRecord(*world, Body(kIce, 10.0f, 350.0f, 0, 0, 1, 1, 300.0f));
    ASSERT_TRUE(colder);
    buildings().Replace(*world, h, *colder);
    ASSERT_EQ(Cooled().size(), 1u);
    EXPECT_EQ(Building(h).overheatTemperature, 300.0f);
    buildings().Replace(*world, 0x05000000u | ts::handle::Index(h), *colder);  // stale: nothing
    EXPECT_EQ(Cooled().size(), 1u);
}

TEST_F(BuildingTest, EnergyMessagesStayWithinTheirBounds) {
    Make(1, 1, kGranite, 300.0f, 1.0f);
    const uint32_t h = Add(Body(kGranite, 1.0f, 300.0f, 0, 0, 1, 1));  // 0.79 kJ/K
    buildings().ModifyEnergy(h, 79.0f, 0.0f, 350.0f);  // +100 K asked
    EXPECT_EQ(Building(h).temperature, 350.0f);
    buildings().ModifyEnergy(h, 7.9f, 0.0f, 340.0f);  // already above the maximum: it may stay
    EXPECT_EQ(Building(h).temperature, 350.0f);
    buildings().ModifyEnergy(h, -7.9f, 345.0f, 400.0f);  // -10 K, held at the minimum
    EXPECT_EQ(Building(h).temperature, 345.0f);
    buildings().ModifyEnergy(h, -7.9f, -1.0f, 400.0f);  // a negative bound: ignored
    buildings().ModifyEnergy(h, 7.9f, 0.0f, 20000.0f);   // beyond SIM_MAX_TEMPERATURE: ignored
    EXPECT_EQ(Building(h).temperature, 345.0f);
    buildings().ModifyEnergy(h, -79000.0f, 0.0f, 400.0f);  // would reach 0 K: refused with a report
    EXPECT_EQ(Building(h).temperature, 345.0f);
    EXPECT_TRUE(Reported("Assert failed: 0.0f < final_temperature && final_temperature <= SIM_MAX_TEMPERATURE"));
}

TEST_F(BuildingTest, RecordsThatCannotBeBuilt) {
    Make(4, 3, kGranite, 300.0f, 1.0f);
    const std::pair<BuildingHeatExchangeBody, const char*> refused[] = {
        {Body(kGranite, 1.0f, 300.0f, 1, 0, 1, 2), "Size zero building passed into BuildingHeatExchange"},
        // Both sides reversed: a positive count of cells, but none to cover.
        {Body(kGranite, 1.0f, 300.0f, 2, 2, 1, 1), "Size zero building"},
        {Body(kGranite, 1.0f, -1.0f, 0, 0, 1, 1), "Invalid temperature passed into BuildingHeatExchange"},
        {Body(kGranite, 1.0f, 10001.0f, 0, 0, 1, 1), "Invalid temperature"},
        // Off the grid, the step would read cells that do not exist.
        {Body(kGranite, 1.0f, 300.0f, 3, 0, 5, 1), "outside the host grid"},
        {Body(kGranite, 1.0f, 300.0f, 0, -1, 1, 1), "outside the host grid"},
        // Sides of 2^32 - 1 cells: their product is beyond 64 bits.
        {Body(kGranite, 1.0f, 300.0f, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), "outside the host grid"},
    };
    for (const auto& [body, report] : refused) {
        ClearReports();
        EXPECT_FALSE(ts::BuildingHeatExchange::BuildRecord(*world, body)) << report;
        EXPECT_TRUE(Reported(report)) << report;
    }
    EXPECT_TRUE(ts::BuildingHeatExchange::BuildRecord(*world, Body(kGranite, 12.0f, 300.0f, 0, 0, 4, 3)));
}

TEST_F(BuildingTest, HeatTakenFromCellsEqualsHeatGained) {
    Make(3, 2, kGranite, 300.0f, 2.0f);
    T(0, 0) = 250.0f;
    T(1, 0) = 320.0f;
    M(2, 0) = 5.0f;
    T(2, 0) = 340.0f;
    E(0, 1) = kOxygen;
    T(0, 1) = 420.0f;
    Insulation(1, 1) = 128;
    world->frameParameters.buildingExchangeRate = 20.0f;
    const uint32_t h = Add(Body(kGranite, 30.0f, 500.0f, 0, 0, 3, 2));
    auto cells = [&] {
        double sum = 0.0;
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x) sum += Heat(x, y);
        return sum;
    };
    const double cellsBefore = cells();
    const double buildingBefore = 0.79 * 30.0 * 500.0;
    for (int i = 0; i < 10; ++i) Step();
    const double taken = cellsBefore - cells();
    const double gained = 0.79 * 30.0 * double(Building(h).temperature) - buildingBefore;
    ASSERT_GT(std::fabs(gained), 300.0);
    EXPECT_NEAR(taken, gained, 1e-5 * std::fabs(gained));
}

TEST_F(BuildingTest, CoveredCellsChangePhaseAndRemovalIsOnce) {
    Make(2, 1, kIce, 265.0f, 1.0f);
    world->frameParameters.buildingExchangeRate = 1e6f;
    const uint32_t h = Add(Body(kGranite, 1000.0f, 400.0f, 0, 0, 1, 1));
    const uint32_t other = Add(Body(kGranite, 1.0f, 300.0f, 1, 0, 2, 1));
    Step();
    EXPECT_EQ(E(0, 0), kWater);  // melted past 272.5 + 3 K in the same step
    ASSERT_EQ(world->outputCollector.changedCells.size(), 1u);
    EXPECT_EQ(world->outputCollector.changedCells[0].gameCell, 0);
    buildings().RemoveBuilding(h);
    EXPECT_FALSE(buildings().IsLive(h));
    // (The output marked for the removal is the end-to-end components test's.)
    buildings().RemoveBuilding(h);  // twice: refused
    EXPECT_TRUE(Reported("not live"));
    EXPECT_TRUE(buildings().IsLive(other));
}

}  // namespace
}  // namespace tstest
