// Host objects on the grid, through the loaded library as a host drives it:
// component handles and callbacks, items, buildings, intakes, outlets, germ
// sources, and the contents of pipes.
#include <algorithm>
#include <cmath>

#include "e2e/hostfixture.h"
#include "hostkit/frameresults.h"
#include "hostkit/payloads.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

namespace tstest {
namespace {

class Components : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        tables = tshost::LoadSampleTables();
        // Pipe contents of unit heat capacity and conductivity keep the conduit numbers plain.
        tshost::ElementDesc& water = tables.elements[E("Water")];
        water.record.specificHeatCapacity = 1.0f;
        water.record.thermalConductivity = 1.0f;
        // Germs that neither spread, grow nor die: an emitter's share stays as given.
        for (tshost::DiseaseDesc& d : tables.diseases) {
            for (float& h : d.header.temperatureHalfLives) h = INFINITY;
            for (DiseaseElementGrowth& g : d.growth) {
                g.underpopulationDeathRate = 0.0f;
                g.populationHalfLife = INFINITY;
                g.overpopulationHalfLife = INFINITY;
                g.spreadRate = 0.0f;
            }
        }
        lib().SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(tables.elements));
        lib().SendBytes(SIM_MSG_LOAD_DISEASE_TABLE,
                        tshost::DiseaseTablePayload(tables.diseases, int32_t(tables.elements.size())));
        lib().ConduitTemperatureManager_Initialize();
    }
    void TearDown() override {
        lib().ConduitTemperatureManager_Shutdown();
        HostTest::TearDown();
    }
    uint8_t E(const char* name) const { return tshost::ElementIndex(tables.elements, name); }
    float Cp(const char* name) const { return tables.elements[E(name)].record.specificHeatCapacity; }

    void Load(const tshost::WorldLayout& world) {
        width = world.width;
        height = world.height;
        lib().SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world));
        ASSERT_NE(lib().SendBytes(SIM_MSG_LOAD_SAVE_GAME, lib().SaveWorld()), 0u);
    }
    template <class T>
    void Send(uint32_t id, const T& payload) {
        lib().Send(id, payload);
    }
    void EndFrame(float dt) { Send(SIM_MSG_END_FRAME, tshost::EndFrame(dt, 0, 0, width, height)); }
    tshost::FrameResultsView Exchange() {
        return tshost::FrameResultsView(lib().ExchangeFrame(std::string(size_t(width * height), '\0')), width,
                                        height);
    }
    // Closes a frame and exchanges twice: its results.
    tshost::FrameResultsView RunFrame(float dt) {
        EndFrame(dt);
        Exchange();
        return Exchange();
    }
    static uint32_t HandleOf(const tshost::FrameResultsView& r, uint32_t callbackId) {
        for (const ComponentCallbackEntry& e : r.componentCallbacks())
            if (e.callbackId == callbackId) return e.handle;
        ADD_FAILURE() << "no callback " << callbackId;
        return SIM_NO_HANDLE;
    }
    int32_t Cell(int32_t x, int32_t y) const { return y * width + x; }
    void NoConduction(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) Send(SIM_MSG_SET_CELL_INSULATION, tshost::SetCellInsulation(Cell(x, y), 0.0f));
    }

    tshost::SampleTables tables;
    int32_t width = 0;
    int32_t height = 0;
};

