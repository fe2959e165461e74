// Loose items of matter: exchange with their cell, with a solid floor and
// with a storage; what they report; energy bookkeeping.
#include <cmath>

#include "simlib/components/elementchunk.h"
#include "unit/componentworld.h"

namespace tstest {
namespace {

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
    Make(3, 1, kOxygen, 300.0f, 1.0f);
    E(0, 0) = kIce;
    const uint32_t a = AddChunk(0, 0, kGranite, 1.0f, 400.0f);
    const uint32_t hot = AddChunk(1, 0, kGranite, 1.0f, 20000.0f);
    T(2, 0) = 12000.0f;
    const uint32_t c = AddChunk(2, 0, kGranite, 1.0f, 400.0f);
    Step();
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

}  // namespace
}  // namespace tstest
