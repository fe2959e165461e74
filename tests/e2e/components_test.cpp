// Host objects on the grid through the loaded library, where the in-process
// component tests do not reach: one frame's adds and removes, reserved
// components, each frame's results, limits at their edges,
// and the conduit manager's removals done by the sim thread.
#include <cmath>

#include "e2e/hostfixture.h"

namespace tstest {
namespace {

class Components : public SampleHost {
protected:
    void SetUp() override {
        SampleHost::SetUp();
        StillGerms();  // an emitter's germs stay as given
        lib().ConduitTemperatureManager_Initialize();
    }
    void TearDown() override {
        lib().ConduitTemperatureManager_Shutdown();
        SampleHost::TearDown();
    }
    template <class T>
    void Send(uint32_t id, const T& payload) {
        lib().Send(id, payload);
    }
    void AddChunk(int32_t x, int32_t y, uint32_t callbackId) {
        Send(SIM_MSG_ADD_ELEMENT_CHUNK,
             tshost::AddElementChunk(Cell(x, y), callbackId, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    }
    static uint32_t HandleOf(const tshost::FrameResultsView& r, uint32_t callbackId) {
        for (const ComponentCallbackEntry& e : r.componentCallbacks())
            if (e.callbackId == callbackId) return e.handle;
        ADD_FAILURE() << "no callback " << callbackId;
        return SIM_NO_HANDLE;
    }
    void NoConduction(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) Send(SIM_MSG_SET_CELL_INSULATION, tshost::SetCellInsulation(Cell(x, y), 0.0f));
    }
};

TEST_F(Components, HandlesAcrossOneFramesAddsAndRemoves) {
    LoadTables();
    Load(tshost::WorldLayout(6, 4, tshost::Matter(E("Oxygen"), 300.0f, 1.0f)));
    AddChunk(1, 1, 1);
    AddChunk(2, 1, 2);
    auto r = RunFrame(0.0f);
    const uint32_t first = HandleOf(r, 1);
    EXPECT_EQ(first, 0x00000000u);
    EXPECT_EQ(HandleOf(r, 2), 0x00000001u);
    // Adds come before removes within a frame: the add cannot take the slot
    // that the remove frees.
    Send(SIM_MSG_REMOVE_ELEMENT_CHUNK, tshost::RemoveElementChunk(first, 3));
    AddChunk(3, 1, 4);
    r = RunFrame(0.0f);
    std::vector<std::pair<uint32_t, uint32_t>> callbacks;
    for (const ComponentCallbackEntry& e : r.componentCallbacks()) callbacks.emplace_back(e.callbackId, e.handle);
    EXPECT_EQ(callbacks, (std::vector<std::pair<uint32_t, uint32_t>>{{4u, 0x00000002u}, {3u, SIM_NO_HANDLE}}));
    Send(SIM_MSG_REMOVE_ELEMENT_CHUNK, tshost::RemoveElementChunk(first, 6));
    r = RunFrame(0.0f);
    EXPECT_EQ(r.elementChunkOutputs().size(), 3u);
    EXPECT_TRUE(ReportRecorder::Saw("not live"));

    // Reserved components: a slot freed in one frame is handed out, one
    // version on, by the next frame of the same cycle.
    Send(SIM_MSG_ADD_RESERVED_COMPONENT, tshost::AddReservedComponent(100));
    const uint32_t reserved = HandleOf(RunFrame(0.0f), 100);
    EXPECT_EQ(reserved, 0x00000000u);
    Send(SIM_MSG_REMOVE_RESERVED_COMPONENT, tshost::RemoveReservedComponent(reserved, SIM_NO_CALLBACK));
    EndFrame(0.0f);
    Send(SIM_MSG_ADD_RESERVED_COMPONENT, tshost::AddReservedComponent(101));
    r = RunFrame(0.0f);
    EXPECT_EQ(HandleOf(r, 101), 0x01000000u);
    EXPECT_TRUE(r.reservedComponentOutputs().empty());
}

// What each cycle publishes: an intake's and an outlet's results, the
// outlet's blocked and unblocked callbacks (each once), an item's energy
// (never the sum of two cycles), and a removed building's output (marked
// once, then zeroed).
TEST_F(Components, ResultsBelongToTheirFrame) {
    LoadTables();
    // Row 1 between granite rows: water | water | granite | oxygen | granite | oxygen | granite x 2.
    tshost::WorldLayout world(8, 3, tshost::Matter(E("Granite"), 300.0f, 100.0f));
    world.at(0, 1) = tshost::Matter(E("Water"), 300.0f, 1.5f);
    world.at(1, 1) = tshost::Matter(E("Water"), 350.0f, 1.0f);
    world.at(3, 1) = tshost::Matter(E("Oxygen"), 300.0f, 1.0f);
    world.at(5, 1) = tshost::Matter(E("Oxygen"), 300.0f, 0.01f);  // walled in: no drift moves the warmed gas
    Load(world);
    Send(SIM_MSG_ADD_MASS_CONSUMER, tshost::AddMassConsumer(Cell(0, 1), 1, 3, 0, E("Water")));
    Send(SIM_MSG_ADD_MASS_EMITTER, tshost::AddMassEmitter(0.5f, 2, 21, 22));
    Send(SIM_MSG_ADD_ELEMENT_CHUNK,
         tshost::AddElementChunk(Cell(5, 1), 3, 10.0f, 400.0f, 10.0f, 1.0f, 1.0f, E("Granite")));
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(7, E("Granite"), 80.0f, 400.0f, 1.0f, 1000.0f, 0.0f, 6, 0, 8, 1));
    auto r = RunFrame(0.0f);
    const uint32_t consumer = HandleOf(r, 1), emitter = HandleOf(r, 2), building = HandleOf(r, 7);
    ASSERT_EQ(r.massEmitterOutputs().size(), 1u);
    EXPECT_EQ(r.massEmitterOutputs()[0].elementIdx, SIM_NO_ELEMENT);
    ASSERT_EQ(r.elementChunkOutputs().size(), 1u);  // published without an exchange
    EXPECT_EQ(r.elementChunkOutputs()[0].temperature, 400.0f);
    EXPECT_EQ(r.elementChunkOutputs()[0].energy, 0.0f);