TEST_F(Components, HandlesComeBackWithTheNextVersion) {
    Load(tshost::WorldLayout(6, 4, tshost::Matter(E("Oxygen"), 300.0f, 1.0f)));
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(1, 1), 1, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(2, 1), 2, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    auto r = RunFrame(0.0f);
    const uint32_t first = HandleOf(r, 1);
    EXPECT_EQ(first, 0x00000000u);
    EXPECT_EQ(HandleOf(r, 2), 0x00000001u);
    // Adds come before removes within a frame: the add cannot take the slot
    // that the remove frees.
    Send(SIM_MSG_REMOVE_ELEMENT_CHUNK, tshost::RemoveElementChunk(first, 3));
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(3, 1), 4, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    r = RunFrame(0.0f);
    ASSERT_EQ(r.componentCallbacks().size(), 2u);
    EXPECT_EQ(r.componentCallbacks()[0].callbackId, 4u);
    EXPECT_EQ(r.componentCallbacks()[0].handle, 0x00000002u);
    EXPECT_EQ(r.componentCallbacks()[1].callbackId, 3u);
    EXPECT_EQ(r.componentCallbacks()[1].handle, SIM_NO_HANDLE);
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(4, 1), 5, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    // The old handle no longer reaches anything: modifications are skipped
    // silently, a second remove is refused with a report.
    Send(SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, tshost::ModifyElementChunkEnergy(first, 100.0f));
    r = RunFrame(0.0f);
    EXPECT_EQ(HandleOf(r, 5), 0x01000000u);
    EXPECT_EQ(r.elementChunkOutputs()[0].temperature, 300.0f);
    EXPECT_TRUE(ReportRecorder::Take().empty());
    Send(SIM_MSG_REMOVE_ELEMENT_CHUNK, tshost::RemoveElementChunk(first, 6));
    r = RunFrame(0.0f);
    EXPECT_EQ(r.elementChunkOutputs().size(), 3u);
    EXPECT_TRUE(ReportRecorder::Saw("not live"));

    // 256 removals of one slot bring its version round to 0.
    Send(SIM_MSG_ADD_RESERVED_COMPONENT, tshost::AddReservedComponent(100));
    uint32_t h = HandleOf(RunFrame(0.0f), 100);
    for (uint32_t i = 1; i <= 256; ++i) {
        Send(SIM_MSG_REMOVE_RESERVED_COMPONENT, tshost::RemoveReservedComponent(h, SIM_NO_CALLBACK));
        EndFrame(0.0f);
        Send(SIM_MSG_ADD_RESERVED_COMPONENT, tshost::AddReservedComponent(100 + i));
        h = HandleOf(RunFrame(0.0f), 100 + i);  // both frames in one cycle
        ASSERT_EQ(h, (i & 0xFFu) << 24) << i;
    }
    EXPECT_EQ(h, 0x00000000u);
}

TEST_F(Components, ItemsAndBuildings) {
    tshost::WorldLayout world(6, 4, tshost::Matter(E("Oxygen"), 300.0f, 1.0f));
    world.Fill(0, 0, 6, 1, tshost::Matter(E("Granite"), 300.0f, 100.0f));
    Load(world);
    NoConduction(0, 0, 6, 1);
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(1, 2), 1, 0.0009f, 400.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(3, 2), 2, 5.0f, 400.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    const float mass = 40.0f;
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(3, E("Granite"), mass, 300.0f, 1.0f, 1000.0f, 50.0f, 0, 0, 4, 1));
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(4, E("Granite"), mass, 300.0f, 1.0f, 1000.0f, 0.0f, 2, 0, 2, 1));
    auto r = RunFrame(0.0f);
    const uint32_t stored = HandleOf(r, 2), building = HandleOf(r, 3);
    EXPECT_EQ(HandleOf(r, 4), SIM_NO_HANDLE);  // zero width
    EXPECT_TRUE(ReportRecorder::Saw("Size zero building passed into BuildingHeatExchange"));
    ReportRecorder::Clear();

    Send(SIM_MSG_MODIFY_ELEMENT_CHUNK_DATA, tshost::ModifyElementChunkData(stored, 300.0f, 50.0f, 1.0f));
    r = RunFrame(0.6f);  // three steps
    // The light chunk takes no part; the stored one follows its storage only.
    EXPECT_EQ(r.elementChunkOutputs()[0].temperature, 400.0f);
    EXPECT_EQ(r.elementChunkOutputs()[0].energy, 0.0f);
    EXPECT_LT(r.elementChunkOutputs()[1].temperature, 400.0f);
    EXPECT_EQ(r.elementChunkOutputs()[1].energy, 0.0f);
    EXPECT_EQ(r.temperature()[size_t(Cell(1, 2))], 300.0f);
    EXPECT_EQ(r.temperature()[size_t(Cell(3, 2))], 300.0f);
    // Over cells that do not conduct, the building still heats by its own production.
    const float total = mass * Cp("Granite");
    ASSERT_EQ(r.buildingOutputs().size(), 1u);
    EXPECT_EQ(r.buildingOutputs()[0].handle, building);
    EXPECT_NEAR(r.buildingOutputs()[0].temperature, 300.0f + 3.0f * 0.2f * 50.0f / total, 1e-3f);
    EXPECT_EQ(r.temperature()[size_t(Cell(0, 0))], 300.0f);
    // Energy from the host stops at the maximum it gives.
    Send(SIM_MSG_MODIFY_BUILDING_ENERGY, tshost::ModifyBuildingEnergy(building, 100.0f * total, 0.0f, 350.0f));
    r = RunFrame(0.0f);
    EXPECT_EQ(r.buildingOutputs()[0].temperature, 350.0f);
    EXPECT_TRUE(ReportRecorder::Take().empty());
}

