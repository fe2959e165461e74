// Components on an in-process world: buildings over rectangles of cells (the
// exchange with each covered cell, their own production, the three report
// lists, energy messages and bad records); loose items of matter; intakes,
// outlets and germ sources; and the conduit temperature manager through its
// exports.
#include <cmath>
#include <tuple>

#include "conduittemperaturemanager/conduittemperaturemanager.h"
#include "simlib/components/buildingheatexchange.h"
#include "simlib/components/diseaseemitter.h"
#include "simlib/components/elementchunk.h"
#include "simlib/components/massconsumer.h"
#include "simlib/components/massemitter.h"
#include "unit/componentworld.h"
#include "unit/inprocesshost.h"

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

TEST_F(BuildingTest, NoCellIsLeftWithMassAt0K) {
    // A heavy building at 0 K drained a light cell under it to 0 K (the mixed
    // temperature, 3e-40 K, is flushed to zero on the sim thread).
    SimThreadFloatMode floatMode;
    Make(1, 1, kGranite, 300.0f, 1e-12f);
    world->frameParameters.buildingExchangeRate = 1e6f;
    Add(Body(kGranite, 1e30f, 0.0f, 0, 0, 1, 1));
    Step();
    EXPECT_EQ(T(0, 0), 300.0f);
    EXPECT_TRUE(Reported("BuildingHeatExchange has generated invalid final temperature of 0.000000"));
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

// Loose items of matter: exchange with their cell, with a solid floor and
// with a storage; what they report; energy bookkeeping.
struct ChunkTest : ComponentWorld {
    uint32_t AddChunk(int32_t x, int32_t y, uint8_t element, float mass, float t, float scale = 1.0f,
                      float floorScale = 1.0f) {
        const AddElementChunkPayload m{y * world->gameWidth() + x, 0, mass, t, scale, 1.0f, floorScale, element, {}};
        return chunks().Add(ts::ElementChunk::BuildRecord(*world, m));
    }
    ts::ElementChunk& chunks() { return Component<ts::ElementChunk>(); }
    ts::ElementChunkRecord& Chunk(uint32_t h) { return *chunks().Get(h); }
    ElementChunkOutput Output(uint32_t h) { return chunks().outputs[ts::handle::Index(h)]; }
    void Step() { chunks().Simulate(0.2f, *world); }
};

TEST_F(ChunkTest, ConductionBetweenTwoBodies) {
    // Equal temperatures: nothing moves.
    const ts::Conduction same = ts::ConductTemperature(0.2f, 1.0f, 300.0f, 2.0f, 1.0f, 1.0f, 300.0f, 3.0f, 1.0f, 1.0f);
    EXPECT_EQ(same.energy, 0.0f);
    EXPECT_EQ(same.f1, 300.0f);
    EXPECT_EQ(same.f2, 300.0f);
    // A hot chunk: Q = 100 K x min(0.5 x 0.25, 2) x 4 x 0.2 x 0.001 = 0.01 kJ into body 1.
    const ts::Conduction hot = ts::ConductTemperature(0.2f, 4.0f, 300.0f, 2.0f, 0.5f, 0.25f, 400.0f, 5.0f, 2.0f, 1.0f);
    // (Temperatures near 300 K carry about 3e-5 K of rounding.)
    EXPECT_NEAR(hot.energy, -0.01f, 1e-4f);
    EXPECT_NEAR(hot.f1, 300.0f + 0.01f / 2.0f, 3e-5f);
    EXPECT_NEAR(hot.f2, 400.0f - 0.01f / 5.0f, 3e-5f);
    // A fast exchange stops at the mixed temperature: (1 x 300 + 3 x 400) / 4.
    const ts::Conduction fast = ts::ConductTemperature(0.2f, 1e6f, 300.0f, 1.0f, 1.0f, 1.0f, 400.0f, 3.0f, 1.0f, 1.0f);
    EXPECT_FLOAT_EQ(fast.f1, 375.0f);
    EXPECT_FLOAT_EQ(fast.f2, 375.0f);
    EXPECT_FLOAT_EQ(fast.energy, -75.0f);
    EXPECT_TRUE(fast.valid);
}

TEST_F(ChunkTest, LightChunkStorageAndFloor) {
    Make(3, 3, kOxygen, 300.0f, 0.01f);
    E(1, 0) = kGranite;
    M(1, 0) = 1.0f;
    // Too light to count: heat capacity 0, no exchange, temperature still reported.
    const uint32_t light = AddChunk(0, 2, kGranite, 0.0009f, 400.0f);
    EXPECT_EQ(Chunk(light).heatCapacity, 0.0f);
    // In storage: follows the storage only.
    const uint32_t stored = AddChunk(2, 2, kGranite, 10.0f, 400.0f);
    Chunk(stored).storageTemperature = 300.0f;
    Chunk(stored).storageHeatCapacity = 100.0f;
    Chunk(stored).storageConductivity = 1.0f;
    // On the granite floor: its own cell and the floor.
    const uint32_t onFloor = AddChunk(1, 1, kGranite, 10.0f, 400.0f, 10.0f);
    Step();

    EXPECT_EQ(T(0, 2), 300.0f);
    EXPECT_EQ(Output(light).temperature, 400.0f);
    EXPECT_EQ(Output(light).energy, 0.0f);

    EXPECT_EQ(T(2, 2), 300.0f);
    EXPECT_EQ(Chunk(stored).storageTemperature, 300.0f);
    EXPECT_FLOAT_EQ(Output(stored).temperature, 400.0f - 0.02f / 7.9f);  // 100 K x 1 x 0.2 x 0.001
    EXPECT_EQ(Output(stored).energy, 0.0f);

    const double cellGain = 0.01 * 1.005 * (double(T(1, 1)) - 300.0);
    const double floorGain = 1.0 * 0.79 * (double(T(1, 0)) - 300.0);
    EXPECT_GT(cellGain, 0.0);
    EXPECT_GT(floorGain, 0.0);
    const double reported = -double(Output(onFloor).energy);  // the chunk gave heat: negative intake
    EXPECT_NEAR(reported, cellGain + floorGain, 1e-4 * reported);
    EXPECT_NEAR(7.9 * (400.0 - double(Chunk(onFloor).temperature)), reported, 1e-3 * reported);
    EXPECT_EQ(Output(onFloor).temperature, Chunk(onFloor).temperature);

    // Energy adds up over the frame's steps (the publication's reset is the
    // end-to-end components test's).
    const float afterOne = Output(onFloor).energy;
    Step();
    EXPECT_LT(Output(onFloor).energy, afterOne);
}

TEST_F(ChunkTest, HeatTakenFromCellsEqualsHeatGained) {
    Make(3, 3, kWater, 300.0f, 1.0f);
    E(1, 0) = kGranite;
    T(1, 0) = 250.0f;
    const uint32_t h = AddChunk(1, 1, kGranite, 1.0f, 1000.0f, 1e4f, 0.5f);
    double before = Heat(1, 1) + Heat(1, 0);
    const double chunkBefore = 0.79 * 1000.0;
    double reported = 0.0;
    for (int i = 0; i < 10; ++i) {
        Step();
        reported += double(Output(h).energy);
        chunks().Publish(*world);
    }
    const double cellsGained = before - (Heat(1, 1) + Heat(1, 0));  // taken from the cells
    const double chunkGained = 0.79 * double(Chunk(h).temperature) - chunkBefore;
    ASSERT_GT(std::fabs(chunkGained), 100.0);
    EXPECT_NEAR(cellsGained, chunkGained, 1e-5 * std::fabs(chunkGained));
    EXPECT_NEAR(reported, chunkGained, 1e-5 * std::fabs(chunkGained));
    // The water passed its boiling point without a phase check here.
    EXPECT_EQ(E(1, 1), kWater);
}

TEST_F(ChunkTest, BadBodiesAreLoggedAndLeftAlone) {
    elements.records[kIce].specificHeatCapacity = 0.0f;  // a cell without heat capacity
    Make(4, 1, kOxygen, 300.0f, 1.0f);
    E(0, 0) = kIce;
    const uint32_t a = AddChunk(0, 0, kGranite, 1.0f, 400.0f);
    const uint32_t hot = AddChunk(1, 0, kGranite, 1.0f, 20000.0f);
    T(2, 0) = 12000.0f;
    const uint32_t c = AddChunk(2, 0, kGranite, 1.0f, 400.0f);
    // A chunk with heat capacity at 0 K drained its cell to 0 K.
    const uint32_t frozen = AddChunk(3, 0, kGranite, 1e30f, 0.0f, 1e6f);
    Step();
    EXPECT_EQ(T(3, 0), 300.0f);
    EXPECT_EQ(Chunk(frozen).temperature, 0.0f);
    // Outputs outside their interval would have written NaN into the cell.
    EXPECT_EQ(T(0, 0), 300.0f);
    EXPECT_EQ(Chunk(a).temperature, 400.0f);
    EXPECT_EQ(Output(a).energy, 0.0f);
    EXPECT_EQ(Chunk(hot).temperature, 20000.0f);
    EXPECT_EQ(T(1, 0), 300.0f);
    EXPECT_EQ(Chunk(c).temperature, 400.0f);
    // Each reaches the host as a warning.
    EXPECT_TRUE(Reported("ElementChunk ConductTemperature produced invalid outputs.\nInputs: dt=0.200000, "
                         "scale=1.000000\nT1=300.000000, HC1=0.000000"));
    EXPECT_TRUE(Reported("ElementChunk bad item temperature: 20000.000000. Cell T=300.000000"));
    EXPECT_TRUE(Reported("ElementChunk bad item temperature: 0.000000. Cell T=300.000000"));
    EXPECT_TRUE(Reported("ElementChunk bad src cell T=12000.000000, HC=1.005000, Item T=400.000000, HC=0.790000"));
}

TEST_F(ChunkTest, ReachingHighTempIsAnEvent) {
    Make(2, 2, kWater, 280.0f, 1.0f);
    const uint32_t ice = AddChunk(0, 1, kIce, 1.0f, 270.0f);  // ice melts at 272.5 K
    const uint32_t cold = AddChunk(1, 1, kIce, 1.0f, 250.0f, 1e-3f);
    Step();
    EXPECT_GT(Chunk(ice).temperature, 270.0f);
    EXPECT_TRUE(world->outputCollector.elementChunkEvents.empty());
    Chunk(ice).temperature = 272.5f;
    Step();
    ASSERT_EQ(world->outputCollector.elementChunkEvents.size(), 1u);
    EXPECT_EQ(world->outputCollector.elementChunkEvents[0], ice);
    EXPECT_LT(Chunk(cold).temperature, 272.5f);
}

// Intakes, outlets and germ sources: what they take from and put into the
// cells around them, their timers and their callbacks.
constexpr uint8_t kBrine = kStandardCount;  // a second liquid, added by the emitter tests

struct ConsumerTest : ComponentWorld {
    ts::MassConsumer& consumers() { return Component<ts::MassConsumer>(); }
    uint32_t AddConsumer(int32_t x, int32_t y, uint8_t radius, uint8_t mode, uint8_t element, float rate) {
        const AddMassConsumerPayload m{y * world->gameWidth() + x, 0, radius, mode, element, 0};
        const uint32_t h = consumers().Add(ts::MassConsumer::BuildRecord(*world, m));
        consumers().Modify(*world, h, m.gameCell, rate);
        return h;
    }
    void Step() { consumers().Simulate(0.2f, *world); }
};

TEST_F(ConsumerTest, TakesFromTheNearestCellsFirst) {
    Make(4, 1, kWater, 300.0f, 1.5f);
    M(1, 0) = 1.0f;
    T(1, 0) = 350.0f;
    E(2, 0) = kGranite;
    auto& u = world->updatedCells;
    u.diseaseIdx[size_t(Sim(0, 0))] = 0;
    u.diseaseCount[size_t(Sim(0, 0))] = 100;
    u.diseaseIdx[size_t(Sim(1, 0))] = 0;
    u.diseaseCount[size_t(Sim(1, 0))] = 50;
    const uint32_t h = AddConsumer(0, 0, 3, ts::MassConsumer::kFixedElement, kWater, 10.0f);  // 2 kg per step
    Step();
    ASSERT_EQ(consumers().outputs.size(), 1u);
    const MassConsumerOutput out = consumers().outputs[0];
    // Germs go with the mass taken: all 100 of the first cell, 25 of the second.
    EXPECT_EQ(std::tuple(out.handle, out.mass, out.temperature, int(out.diseaseIdx), out.diseaseCount),
              std::tuple(h, 2.0f, (1.5f * 300.0f + 0.5f * 350.0f) / 2.0f, 0, 100 + 25));
    EXPECT_EQ(E(0, 0), kVacuum);
    EXPECT_FLOAT_EQ(M(1, 0), 0.5f);
    EXPECT_EQ(u.diseaseCount[size_t(Sim(1, 0))], 25);
    ASSERT_EQ(world->outputCollector.changedCells.size(), 1u);
    EXPECT_EQ(world->outputCollector.changedCells[0].gameCell, 0);
    // The granite wall stops the walk: the water behind it is out of reach
    // (the 0.5 kg left, then nothing, is the end-to-end components test's).
    Step();
    Step();
    EXPECT_EQ(M(3, 0), 1.5f);
}

TEST_F(ConsumerTest, AnyLiquidOrGasModes) {
    Make(3, 2, kOxygen, 300.0f, 1.0f);
    E(0, 0) = kGranite;
    const uint32_t liquid = AddConsumer(1, 0, 2, ts::MassConsumer::kAnyLiquid, 255, 1.0f);
    for (int i = 0; i < 3; ++i) Step();
    // Only gas and solid in reach: nothing taken, nothing reported, the start kept.
    EXPECT_TRUE(consumers().outputs.empty());
    EXPECT_EQ(consumers().Get(liquid)->nextStart, 0);
    EXPECT_EQ(M(1, 0), 1.0f);
    E(2, 0) = kWater;
    M(2, 0) = 10.0f;
    Step();
    ASSERT_EQ(consumers().outputs.size(), 1u);
    EXPECT_EQ(consumers().outputs[0].elementIdx, kWater);
    EXPECT_FLOAT_EQ(M(2, 0), 9.8f);
    EXPECT_EQ(consumers().Get(liquid)->nextStart, 1);
    EXPECT_EQ(M(1, 0), 1.0f);

    consumers().outputs.clear();
    const uint32_t gas = AddConsumer(1, 1, 1, ts::MassConsumer::kAnyGas, 255, 2.0f);
    Step();
    ASSERT_EQ(consumers().outputs.size(), 2u);
    EXPECT_EQ(consumers().outputs[1].handle, gas);
    EXPECT_EQ(consumers().outputs[1].elementIdx, kOxygen);
    EXPECT_FLOAT_EQ(M(1, 1), 0.6f);
}

struct EmitterTest : ComponentWorld {
    void SetUp() override {
        ComponentWorld::SetUp();
        elements.records.push_back(Element(0x1007, SIM_STATE_LIQUID, 3.0f, 0.5f));
        elements.elementNames.push_back("Brine");
        elements.records[kWater].defaultTemperature = 290.0f;
    }
    ts::MassEmitter& emitters() { return Component<ts::MassEmitter>(); }
    // An outlet with room up to 100 kg per cell.
    void Set(uint32_t h, int32_t x, int32_t y, uint8_t element, float mass, float t, float interval = 0.0f,
             uint8_t radius = 1) {
        emitters().Modify(*world, ModifyMassEmitterPayload{h, y * world->gameWidth() + x, interval, mass, t, 100.0f,
                                                           0, element, radius, 255, 0});
    }
    uint32_t AddEmitter(int32_t x, int32_t y, uint8_t element, float mass, float t, float interval = 0.0f,
                        uint8_t radius = 1) {
        const uint32_t h = emitters().Add(
            ts::MassEmitter::BuildRecord(AddMassEmitterPayload{1.0f, 0, SIM_NO_CALLBACK, SIM_NO_CALLBACK}));
        Set(h, x, y, element, mass, t, interval, radius);
        return h;
    }
    MassEmitterOutput Output(uint32_t h) { return emitters().outputs[ts::handle::Index(h)]; }
    void Step() { emitters().Simulate(0.2f, *world); }
};

// Blocked and unblocked, each reported once, are the end-to-end components test's.
TEST_F(EmitterTest, TimerAndPlacementByState) {
    Make(4, 3, kVacuum, 0.0f, 0.0f);
    AddEmitter(0, 0, kWater, 2.0f, -1.0f, 0.4f);  // the element's default temperature
    Step();
    Step();
    EXPECT_EQ(E(0, 0), kVacuum);  // the timer reaches 0.4 s at the third step
    Step();
    EXPECT_EQ(M(0, 0), 2.0f);
    EXPECT_EQ(T(0, 0), 290.0f);

    // A liquid outlet pushes another liquid out of its cell first.
    E(2, 0) = kBrine;
    T(2, 0) = 300.0f;
    M(2, 0) = 5.0f;
    AddEmitter(2, 0, kWater, 1.0f, 320.0f);
    Step();
    EXPECT_EQ(E(2, 0), kWater);
    EXPECT_EQ(M(2, 0), 1.0f);
    EXPECT_EQ(E(1, 0), kBrine);  // pushed aside
    EXPECT_GT(M(1, 0), 0.0f);

    // A gas outlet clears another gas out of the way.
    E(1, 2) = kSteam;
    T(1, 2) = 400.0f;
    M(1, 2) = 0.5f;
    AddEmitter(1, 2, kOxygen, 0.3f, 300.0f);
    Step();
    EXPECT_EQ(E(1, 2), kOxygen);
    EXPECT_FLOAT_EQ(M(1, 2), 0.3f);
    float steam = 0.0f;
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            if (E(x, y) == kSteam) steam += M(x, y);
    EXPECT_EQ(steam, 0.5f);

    // A solid leaves as items where release is permitted; the cells keep their content.
    std::fill(world->releasePermit.begin(), world->releasePermit.end(), uint8_t(1));
    world->releasePermit[size_t(1 * 4 + 3)] = 0;
    const uint32_t sand = AddEmitter(3, 1, kGranite, 4.0f, 350.0f, 0.0f, 2);
    world->outputCollector.emittedMatter.clear();
    Step();
    // Found: (3,1), (3,0), (2,1), (3,2); the outlet's own cell holds no permit.
    ASSERT_EQ(world->outputCollector.emittedMatter.size(), 3u);
    for (const MatterEntry& e : world->outputCollector.emittedMatter) {
        EXPECT_EQ(e.elementIdx, kGranite);
        EXPECT_EQ(float(e.mass), 4.0f);
        EXPECT_NE(e.gameCell, 1 * 4 + 3);
    }
    EXPECT_EQ(Output(sand).mass, 0.0f);
}

TEST_F(EmitterTest, OneElementPerFrame) {
    Make(3, 1, kVacuum, 0.0f, 0.0f);
    const uint32_t h = AddEmitter(0, 0, kWater, 1.0f, 300.0f);
    Step();
    EXPECT_EQ(Output(h).elementIdx, kWater);
    // Switched to brine within the frame: the output already speaks for water.
    Set(h, 1, 0, kBrine, 1.0f, 300.0f);
    Step();
    EXPECT_EQ(E(1, 0), kVacuum);
    // Once the frame's publication has zeroed the output, the outlet emits its new element.
    for (MassEmitterOutput& out : emitters().outputs) out.mass = out.temperature = 0.0f;
    Step();
    EXPECT_EQ(E(1, 0), kBrine);
    EXPECT_EQ(Output(h).elementIdx, kBrine);
    EXPECT_EQ(Output(h).mass, 1.0f);
    // (An outlet emitting nothing is the end-to-end components test's.)
    emitters().Publish(*world);
    EXPECT_EQ(Output(h).elementIdx, 255);
    EXPECT_EQ(Output(h).always255, 255);
}

using DiseaseEmitterTest = ComponentWorld;

TEST_F(DiseaseEmitterTest, SharesAndRemainder) {
    Make(3, 1, kOxygen, 300.0f, 1.0f);
    auto& emitters = Component<ts::DiseaseEmitter>();
    const uint32_t h = emitters.Add(ts::DiseaseEmitter::BuildRecord());
    const uint32_t idle = emitters.Add(ts::DiseaseEmitter::BuildRecord());
    emitters.Modify(*world, ModifyDiseaseEmitterPayload{h, 0, 1, 3, {}, 0.4f, 10});
    auto count = [&](int32_t x) { return world->updatedCells.diseaseCount[size_t(Sim(x, 0))]; };
    emitters.Simulate(0.2f, *world);
    EXPECT_EQ(count(0), 0);
    emitters.Simulate(0.2f, *world);
    emitters.Simulate(0.2f, *world);  // timer 0.4 s: one emission
    EXPECT_EQ(count(0), 4);
    EXPECT_EQ(count(1), 3);
    EXPECT_EQ(count(2), 3);
    EXPECT_EQ(world->updatedCells.diseaseIdx[size_t(Sim(2, 0))], 1);
    // Without germs the timer stands still.
    EXPECT_EQ(emitters.Get(idle)->timer, 0.0f);
    ASSERT_EQ(emitters.outputs.size(), 2u);
    EXPECT_EQ(emitters.outputs[1].always255, 255);
}

// The conduit temperature manager through its exports, in-process: the
// exchange with pipe buildings, the energy it queues for them, the freeze and
// boil lists, delayed removals and bad input.
constexpr uint32_t kWaterId = 0x1002;

class Conduits : public InProcessHost {
protected:
    void SetUp() override {
        InProcessHost::SetUp();
        // Water with unit heat capacity and conductivity keeps the numbers plain.
        elements.records[kWater].specificHeatCapacity = 1.0f;
        elements.records[kWater].thermalConductivity = 1.0f;
        elements.records[kWater].defaultTemperature = 300.0f;
        LoadTables(elements);
        ConduitTemperatureManager_Initialize();
    }
    void TearDown() override {
        ConduitTemperatureManager_Shutdown();
        InProcessHost::TearDown();
    }
    // What the manager queued into the frame the host is filling.
    static std::vector<ModifyBuildingEnergyPayload> Queued() {
        ts::MessageQueue& q = ts::GetRuntime().simThread->frameManager().currentFrame().queue(ts::kModifyBuildingEnergy);
        std::vector<ModifyBuildingEnergyPayload> out;
        for (size_t i = 0; i < q.count(); ++i) out.push_back(q.Get<ModifyBuildingEnergyPayload>(i));
        return out;
    }
    static uint32_t Add(float t, uint32_t building, float buildingHeatCapacity = 10.0f,
                        float buildingConductivity = 0.1f, uint8_t useLower = 0) {
        return ConduitTemperatureManager_Add(t, 1.0f, kWaterId, building, buildingHeatCapacity, buildingConductivity,
                                             useLower);
    }
};

TEST_F(Conduits, ExchangeWithThePipeBuilding) {
    Add(310.0f, 0x00000000u, 10.0f, 0.1f, 1);                         // k = min(1, 0.1)
    const uint32_t mean = Add(310.0f, 0x00000001u, 10.0f, 0.1f, 0);   // k = (1 + 0.1) / 2
    const uint32_t loose = Add(310.0f, SIM_NO_HANDLE);
    EXPECT_EQ(loose, 2u);
    const BuildingOutputEntry buildings[2] = {{0x00000000u, 300.0f}, {0x00000001u, 300.0f}};
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, buildings);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->temperatureCount, 3);
    // k x 10 K x 50 x 1 s x 0.001 leaves the packet: 0.05 and 0.275 kJ.
    EXPECT_NEAR(r->temperatures[0], 310.0f - 0.05f, 1e-3f);
    EXPECT_NEAR(r->temperatures[1], 310.0f - 0.275f, 1e-3f);
    EXPECT_EQ(r->temperatures[2], 0.0f);  // no building: neither simulated nor written
    const auto queued = Queued();
    ASSERT_EQ(queued.size(), 2u);
    const ModifyBuildingEnergyPayload first = queued[0], second = queued[1];
    EXPECT_NEAR(first.kilojoules, 0.05f, 1e-3f);
    EXPECT_EQ(first.minTemperature, 300.0f);
    EXPECT_EQ(first.maxTemperature, 310.0f);
    EXPECT_EQ(second.handle, 0x00000001u);
    EXPECT_NEAR(second.kilojoules, 0.275f, 1e-3f);

    // A fast exchange stops where both meet, weighted by heat capacity.
    ConduitTemperatureManager_Set(mean, 310.0f, 1.0f, kWaterId);
    r = ConduitTemperatureManager_Update(1000.0f, buildings);
    EXPECT_NEAR(r->temperatures[1], (310.0f + 10.0f * 300.0f) / 11.0f, 1e-3f);
    // A building that reports no temperature: the packet keeps its own.
    const BuildingOutputEntry cold[2] = {{0x00000000u, 0.0f}, {0x00000001u, -1.0f}};
    const float kept = r->temperatures[0];
    r = ConduitTemperatureManager_Update(1.0f, cold);
    EXPECT_EQ(r->temperatures[0], kept);
    // Without building temperatures every packet is reported as it is.
    r = ConduitTemperatureManager_Update(1.0f, nullptr);
    EXPECT_EQ(r->temperatures[2], 310.0f);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Conduits, FreezeAndBoilLists) {
    // Water freezes at 272.5 K and boils at 372.5 K, with 3 K to spare.
    Add(272.5f - 2.9f, 0);
    const uint32_t b = Add(272.5f - 3.1f, 1);
    Add(372.5f + 2.9f, 2);
    const uint32_t d = Add(372.5f + 3.1f, 3);
    // Slot 1 comes back with version 1: the lists name slots, not handles.
    ConduitTemperatureManager_Remove(b);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    const uint32_t b2 = Add(272.5f - 3.1f, 1);
    EXPECT_EQ(b2, 0x01000001u);
    // Each building at its packet's temperature: nothing moves.
    const BuildingOutputEntry buildings[4] = {
        {0, 272.5f - 2.9f}, {1, 272.5f - 3.1f}, {2, 372.5f + 2.9f}, {3, 372.5f + 3.1f}};
    const UpdateResult* r = ConduitTemperatureManager_Update(0.2f, buildings);
    ASSERT_EQ(r->frozenCount, 1);
    EXPECT_EQ(r->frozenEntries[0], 1u);
    ASSERT_EQ(r->boiledCount, 1);
    EXPECT_EQ(r->boiledEntries[0], ts::handle::Index(d));
    EXPECT_TRUE(Queued().empty());
    // The lists describe the last update only.
    r = ConduitTemperatureManager_Update(0.2f, nullptr);
    EXPECT_EQ(r->frozenCount, 0);
    EXPECT_EQ(r->frozenEntries, nullptr);
}

