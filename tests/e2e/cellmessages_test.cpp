// Messages on single cells through the loaded library, each frame without a
// physics step unless a test says otherwise: what the cell holds afterwards,
// what the host is told, and what is refused.
#include <cmath>
#include <limits>
#include <tuple>

#include "e2e/hostfixture.h"

namespace tstest {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

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
// cell with mass that would be at 0 K gets the small floor of the other types.
// Replace types given a negative mass leave an empty vacuum cell.
TEST_F(CellMessages, ReplaceTemperatureAndMassClamps) {
    LoadTables();
    Load(tshost::WorldLayout(8, 1, tshost::Matter(E("Oxygen"), 300.0f, 1.0f)));
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
        {SIM_REPLACE_REPLACE, 50.0f, 12000.0f, 50.0f, hottest, false, 1},  // type 1 keeps its clamp
        {SIM_REPLACE_REPLACE, -5.0f, 300.0f, 0.0f, 0.0f, true, 0},
        {SIM_REPLACE_AND_DISPLACE, -5.0f, 300.0f, 0.0f, 0.0f, true, 0},
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
// once, in the refusal form of its list, and changes no cell.
TEST_F(CellMessages, RefusedMessagesStillAnswer) {
    LoadTables();
    Load(tshost::WorldLayout(3, 1, tshost::Matter(E("Oxygen"), 300.0f, 1.0f)));
    const uint8_t oxygen = E("Oxygen");
    const AddMassPayload adds[] = {
        tshost::AddMass(0, 1, -1.0f, 300.0f, 0, oxygen, 255),
        tshost::AddMass(0, 2, 1.0f, 0.0f, 0, oxygen, 255),
        tshost::AddMass(0, 3, 1.0f, 20000.0f, 0, oxygen, 255),
        tshost::AddMass(0, 4, NAN, 300.0f, 0, oxygen, 255),
        tshost::AddMass(0, 5, 1.0f, kInf, 0, oxygen, 255),
        tshost::AddMass(99, 6, 1.0f, 300.0f, 0, oxygen, 255),
        tshost::AddMass(0, 7, 1.0f, 300.0f, 0, 200, 255),
        tshost::AddMass(0, 8, 1.0f, 300.0f, 5, oxygen, 200),
    };
    for (const AddMassPayload& a : adds) lib().Send(SIM_MSG_ADD_MASS, a);
    lib().Send(SIM_MSG_CONSUME_MASS, tshost::ConsumeMass(-1, 11, 1.0f, oxygen, 3));
    lib().Send(SIM_MSG_CONSUME_MASS, tshost::ConsumeMass(0, 12, NAN, oxygen, 3));
    lib().Send(SIM_MSG_CONSUME_MASS, tshost::ConsumeMass(0, 13, -1.0f, oxygen, 3));  // would add 1 kg
    lib().Send(SIM_MSG_CONSUME_DISEASE, tshost::ConsumeDisease(3, 21, 1.0f, 100));
    lib().Send(SIM_MSG_DIG_CELL, tshost::DigCell(3, 31, 0));
    ModifyCell(3, 32, oxygen, 1.0f, 300.0f, SIM_REPLACE_ADD);
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
    for (int32_t c = 0; c < 3; ++c) {
        EXPECT_EQ(r.elementIdx()[size_t(c)], oxygen);
        EXPECT_EQ(r.mass()[size_t(c)], 1.0f);
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
    tables.diseases[1].growth[E("Water")].spreadRate = kInf;
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

}  // namespace
}  // namespace tstest