TEST_F(Components, IntakesOutletsAndGermSources) {
    // Row 1 between granite rows: water | water | granite | oxygen | granite | oxygen x 3.
    tshost::WorldLayout world(8, 3, tshost::Matter(E("Granite"), 300.0f, 100.0f));
    world.Fill(5, 1, 8, 2, tshost::Matter(E("Oxygen"), 300.0f, 1.0f));
    world.at(0, 1) = tshost::Matter(E("Water"), 300.0f, 1.5f);
    world.at(1, 1) = tshost::Matter(E("Water"), 350.0f, 1.0f);
    world.at(3, 1) = tshost::Matter(E("Oxygen"), 300.0f, 1.0f);
    Load(world);
    NoConduction(0, 1, 2, 2);  // the water keeps its heat to itself
    Send(SIM_MSG_ADD_MASS_CONSUMER, tshost::AddMassConsumer(Cell(0, 1), 1, 3, 0, E("Water")));
    Send(SIM_MSG_ADD_MASS_EMITTER, tshost::AddMassEmitter(0.5f, 2, 21, 22));
    Send(SIM_MSG_ADD_DISEASE_EMITTER, tshost::AddDiseaseEmitter(3));
    Send(SIM_MSG_ADD_RESERVED_COMPONENT, tshost::AddReservedComponent(4));
    auto r = RunFrame(0.0f);
    const uint32_t consumer = HandleOf(r, 1), emitter = HandleOf(r, 2), germs = HandleOf(r, 3);
    EXPECT_EQ(HandleOf(r, 4), 0u);
    ASSERT_EQ(r.massEmitterOutputs().size(), 1u);
    EXPECT_EQ(r.massEmitterOutputs()[0].elementIdx, SIM_NO_ELEMENT);
    ASSERT_EQ(r.diseaseEmitterOutputs().size(), 1u);
    EXPECT_EQ(r.diseaseEmitterOutputs()[0].always255, 255);
    EXPECT_TRUE(r.reservedComponentOutputs().empty());

    Send(SIM_MSG_MODIFY_MASS_CONSUMER, tshost::ModifyMassConsumer(consumer, Cell(0, 1), 10.0f));
    // The outlet's cell holds 1 kg of oxygen, above its limit of 0.5 kg.
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(emitter, Cell(3, 1), 0.2f, 0.1f, 300.0f, 0.5f, 0, E("Oxygen"), 1, 255));
    Send(SIM_MSG_MODIFY_DISEASE_EMITTER, tshost::ModifyDiseaseEmitter(germs, Cell(6, 1), 0, 2, 0.4f, 10));
    r = RunFrame(0.6f);  // three steps
    // 2 kg from cells of 1.5 kg and 1 kg, then the 0.5 kg left, at the
    // mass-weighted temperature of what was taken.
    ASSERT_EQ(r.massConsumerOutputs().size(), 2u);
    const MassConsumerOutput a = r.massConsumerOutputs()[0], b = r.massConsumerOutputs()[1];
    EXPECT_EQ(a.handle, consumer);
    EXPECT_EQ(a.elementIdx, E("Water"));
    EXPECT_FLOAT_EQ(a.mass, 2.0f);
    EXPECT_FLOAT_EQ(b.mass, 0.5f);
    EXPECT_NEAR(double(a.mass) * a.temperature + double(b.mass) * b.temperature, 1.5 * 300.0 + 1.0 * 350.0, 1e-2);
    EXPECT_EQ(r.elementIdx()[size_t(Cell(0, 1))], E("Vacuum"));
    // Blocked is reported once, though two steps found no room.
    ASSERT_EQ(r.cellCallbacks().size(), 1u);
    EXPECT_EQ(r.cellCallbacks()[0], 21u);
    EXPECT_EQ(r.massEmitterOutputs()[0].mass, 0.0f);
    // One emission of 10 germs over the three open cells: 4, 3, 3 (the gas
    // cells may have drifted into each other's places since, taking their germs).
    std::vector<int32_t> counts;
    for (int32_t x : {5, 6, 7}) {
        counts.push_back(r.diseaseCount()[size_t(Cell(x, 1))]);
        EXPECT_EQ(r.diseaseIdx()[size_t(Cell(x, 1))], 0);
    }
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts, (std::vector<int32_t>{3, 3, 4}));

    // Room again: the outlet says so once and emits.
    Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(emitter, Cell(3, 1), 0.2f, 0.1f, 300.0f, 5.0f, 0, E("Oxygen"), 1, 255));
    r = RunFrame(0.6f);
    ASSERT_EQ(r.cellCallbacks().size(), 1u);
    EXPECT_EQ(r.cellCallbacks()[0], 22u);
    EXPECT_EQ(r.massEmitterOutputs()[0].elementIdx, E("Oxygen"));
    EXPECT_FLOAT_EQ(r.massEmitterOutputs()[0].mass, 0.2f);
    EXPECT_FLOAT_EQ(r.mass()[size_t(Cell(3, 1))], 1.2f);
    // Frames in consecutive cycles: each reports its own emission, and what
    // the intake took (all in the earlier frame) is never reported again.
    size_t takenAgain = 0;
    EndFrame(0.2f);
    takenAgain += Exchange().massConsumerOutputs().size();
    EndFrame(0.2f);
    takenAgain += Exchange().massConsumerOutputs().size();
    r = Exchange();
    takenAgain += r.massConsumerOutputs().size();
    EXPECT_FLOAT_EQ(r.massEmitterOutputs()[0].mass, 0.1f);
    EXPECT_EQ(takenAgain, 0u);
    EXPECT_TRUE(ReportRecorder::Take().empty());
}