TEST_F(Conduits, RemovalWaitsForTheSecondPass) {
    const uint32_t a = Add(310.0f, 0);
    Add(310.0f, 1);
    ConduitTemperatureManager_Remove(a);
    // Detached at once: no exchange, no temperature written.
    const BuildingOutputEntry buildings[2] = {{0, 300.0f}, {1, 300.0f}};
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, buildings);
    EXPECT_EQ(r->temperatures[0], 0.0f);
    EXPECT_EQ(Queued().size(), 1u);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    EXPECT_EQ(Add(300.0f, 2), 2u);  // slot 0 still out of use
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    EXPECT_EQ(Add(300.0f, 3), 0x01000000u);  // now reused, one version on
    // A handle removed twice is refused when its turn comes, and harms nothing.
    ConduitTemperatureManager_Remove(0x00000002u);
    ConduitTemperatureManager_Remove(0x00000002u);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    EXPECT_TRUE(Reported("is not live"));
    ConduitTemperatureManager_Remove(0x00000002u);  // stale now
    EXPECT_TRUE(Reported("Assert failed: IsLive(handle)"));
    r = ConduitTemperatureManager_Update(1.0f, nullptr);
    EXPECT_EQ(r->temperatures[0], 300.0f);  // the entry that reused slot 0
    EXPECT_NEAR(r->temperatures[1], 310.0f - 0.275f, 1e-3f);
}