    Send(SIM_MSG_MODIFY_MASS_CONSUMER, tshost::ModifyMassConsumer(consumer, Cell(0, 1), 10.0f));
    // The outlet's cell holds 1 kg of oxygen, above its limit of 0.5 kg.
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(emitter, Cell(3, 1), 0.2f, 0.1f, 300.0f, 0.5f, 0, E("Oxygen"), 1, 255));
    r = RunFrame(0.6f);  // three steps: 2 kg, then the 0.5 kg left
    ASSERT_EQ(r.massConsumerOutputs().size(), 2u);
    EXPECT_FLOAT_EQ(r.massConsumerOutputs()[0].mass + r.massConsumerOutputs()[1].mass, 2.5f);
    EXPECT_EQ(r.massEmitterOutputs()[0].mass, 0.0f);
    ASSERT_EQ(r.cellCallbacks().size(), 1u);  // blocked, once though two steps found no room
    EXPECT_EQ(r.cellCallbacks()[0], 21u);

    // Room again: the outlet says so once and emits.
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(emitter, Cell(3, 1), 0.2f, 0.1f, 300.0f, 5.0f, 0, E("Oxygen"), 1, 255));
    r = RunFrame(0.6f);
    ASSERT_EQ(r.cellCallbacks().size(), 1u);
    EXPECT_EQ(r.cellCallbacks()[0], 22u);
    EXPECT_EQ(r.massEmitterOutputs()[0].elementIdx, E("Oxygen"));
    EXPECT_FLOAT_EQ(r.massEmitterOutputs()[0].mass, 0.2f);
    EXPECT_FLOAT_EQ(r.mass()[size_t(Cell(3, 1))], 1.2f);
    // Frames in consecutive cycles: each reports its own emission and item
    // energy, and what the intake took (all in the earlier frame) is never
    // reported again.
    EndFrame(0.2f);
    size_t takenAgain = Exchange().massConsumerOutputs().size();
    EndFrame(0.2f);
    r = Exchange();
    takenAgain += r.massConsumerOutputs().size();
    const ElementChunkOutput c1 = r.elementChunkOutputs()[0];
    r = Exchange();
    takenAgain += r.massConsumerOutputs().size();
    const ElementChunkOutput c2 = r.elementChunkOutputs()[0];
    EXPECT_FLOAT_EQ(r.massEmitterOutputs()[0].mass, 0.1f);
    EXPECT_EQ(takenAgain, 0u);
    EXPECT_LT(c1.energy, 0.0f);
    EXPECT_LT(c2.energy, 0.0f);
    EXPECT_GT(c2.energy, 1.5f * c1.energy);
    const ElementChunkOutput c3 = RunFrame(0.0f).elementChunkOutputs()[0];
    EXPECT_EQ(c3.energy, 0.0f);
    EXPECT_EQ(c3.temperature, c2.temperature);