// Reports of bad values in the component exchanges and the conduit manager
// reach the host as warnings, and the exchange leaves the values alone.
TEST_F(Components, BadValuesAreReportedToTheHost) {
    // A solid without heat capacity: every exchange with it divides by zero.
    tshost::ElementDesc heatless = tables.elements[E("Granite")];
    heatless.name = "Heatless";
    heatless.record.id = 0x5EED0001u;
    heatless.record.specificHeatCapacity = 0.0f;
    tables.elements.push_back(heatless);
    for (tshost::DiseaseDesc& d : tables.diseases) d.growth.push_back(d.growth.back());
    lib().SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(tables.elements));
    lib().SendBytes(SIM_MSG_LOAD_DISEASE_TABLE,
                    tshost::DiseaseTablePayload(tables.diseases, int32_t(tables.elements.size())));
    tshost::WorldLayout world(4, 2, tshost::Matter(E("Granite"), 300.0f, 100.0f));
    world.at(0, 1) = tshost::Matter(E("Heatless"), 300.0f, 100.0f);
    world.at(1, 1) = tshost::Matter(E("Heatless"), 400.0f, 100.0f);
    world.at(2, 1) = tshost::Matter(E("Oxygen"), 300.0f, 1.0f);
    world.at(3, 1) = tshost::Matter(E("Oxygen"), 300.0f, 1.0f);
    Load(world);
    NoConduction(0, 0, 4, 2);
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(0, 1), 1, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    Send(SIM_MSG_ADD_ELEMENT_CHUNK, tshost::AddElementChunk(Cell(2, 1), 2, 1.0f, 300.0f, 1.0f, 1.0f, 1.0f, E("Granite")));
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(3, E("Granite"), 10.0f, 300.0f, 1.0f, 1000.0f, 0.0f, 1, 1, 2, 2));
    auto r = RunFrame(0.0f);
    const uint32_t hot = HandleOf(r, 2);
    Send(SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, tshost::ModifyElementChunkEnergy(hot, 19700.0f * Cp("Granite")));
    const uint32_t waterId = tables.elements[E("Water")].record.id;
    const uint32_t pipe = lib().ConduitTemperatureManager_Add(20000.0f, 1.0f, waterId, SIM_NO_HANDLE, 1.0f, 1.0f, 0);
    lib().ConduitTemperatureManager_Set(pipe | 0x05000000u, 300.0f, 1.0f, waterId);
    r = RunFrame(0.2f);
    EXPECT_EQ(r.temperature()[size_t(Cell(0, 1))], 300.0f);
    EXPECT_EQ(r.temperature()[size_t(Cell(1, 1))], 400.0f);
    EXPECT_EQ(r.buildingOutputs()[0].temperature, 300.0f);
    EXPECT_FLOAT_EQ(r.elementChunkOutputs()[1].temperature, 20000.0f);
    const auto reports = ReportRecorder::Take();
    for (const char* text : {"ElementChunk ConductTemperature produced invalid outputs.",
                             "ElementChunk bad item temperature: 20000.000000",
                             "BuildingHeatExchange has invalid values Cell T=400.000000, HC=0.000000",
                             "Contents have invalid temperature 20000.000000. Resetting to default.",
                             "ConduitTemperatureManager::Set called with bad handle: V=5, Idx=0"}) {
        bool seen = false;
        for (const RecordedReport& report : reports)
            seen = seen || (report.code == SIM_CALLBACK_ASSERTION && report.message.find(text) != std::string::npos);
        EXPECT_TRUE(seen) << text;
    }
}

