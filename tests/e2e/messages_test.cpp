// Messages through the loaded library, each frame without a physics step
// unless a test says otherwise: first on single cells, then on host objects
// on the grid.
#include <cmath>
#include <tuple>

#include "e2e/hostfixture.h"

namespace tstest {
namespace {

class CellMessages : public SampleHost {
protected:
    void ModifyCell(int32_t gameCell, uint32_t callbackId, uint8_t e, float m, float t, uint8_t type,
                    uint8_t disease = SIM_NO_DISEASE, int32_t count = 0) {
        lib().Send(SIM_MSG_MODIFY_CELL, tshost::ModifyCell(gameCell, callbackId, t, m, count, e, type, disease, 0));
    }
    size_t Reports() const { return ReportRecorder::Take().size(); }
};

// Liquid added to a solid cell goes to its first open neighbour, and what that
// neighbour holds is pushed aside or joined, never destroyed.
TEST_F(CellMessages, LiquidIntoASolidCellMeetsWhatItsNeighbourHolds) {
    LoadTables();
    // Each case on its own row between granite rows: granite | target | vacuum.
    const tshost::WorldCell granite = tshost::Matter(E("Granite"), 300.0f, 100.0f);
    const struct {
        const char* name;
        tshost::WorldCell target;
        float water;       // in the target afterwards
        const char* pushed;  // what the vacuum cell beyond holds afterwards
        float pushedMass;
    } cases[] = {
        {"vacuum", tshost::Matter(E("Vacuum"), 0.0f, 0.0f), 10.0f, "Vacuum", 0.0f},
        {"gas", tshost::Matter(E("Oxygen"), 300.0f, 5.0f), 10.0f, "Oxygen", 5.0f},
        {"other liquid", tshost::Matter(E("Crude oil"), 300.0f, 100.0f), 10.0f, "Crude oil", 100.0f},
        {"same liquid", tshost::Matter(E("Water"), 300.0f, 500.0f), 510.0f, "Vacuum", 0.0f},
    };
    const int32_t rows = int32_t(std::size(cases)) * 2 - 1;
    tshost::WorldLayout world(3, rows, granite);
    for (size_t i = 0; i < std::size(cases); ++i) {
        world.at(1, int32_t(i) * 2) = cases[i].target;
        world.at(2, int32_t(i) * 2) = tshost::Matter(E("Vacuum"), 0.0f, 0.0f);
    }
    Load(world);
    for (size_t i = 0; i < std::size(cases); ++i)
        ModifyCell(Cell(0, int32_t(i) * 2), uint32_t(i), E("Water"), 10.0f, 300.0f, SIM_REPLACE_ADD);
    const auto r = RunFrame(0.0f);
    ASSERT_EQ(r.cellCallbacks().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const int32_t y = int32_t(i) * 2;
        const auto cell = [&](int32_t x) { return std::tuple(r.elementIdx()[size_t(Cell(x, y))], r.mass()[size_t(Cell(x, y))]); };
        EXPECT_EQ(cell(0), std::tuple(E("Granite"), 100.0f));
        EXPECT_EQ(cell(1), std::tuple(E("Water"), cases[i].water));
        EXPECT_EQ(cell(2), std::tuple(E(cases[i].pushed), cases[i].pushedMass));
    }
    EXPECT_EQ(Reports(), 0u);
}

// Replace-and-displace clamps its temperature into [0, 10000] exactly; only a
// cell with mass that would be at 0 K gets the small floor of the other types
// (below the smallest normal float is 0 K: the sim thread flushes it to zero).
// Replace types given a negative mass leave an empty vacuum cell.
TEST_F(CellMessages, ReplaceTemperatureAndMassClamps) {
    LoadTables();
    Load(tshost::WorldLayout(11, 1, tshost::Matter(E("Oxygen"), 300.0f, 1.0f)));
    const float hottest = std::nextafter(SIM_MAX_TEMPERATURE, 0.0f);
    const struct {
        uint8_t type;
        float m;
        float t;
        float mass;          // afterwards
        float temperature;   // afterwards
        bool vacuum;
        size_t reports;
    } cases[] = {
        {SIM_REPLACE_AND_DISPLACE, 50.0f, 12000.0f, 50.0f, 10000.0f, false, 1},
        {SIM_REPLACE_AND_DISPLACE, 50.0f, 0.5f, 50.0f, 0.5f, false, 0},
        {SIM_REPLACE_AND_DISPLACE, 50.0f, 0.0f, 50.0f, 1.0f, false, 2},
        {SIM_REPLACE_AND_DISPLACE, 50.0f, 1e-40f, 50.0f, 1.0f, false, 2},
        {SIM_REPLACE_REPLACE, 50.0f, 1e-40f, 50.0f, 1.0f, false, 1},
        {SIM_REPLACE_ADD, 50.0f, 1e-40f, 50.0f, 1.0f, false, 1},
        {SIM_REPLACE_REPLACE, 50.0f, 12000.0f, 50.0f, hottest, false, 1},  // type 1 keeps its clamp
        {SIM_REPLACE_REPLACE, -5.0f, 300.0f, 0.0f, 0.0f, true, 0},
        {SIM_REPLACE_AND_DISPLACE, -5.0f, 300.0f, 0.0f, 0.0f, true, 0},
        {SIM_REPLACE_REPLACE, 0.0f, -5.0f, 0.0f, 0.0f, false, 1},  // no cell below 0 K, even without mass
        {SIM_REPLACE_AND_DISPLACE, 0.0f, -5.0f, 0.0f, 0.0f, false, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const int32_t c = int32_t(i);
        ModifyCell(c, SIM_NO_CALLBACK, E("Water"), cases[i].m, cases[i].t, cases[i].type);
        const auto r = RunFrame(0.0f);
        EXPECT_EQ(r.elementIdx()[size_t(c)], cases[i].vacuum ? E("Vacuum") : E("Water"));
        EXPECT_EQ(r.mass()[size_t(c)], cases[i].mass);
        EXPECT_EQ(r.temperature()[size_t(c)], cases[i].temperature);
        EXPECT_EQ(Reports(), cases[i].reports);
    }
}

// A host waiting on a callback always hears back: a refused message answers
// once, in the refusal form of its list, and changes no cell. (An empty cell
// took the temperature of nothing added, outside [0, 10000] K; matter below
// the smallest normal float was taken, and spread as gas at 0 K a step later.)
TEST_F(CellMessages, RefusedMessagesStillAnswer) {
    LoadTables();
    tshost::WorldLayout world(4, 1, tshost::Matter(E("Oxygen"), 300.0f, 1.0f));
    world.at(3, 0) = tshost::Matter(E("Vacuum"), 0.0f, 0.0f);
    Load(world);
    const uint8_t oxygen = E("Oxygen");
    const AddMassPayload adds[] = {
        tshost::AddMass(0, 1, -1.0f, 300.0f, 0, oxygen, 255),
        tshost::AddMass(0, 2, 1.0f, 0.0f, 0, oxygen, 255),
        tshost::AddMass(0, 3, 1.0f, 20000.0f, 0, oxygen, 255),
        tshost::AddMass(0, 4, NAN, 300.0f, 0, oxygen, 255),
        tshost::AddMass(0, 5, 1.0f, INFINITY, 0, oxygen, 255),
        tshost::AddMass(99, 6, 1.0f, 300.0f, 0, oxygen, 255),
        tshost::AddMass(0, 7, 1.0f, 300.0f, 0, 200, 255),
        tshost::AddMass(0, 8, 1.0f, 300.0f, 5, oxygen, 200),
        tshost::AddMass(3, 9, 0.0f, -20.0f, 0, oxygen, 255),
        tshost::AddMass(3, 10, 0.0f, 20000.0f, 0, oxygen, 255),
        tshost::AddMass(3, 14, 0.12f, 1e-40f, 0, oxygen, 255),
    };
    for (const AddMassPayload& a : adds) lib().Send(SIM_MSG_ADD_MASS, a);
    lib().Send(SIM_MSG_CONSUME_MASS, tshost::ConsumeMass(-1, 11, 1.0f, oxygen, 3));
    lib().Send(SIM_MSG_CONSUME_MASS, tshost::ConsumeMass(0, 12, NAN, oxygen, 3));
    lib().Send(SIM_MSG_CONSUME_MASS, tshost::ConsumeMass(0, 13, -1.0f, oxygen, 3));  // would add 1 kg
    lib().Send(SIM_MSG_CONSUME_DISEASE, tshost::ConsumeDisease(4, 21, 1.0f, 100));
    lib().Send(SIM_MSG_DIG_CELL, tshost::DigCell(4, 31, 0));
    ModifyCell(4, 32, oxygen, 1.0f, 300.0f, SIM_REPLACE_ADD);
    ModifyCell(1, 33, E("Vacuum"), 1.0f, 300.0f, SIM_REPLACE_ADD);
    const auto r = RunFrame(0.0f);

    ASSERT_EQ(r.addMassResults().size(), std::size(adds));
    for (size_t i = 0; i < std::size(adds); ++i) {
        const AddMassResult& a = r.addMassResults()[i];
        EXPECT_EQ(std::tuple(a.callbackId, a.accepted, a.elementIdx, a.diseaseIdx, a.mass, a.temperature, a.diseaseCount),
                  std::tuple(adds[i].callbackId, uint8_t(0), uint8_t(SIM_NO_ELEMENT), uint8_t(SIM_NO_DISEASE), 0.0f, 0.0f, 0)) << i;
    }
    ASSERT_EQ(r.consumeMassResults().size(), 3u);
    for (const ConsumeMassResult& c : r.consumeMassResults())
        EXPECT_EQ(std::tuple(c.elementIdx, c.diseaseIdx, c.mass, c.diseaseCount), std::tuple(oxygen, uint8_t(SIM_NO_DISEASE), 0.0f, 0));
    EXPECT_EQ(r.consumeMassResults()[2].callbackId, 13u);
    ASSERT_EQ(r.consumeDiseaseResults().size(), 1u);
    const ConsumeDiseaseResult& d = r.consumeDiseaseResults()[0];
    EXPECT_EQ(std::tuple(d.callbackId, d.diseaseIdx, d.countRemoved), std::tuple(21u, uint8_t(SIM_NO_DISEASE), 0));
    EXPECT_EQ(std::vector<uint32_t>(r.cellCallbacks().begin(), r.cellCallbacks().end()),
              (std::vector<uint32_t>{31, 32, 33}));
    for (int32_t c = 0; c < 4; ++c) {
        EXPECT_EQ(r.elementIdx()[size_t(c)], c < 3 ? oxygen : E("Vacuum"));
        EXPECT_EQ(std::pair(r.mass()[size_t(c)], r.temperature()[size_t(c)]), c < 3 ? std::pair(1.0f, 300.0f) : std::pair(0.0f, 0.0f));
    }
    EXPECT_TRUE(ReportRecorder::Saw("Invalid replacement type"));
}

// A disease of weight 0 never takes a cell; one already there loses to any
// newcomer; between two of weight 0 the cell keeps what it had.
TEST_F(CellMessages, GermCompetitionWithAZeroWeight) {
    StillGerms();
    tables.diseases[1].header.competitionWeight = 0.0f;
    tables.diseases.push_back(tables.diseases[1]);
    tables.diseases[2].name = "Weightless twin";
    tables.diseases[2].header.id = 0x5EED0003u;
    LoadTables();
    const struct {
        uint8_t had;
        uint8_t added;
        uint8_t disease;  // afterwards
        int32_t count;
    } cases[] = {{0, 1, 0, 100}, {1, 0, 0, 50}, {1, 2, 1, 100}};
    tshost::WorldLayout world(3, 1, tshost::Matter(E("Oxygen"), 300.0f, 1.0f));
    for (size_t i = 0; i < std::size(cases); ++i) {
        world.cells[i].diseaseIdx = cases[i].had;
        world.cells[i].diseaseCount = 100;
    }
    Load(world);
    for (size_t i = 0; i < std::size(cases); ++i)
        lib().Send(SIM_MSG_MODIFY_CELL_DISEASE, tshost::ModifyCellDisease(int32_t(i), cases[i].added, 50));
    const auto r = RunFrame(0.0f);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.diseaseIdx()[i], cases[i].disease);
        EXPECT_EQ(r.diseaseCount()[i], cases[i].count);
    }
}

// A spread rate that is not a finite number moves no germs, in any of the
// spread's three forms.
TEST_F(CellMessages, NonFiniteSpreadRatesSpreadNothing) {
    StillGerms();
    tables.diseases[0].growth[E("Water")].spreadRate = NAN;
    tables.diseases[1].growth[E("Water")].spreadRate = INFINITY;
    LoadTables();
    // Water cells, full and at rest: germs alone could move.
    tshost::WorldLayout world(6, 1, tshost::Matter(E("Water"), 300.0f, 1000.0f));
    const int32_t germs[6][2] = {{0, 100}, {255, 0}, {255, 0}, {1, 100}, {0, 80}, {0, 16}};
    for (size_t i = 0; i < 6; ++i) {
        world.cells[i].diseaseIdx = uint8_t(germs[i][0]);
        world.cells[i].diseaseCount = germs[i][1];
    }
    Load(world);
    const auto r = RunFrame(0.2f);
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.diseaseIdx()[i], germs[i][0]);
        EXPECT_EQ(r.diseaseCount()[i], germs[i][1]);
    }
}

