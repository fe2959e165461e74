// Intakes, outlets and germ sources: what they take from and put into the
// cells around them, their timers and their callbacks.
#include <tuple>

#include "simlib/components/diseaseemitter.h"
#include "simlib/components/massconsumer.h"
#include "simlib/components/massemitter.h"
#include "unit/componentworld.h"

namespace tstest {
namespace {

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

}  // namespace
}  // namespace tstest