// Infinite limits are valid ("never", "no limit"); a bad value refuses or
// clamps only itself; an outlet set to emit nothing still takes its cell.
TEST_F(Components, LimitsAndValuesAtTheEdges) {
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

TEST_F(Components, PipeContentsExchangeWithTheirBuildings) {
    tshost::WorldLayout world(4, 2, tshost::Matter(E("Granite"), 300.0f, 100.0f));
    Load(world);
    NoConduction(0, 0, 4, 2);
    const float buildingMass = 10.0f;  // one cell: 7.9 kJ/K
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(1, E("Granite"), buildingMass, 300.0f, 1.0f, 1000.0f, 0.0f, 0, 0, 1, 1));
    Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(2, E("Granite"), buildingMass, 300.0f, 1.0f, 1000.0f, 0.0f, 1, 0, 2, 1));
    auto r = RunFrame(0.0f);
    const uint32_t b0 = HandleOf(r, 1), b1 = HandleOf(r, 2);
    const uint32_t waterId = tables.elements[E("Water")].record.id;
    const float hb = buildingMass * Cp("Granite");
    // Contents of conductivity 1 in pipes of conductivity 0.1: the smaller
    // one (0.1) or the mean (0.55).
    const uint32_t lower = lib().ConduitTemperatureManager_Add(310.0f, 1.0f, waterId, b0, hb, 0.1f, 1);
    const uint32_t mean = lib().ConduitTemperatureManager_Add(310.0f, 1.0f, waterId, b1, hb, 0.1f, 0);
    EXPECT_EQ(lower, 0u);
    EXPECT_EQ(mean, 1u);
    const UpdateResult* u = lib().ConduitTemperatureManager_Update(1.0f, r.raw()->buildingOutputs);
    ASSERT_EQ(u->temperatureCount, 2);
    const float t0 = u->temperatures[0], t1 = u->temperatures[1];
    EXPECT_NEAR(t0, 310.0f - 0.05f, 1e-3f);
    EXPECT_NEAR(t1, 310.0f - 0.275f, 1e-3f);
    // The buildings receive what the contents gave, in the next frame.
    r = RunFrame(0.0f);
    const BuildingOutputEntry o0 = r.buildingOutputs()[0], o1 = r.buildingOutputs()[1];
    EXPECT_NEAR(o0.temperature, 300.0f + (310.0f - t0) / hb, 1e-4f);
    EXPECT_NEAR(o1.temperature, 300.0f + (310.0f - t1) / hb, 1e-4f);

    // Too hot to be true: the element's default temperature instead.
    const uint32_t hot = lib().ConduitTemperatureManager_Add(20000.0f, 1.0f, waterId, SIM_NO_HANDLE, 1.0f, 1.0f, 0);
    u = lib().ConduitTemperatureManager_Update(0.2f, nullptr);
    EXPECT_EQ(u->temperatures[hot], tables.elements[E("Water")].record.defaultTemperature);

    // A removed slot is handed out again only after the sim thread's second
    // removal pass: not right after the call, surely after three exchanges.
    lib().ConduitTemperatureManager_Remove(hot);
    EXPECT_EQ(lib().ConduitTemperatureManager_Add(300.0f, 1.0f, waterId, SIM_NO_HANDLE, 1.0f, 1.0f, 0), 3u);
    for (int i = 0; i < 3; ++i) Exchange();
    EXPECT_EQ(lib().ConduitTemperatureManager_Add(300.0f, 1.0f, waterId, SIM_NO_HANDLE, 1.0f, 1.0f, 0),
              0x01000000u | hot);
}

}  // namespace
}  // namespace tstest