// An overfull liquid under the same liquid: the cell above pours into it, and
// the upward split takes M / 2.01 of the mass after the pour.
TEST_F(CellMessages, UpwardSplitReadsTheMassAfterThePour) {
    tables.elements[E("Water")].record.maxFlow = 1.0f;  // the flow pass moves 1 kg up
    LoadTables();
    tshost::WorldLayout world(1, 2, tshost::Matter(E("Water"), 300.0f, 1600.0f));
    world.at(0, 1) = tshost::Matter(E("Water"), 300.0f, 10.0f);
    Load(world);
    const auto r = RunFrame(0.2f);
    // After the flow pass: 1599 kg below, 11 kg above; the 11 kg pour down
    // before the split.
    const float above = 0.49751243f * 1610.0f;
    EXPECT_FLOAT_EQ(r.mass()[size_t(Cell(0, 1))], above);
    EXPECT_FLOAT_EQ(r.mass()[size_t(Cell(0, 0))], 1610.0f - above);
}

// Host objects on the grid through the loaded library, where the in-process
// component tests do not reach: one frame's adds and removes, reserved
// components, each frame's results, limits at their edges,
// and the conduit manager's removals done by the sim thread.
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
    void AddChunk(int32_t x, int32_t y, uint32_t callbackId) {
        lib().Send(SIM_MSG_ADD_ELEMENT_CHUNK,
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
            for (int32_t x = x0; x < x1; ++x) lib().Send(SIM_MSG_SET_CELL_INSULATION, tshost::SetCellInsulation(Cell(x, y), 0.0f));
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
    lib().Send(SIM_MSG_REMOVE_ELEMENT_CHUNK, tshost::RemoveElementChunk(first, 3));
    AddChunk(3, 1, 4);
    r = RunFrame(0.0f);
    std::vector<std::pair<uint32_t, uint32_t>> callbacks;
    for (const ComponentCallbackEntry& e : r.componentCallbacks()) callbacks.emplace_back(e.callbackId, e.handle);
    EXPECT_EQ(callbacks, (std::vector<std::pair<uint32_t, uint32_t>>{{4u, 0x00000002u}, {3u, SIM_NO_HANDLE}}));
    lib().Send(SIM_MSG_REMOVE_ELEMENT_CHUNK, tshost::RemoveElementChunk(first, 6));
    r = RunFrame(0.0f);
    EXPECT_EQ(r.elementChunkOutputs().size(), 3u);
    EXPECT_TRUE(ReportRecorder::Saw("not live"));

    // Reserved components: a slot freed in one frame is handed out, one
    // version on, by the next frame of the same cycle.
    lib().Send(SIM_MSG_ADD_RESERVED_COMPONENT, tshost::AddReservedComponent(100));
    const uint32_t reserved = HandleOf(RunFrame(0.0f), 100);
    EXPECT_EQ(reserved, 0x00000000u);
    lib().Send(SIM_MSG_REMOVE_RESERVED_COMPONENT, tshost::RemoveReservedComponent(reserved, SIM_NO_CALLBACK));
    EndFrame(0.0f);
    lib().Send(SIM_MSG_ADD_RESERVED_COMPONENT, tshost::AddReservedComponent(101));
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
    lib().Send(SIM_MSG_ADD_MASS_CONSUMER, tshost::AddMassConsumer(Cell(0, 1), 1, 3, 0, E("Water")));
    lib().Send(SIM_MSG_ADD_MASS_EMITTER, tshost::AddMassEmitter(0.5f, 2, 21, 22));
    lib().Send(SIM_MSG_ADD_ELEMENT_CHUNK,
         tshost::AddElementChunk(Cell(5, 1), 3, 10.0f, 400.0f, 10.0f, 1.0f, 1.0f, E("Granite")));
    lib().Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(7, E("Granite"), 80.0f, 400.0f, 1.0f, 1000.0f, 0.0f, 6, 0, 8, 1));
    auto r = RunFrame(0.0f);
    const uint32_t consumer = HandleOf(r, 1), emitter = HandleOf(r, 2), building = HandleOf(r, 7);
    ASSERT_EQ(r.massEmitterOutputs().size(), 1u);
    EXPECT_EQ(r.massEmitterOutputs()[0].elementIdx, SIM_NO_ELEMENT);
    ASSERT_EQ(r.elementChunkOutputs().size(), 1u);  // published without an exchange
    EXPECT_EQ(r.elementChunkOutputs()[0].temperature, 400.0f);
    EXPECT_EQ(r.elementChunkOutputs()[0].energy, 0.0f);

    lib().Send(SIM_MSG_MODIFY_MASS_CONSUMER, tshost::ModifyMassConsumer(consumer, Cell(0, 1), 10.0f));
    // The outlet's cell holds 1 kg of oxygen, above its limit of 0.5 kg.
    lib().Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(emitter, Cell(3, 1), 0.2f, 0.1f, 300.0f, 0.5f, 0, E("Oxygen"), 1, 255));
    r = RunFrame(0.6f);  // three steps: 2 kg, then the 0.5 kg left
    ASSERT_EQ(r.massConsumerOutputs().size(), 2u);
    EXPECT_FLOAT_EQ(r.massConsumerOutputs()[0].mass + r.massConsumerOutputs()[1].mass, 2.5f);
    EXPECT_EQ(r.massEmitterOutputs()[0].mass, 0.0f);
    ASSERT_EQ(r.cellCallbacks().size(), 1u);  // blocked, once though two steps found no room
    EXPECT_EQ(r.cellCallbacks()[0], 21u);

    // Room again: the outlet says so once and emits.
    lib().Send(SIM_MSG_MODIFY_MASS_EMITTER,
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

    lib().Send(SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE, tshost::RemoveBuildingHeatExchange(building, 8));
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
    lib().Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
         tshost::AddBuildingHeatExchange(1, E("Granite"), 10.0f, 300.0f, 1.0f, INFINITY, 0.0f, 0, 0, 1, 1));
    for (uint32_t id : {2u, 3u, 4u, 6u}) lib().Send(SIM_MSG_ADD_MASS_EMITTER, tshost::AddMassEmitter(5.0f, id, SIM_NO_CALLBACK, SIM_NO_CALLBACK));
    lib().Send(SIM_MSG_ADD_MASS_CONSUMER, tshost::AddMassConsumer(Cell(5, 1), 5, 1, 0, E("Oxygen")));
    auto r = RunFrame(0.0f);
    const uint32_t building = HandleOf(r, 1), unlimited = HandleOf(r, 2), scorching = HandleOf(r, 3),
                   idle = HandleOf(r, 4), consumer = HandleOf(r, 5), frozen = HandleOf(r, 6);
    ASSERT_NE(building, SIM_NO_HANDLE);

    // Bounds that are not valid are ignored without a word; infinite energy
    // stops at the bound.
    lib().Send(SIM_MSG_MODIFY_BUILDING_ENERGY, tshost::ModifyBuildingEnergy(building, 100.0f, NAN, 350.0f));
    lib().Send(SIM_MSG_MODIFY_BUILDING_ENERGY, tshost::ModifyBuildingEnergy(building, 100.0f, 0.0f, INFINITY));
    lib().Send(SIM_MSG_MODIFY_BUILDING_ENERGY, tshost::ModifyBuildingEnergy(building, INFINITY, 0.0f, 350.0f));
    // No pressure limit; an emission temperature clamped to 10000 K; nothing to
    // emit but germs; a subnormal emission temperature (0 K to the sim thread) clamped to 1 K.
    lib().Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(unlimited, Cell(1, 1), 0.2f, 0.1f, 300.0f, INFINITY, 0, E("Oxygen"), 1, 255));
    lib().Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(scorching, Cell(2, 1), 0.2f, 0.1f, 20000.0f, 5.0f, 0, E("Oxygen"), 1, 255));
    lib().Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(idle, Cell(3, 1), 0.2f, 0.0f, 300.0f, 5.0f, 50, E("Oxygen"), 1, 0));
    lib().Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(frozen, Cell(4, 1), 0.2f, 0.1f, 1e-40f, 5.0f, 0, E("Oxygen"), 1, 255));
    lib().Send(SIM_MSG_MODIFY_MASS_CONSUMER, tshost::ModifyMassConsumer(consumer, Cell(5, 1), 1.0f));
    r = RunFrame(0.4f);  // the outlets emit on the second step
    EXPECT_EQ(r.buildingOutputs()[0].temperature, 350.0f);
    EXPECT_TRUE(r.buildingsOverheated().empty());
    const std::span<const MassEmitterOutput> out = r.massEmitterOutputs();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].elementIdx, E("Oxygen"));
    EXPECT_FLOAT_EQ(out[0].mass, 0.1f);
    EXPECT_FLOAT_EQ(out[1].mass, 0.1f);
    EXPECT_EQ(out[1].temperature, SIM_MAX_TEMPERATURE);
    EXPECT_EQ(out[2].elementIdx, E("Oxygen"));
    EXPECT_EQ(out[2].mass, 0.0f);
    EXPECT_EQ(out[3].temperature, 1.0f);
    int64_t germs = 0;
    for (int32_t c = 0; c < width * height; ++c) germs += r.diseaseCount()[size_t(c)];
    EXPECT_EQ(germs, 50);
    EXPECT_EQ(r.massConsumerOutputs().size(), 2u);
    EXPECT_TRUE(ReportRecorder::Saw("clamped to 10000"));
    EXPECT_TRUE(ReportRecorder::Saw("clamped to 1.0"));
    ReportRecorder::Clear();

    // An infinite interval never comes round; a negative rate stops the intake.
    lib().Send(SIM_MSG_MODIFY_MASS_EMITTER,
         tshost::ModifyMassEmitter(unlimited, Cell(1, 1), INFINITY, 0.1f, 300.0f, INFINITY, 0, E("Oxygen"), 1, 255));
    lib().Send(SIM_MSG_MODIFY_MASS_CONSUMER, tshost::ModifyMassConsumer(consumer, Cell(5, 1), -1.0f));
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
    lib().Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
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