TEST_F(Conduits, ClearForgetsPendingRemovals) {
    const uint32_t a = Add(310.0f, 0);
    ConduitTemperatureManager_Remove(a);
    ConduitTemperatureManager_Clear();
    const uint32_t fresh = Add(280.0f, 0);
    EXPECT_EQ(fresh, a);  // the same handle value, for a new entry
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    ts::RunConduitRemovalPass(ts::GetRuntime().conduits);
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, nullptr);
    ASSERT_EQ(r->temperatureCount, 1);
    EXPECT_EQ(r->temperatures[0], 280.0f);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Conduits, BadInput) {
    // Too hot: logged and replaced by the element's default temperature.
    const uint32_t hot = Add(20000.0f, 0);
    ASSERT_NE(hot, SIM_NO_HANDLE);
    EXPECT_EQ(ConduitTemperatureManager_Update(1.0f, nullptr)->temperatures[0], 300.0f);
    // An element the table does not hold gives no handle.
    EXPECT_EQ(ConduitTemperatureManager_Add(300.0f, 1.0f, 0xBAD, 0, 1.0f, 1.0f, 0), SIM_NO_HANDLE);
    EXPECT_TRUE(Reported("element id 0x00000bad is not in the element table"));
    EXPECT_EQ(ConduitTemperatureManager_Add(-5.0f, 1.0f, kWaterId, 0, 1.0f, 1.0f, 0), SIM_NO_HANDLE);
    EXPECT_TRUE(Reported("Assert failed: contents_mass == 0.0f || 0.0f <= contents_temperature"));
    // Set keeps the building fields and refuses what Add would repair.
    ConduitTemperatureManager_Set(hot, 320.0f, 2.0f, kWaterId);
    ConduitTemperatureManager_Set(hot, 20000.0f, 2.0f, kWaterId);
    EXPECT_TRUE(Reported("Assert failed: contents_temperature <= SIM_MAX_TEMPERATURE"));
    ConduitTemperatureManager_Set(0x05000000u, 320.0f, 2.0f, kWaterId);
    const UpdateResult* r = ConduitTemperatureManager_Update(1.0f, nullptr);
    ASSERT_EQ(r->temperatureCount, 1);
    EXPECT_EQ(r->temperatures[0], 320.0f);
    EXPECT_TRUE(Reported("Contents have invalid temperature 20000.000000. Resetting to default."));
    EXPECT_TRUE(Reported("ConduitTemperatureManager::Set called with bad handle: V=5, Idx=0, ArraySize=1"));
    // Without a manager nothing is done and nothing is returned.
    ConduitTemperatureManager_Shutdown();
    EXPECT_EQ(Add(300.0f, 0), SIM_NO_HANDLE);
    EXPECT_EQ(ConduitTemperatureManager_Update(1.0f, nullptr), nullptr);
    ConduitTemperatureManager_Initialize();
}

}  // namespace
}  // namespace tstest