    Send(SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE, tshost::RemoveBuildingHeatExchange(building, 8));
    r = RunFrame(0.2f);
    ASSERT_EQ(r.componentCallbacks().size(), 1u);
    EXPECT_EQ(r.componentCallbacks()[0].handle, SIM_NO_HANDLE);
    ASSERT_EQ(r.buildingOutputs().size(), 1u);
    EXPECT_EQ(std::pair(r.buildingOutputs()[0].handle, r.buildingOutputs()[0].temperature), std::pair(building, -1.0f));
    EXPECT_EQ(RunFrame(0.2f).buildingOutputs()[0].temperature, 0.0f);  // no record rewrites it
    EXPECT_TRUE(ReportRecorder::Take().empty());
}

// Infinite limits are valid ("never", "no limit"); a bad value refuses or
// clamps only itself; an outlet set to emit nothing still takes its cell.
TEST_F(Components, LimitsAndValuesAtTheEdges) {
    LoadTables();
    tshost::WorldLayout world(6, 3, tshost::Matter(E("Granite"), 300.0f, 100.0f));
    world.Fill(0, 1, 6, 2, tshost::Matter(E("Oxygen"), 300.0f, 1.0f));
    Load(world);
    NoConduction(0, 0, 1, 1);  // under the building
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(1, E("Granite"), 10.0f, 300.0f, 1.0f, INFINITY, 0.0f, 0, 0, 1, 1));
    for (uint32_t id : {2u, 3u, 4u}) Send(SIM_MSG_ADD_MASS_EMITTER, tshost::AddMassEmitter(5.0f, id, SIM_NO_CALLBACK, SIM_NO_CALLBACK));
    Send(SIM_MSG_ADD_MASS_CONSUMER, tshost::AddMassConsumer(Cell(5, 1), 5, 1, 0, E("Oxygen")));
    auto r = RunFrame(0.0f);
    const uint32_t building = HandleOf(r, 1), unlimited = HandleOf(r, 2), scorching = HandleOf(r, 3),
                   idle = HandleOf(r, 4), consumer = HandleOf(r, 5);
    ASSERT_NE(building, SIM_NO_HANDLE);

    // Bounds that are not valid are ignored without a word; infinite energy
    // stops at the bound.
    Send(SIM_MSG_MODIFY_BUILDING_ENERGY, tshost::ModifyBuildingEnergy(building, 100.0f, NAN, 350.0f));
    Send(SIM_MSG_MODIFY_BUILDING_ENERGY, tshost::ModifyBuildingEnergy(building, 100.0f, 0.0f, INFINITY));
    Send(SIM_MSG_MODIFY_BUILDING_ENERGY, tshost::ModifyBuildingEnergy(building, INFINITY, 0.0f, 350.0f));
    // No pressure limit; an emission temperature clamped to 10000 K; nothing to emit but germs.
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(unlimited, Cell(1, 1), 0.2f, 0.1f, 300.0f, INFINITY, 0, E("Oxygen"), 1, 255));
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(scorching, Cell(2, 1), 0.2f, 0.1f, 20000.0f, 5.0f, 0, E("Oxygen"), 1, 255));
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(idle, Cell(3, 1), 0.2f, 0.0f, 300.0f, 5.0f, 50, E("Oxygen"), 1, 0));
    Send(SIM_MSG_MODIFY_MASS_CONSUMER, tshost::ModifyMassConsumer(consumer, Cell(5, 1), 1.0f));
    r = RunFrame(0.4f);  // the outlets emit on the second step
    EXPECT_EQ(r.buildingOutputs()[0].temperature, 350.0f);
    EXPECT_TRUE(r.buildingsOverheated().empty());
    const std::span<const MassEmitterOutput> out = r.massEmitterOutputs();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].elementIdx, E("Oxygen"));
    EXPECT_FLOAT_EQ(out[0].mass, 0.1f);
    EXPECT_FLOAT_EQ(out[1].mass, 0.1f);
    EXPECT_EQ(out[1].temperature, SIM_MAX_TEMPERATURE);
    EXPECT_EQ(out[2].elementIdx, E("Oxygen"));
    EXPECT_EQ(out[2].mass, 0.0f);
    int64_t germs = 0;
    for (int32_t c = 0; c < width * height; ++c) germs += r.diseaseCount()[size_t(c)];
    EXPECT_EQ(germs, 50);
    EXPECT_EQ(r.massConsumerOutputs().size(), 2u);
    EXPECT_TRUE(ReportRecorder::Saw("clamped to 10000"));
    ReportRecorder::Clear();

    // An infinite interval never comes round; a negative rate stops the intake.
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(unlimited, Cell(1, 1), INFINITY, 0.1f, 300.0f, INFINITY, 0, E("Oxygen"), 1, 255));
    Send(SIM_MSG_MODIFY_MASS_CONSUMER, tshost::ModifyMassConsumer(consumer, Cell(5, 1), -1.0f));
    r = RunFrame(0.4f);
    EXPECT_EQ(r.massEmitterOutputs()[0].mass, 0.0f);
    EXPECT_FLOAT_EQ(r.massEmitterOutputs()[1].mass, 0.2f);
    EXPECT_TRUE(r.massConsumerOutputs().empty());
    EXPECT_TRUE(ReportRecorder::Saw("negative rate"));
}

// A building over cells without heat capacity: the exchange would divide by
// zero; the host is warned and both sides keep their temperatures.
TEST_F(Components, ABuildingOverCellsWithoutHeatCapacity) {
    tshost::ElementDesc heatless = tables.elements[E("Granite")];
    heatless.name = "Heatless";
    heatless.record.id = 0x5EED0001u;
    heatless.record.specificHeatCapacity = 0.0f;
    tables.elements.push_back(heatless);
    for (tshost::DiseaseDesc& d : tables.diseases) d.growth.push_back(d.growth.back());
    LoadTables();
    tshost::WorldLayout world(2, 2, tshost::Matter(E("Granite"), 300.0f, 100.0f));
    world.at(1, 1) = tshost::Matter(E("Heatless"), 400.0f, 100.0f);
    Load(world);
    NoConduction(0, 0, 2, 2);
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(1, E("Granite"), 10.0f, 300.0f, 1.0f, 1000.0f, 0.0f, 1, 1, 2, 2));
    const auto r = RunFrame(0.2f);
    EXPECT_EQ(r.temperature()[size_t(Cell(1, 1))], 400.0f);
    EXPECT_EQ(r.buildingOutputs()[0].temperature, 300.0f);
    EXPECT_TRUE(ReportRecorder::Saw("BuildingHeatExchange has invalid values Cell T=400.000000, HC=0.000000"));
}

// The sim thread runs the manager's removal passes: a removed slot is handed
// out again not right after the call, surely after three exchanges.
TEST_F(Components, ConduitRemovalsFollowTheSimThread) {
    LoadTables();
    Load(tshost::WorldLayout(2, 1, tshost::Matter(E("Granite"), 300.0f, 100.0f)));
    const uint32_t waterId = tables.elements[E("Water")].record.id;
    auto add = [&] { return lib().ConduitTemperatureManager_Add(300.0f, 1.0f, waterId, SIM_NO_HANDLE, 1.0f, 1.0f, 0); };
    const uint32_t first = add();
    lib().ConduitTemperatureManager_Remove(first);
    EXPECT_EQ(add(), 1u);
    for (int i = 0; i < 3; ++i) Exchange();
    EXPECT_EQ(add(), 0x01000000u | first);
}

}  // namespace
}  // namespace tstest
