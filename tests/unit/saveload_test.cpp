// World save and load through the C exports: exact bytes, old versions, the
// sanitising rules, and refused blobs that leave the running world alone; and
// corrupted saves.
#include <cmath>
#include <cstring>
#include <string>

#include "hostapi/runtime.h"
#include "hostkit/savegame.h"
#include "persistence/worldbuild.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

using SaveLoad = InProcessHost;

// A save whose every cell holds `element` (written with the host kit's writer).
tshost::SaveGame Blob(int32_t w, int32_t h, uint32_t element, float t, float m) {
    tshost::SaveGame s = tshost::SaveGame::Empty(w, h);
    for (SavedCell& c : s.cells) c = SavedCell{element, t, m};
    s.targetTemperature.assign(s.cells.size(), -1.0f);
    return s;
}

// The small world most tests start from: 3 x 2 cells of water.
WorldLayout SmallWater() { return WorldLayout(3, 2, Matter(kWater, 300.0f, 10.0f)); }

TEST_F(SaveLoad, SaveLoadSaveIsByteIdentical) {
    WorldLayout world(5, 4, Matter(kOxygen, 300.0f, 1.2f));
    world.at(0, 0) = Matter(kGranite, 310.0f, 800.0f);
    world.at(1, 0) = Matter(kWater, 290.0f, 900.0f);
    world.at(2, 3) = Matter(kVacuum, 0.0f, 0.0f);
    SetGerms(world.at(1, 1), 1, 77);
    world.cells[3].targetTemperature = 305.0f;
    Start(world);
    Post(SIM_MSG_SET_WORLD_FLAGS, SetWorldFlagsPayload{0, 0x21});
    const std::string first = SaveNow();
    ASSERT_EQ(first.size(), size_t(24 * 7 * 6 + 21));
    EXPECT_EQ(uint8_t(first[20]), 0x21);
    // A second BeginSave replaces the first buffer; a second EndSave has nothing to free.
    uint32_t length = 99;
    SIM_BeginSave(&length);
    const uint8_t* again = SIM_BeginSave(&length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(again), length), first);
    SIM_EndSave();
    SIM_EndSave();
    // Load the save into a fresh library and save again.
    SIM_Shutdown();
    SetUp();
    const FrameResults* loaded = Load(first);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(Germs(loaded, 6), (std::pair{1, 77}));
    EXPECT_EQ(SaveNow(), first);
}

TEST_F(SaveLoad, OldVersionsAndSanitising) {
    const uint32_t waterId = elements.records[kWater].id;
    for (int32_t version : {7, 8, 10, 11, 12}) {
        SIM_Shutdown();
        SetUp();
        tshost::SaveGame blob = Blob(5, 4, waterId, 300.0f, 100.0f);
        blob.cells[6] = SavedCell{0xABCDEFu, 300.0f, 5.0f};                      // unknown element
        blob.cells[7] = SavedCell{waterId, 0.0f, 5.0f};                          // 0 K -> 293 K
        blob.cells[8] = SavedCell{SIM_VACUUM_ELEMENT_ID, 50.0f, 5.0f};           // vacuum: 0 K, 0 kg
        blob.cells[11] = SavedCell{waterId, std::nanf(""), INFINITY};            // 293 K, 100 kg
        blob.cells[12] = SavedCell{waterId, 267.0f, 2e9f};                       // freezes, 1e9 kg
        blob.diseases[13] = SavedDisease{diseases.records[0].id, 40};
        blob.diseases[9] = SavedDisease{0x777, 40};                              // unknown disease
        blob.targetTemperature[13] = 280.0f;
        const FrameResults* r = Load(tshost::WriteSaveGame(blob, version));
        ASSERT_NE(r, nullptr);
        // Padded cell 6 is game cell 0 (row 1, column 1).
        // Ice at 5.5 K below water's low point in game cell 4.
        const std::tuple<int, float, float> contents[] = {
            {kVacuum, 0.0f, 0.0f}, {kWater, 5.0f, 293.0f}, {kVacuum, 0.0f, 0.0f}, {kWater, 100.0f, 293.0f}, {kIce, 1e9f, 268.5f}};
        for (int32_t c = 0; c < 5; ++c) EXPECT_EQ(Contents(r, c), contents[c]) << c;
        EXPECT_EQ(Germs(r, 5), (version >= 9 ? std::pair{0, 40} : std::pair{255, 0}));
        EXPECT_EQ(Germs(r, 3), (std::pair{255, 0}));
        const auto resaved = tshost::ReadSaveGame(SaveNow());
        ASSERT_TRUE(resaved) << resaved.error;
        // Version 7 has no target block: the creation value 0 stays.
        EXPECT_EQ(resaved.save->targetTemperature[13], version >= 8 ? 280.0f : 0.0f);
        EXPECT_EQ(resaved.save->worldFlags, 0);
    }
}

// CreateWorld and a load share the sanitising rules (what a load of each
// version applies is the old-versions test's): no negative mass or germ
// count, no subnormal mass or temperature, no temperature or target beyond
// the maximum gets into a cell.
TEST_F(SaveLoad, HostValuesAreSanitisedOnCreate) {
    WorldLayout world(6, 1, Matter(kGranite, 300.0f, 10.0f));
    world.at(0, 0).mass = -5.0f;
    world.at(4, 0).mass = 9e-41f;  // subnormal: no mass once the sim thread flushes it, at whatever temperature
    world.at(5, 0).temperature = 7e-40f;  // subnormal: 0 K under the cell's mass once flushed
    world.at(1, 0) = Matter(kGranite, std::nanf(""), 3e38f);
    world.at(2, 0).temperature = 2e4f;
    SetGerms(world.at(3, 0), 0, -40);
    world.at(1, 0).targetTemperature = INFINITY;
    ASSERT_EQ(Send(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world)), 6u);
    const auto save = tshost::ReadSaveGame(SaveNow());
    ASSERT_TRUE(save) << save.error;
    const int32_t row = save.save->width;  // padded cell of game cell x: row + 1 + x
    EXPECT_EQ(save.save->cells[size_t(row + 1)].mass, 0.0f);
    EXPECT_EQ(save.save->cells[size_t(row + 2)].temperature, 293.0f);
    EXPECT_EQ(save.save->cells[size_t(row + 2)].mass, 1e9f);
    EXPECT_EQ(save.save->cells[size_t(row + 3)].temperature, SIM_MAX_TEMPERATURE);
    EXPECT_EQ(save.save->diseases[size_t(row + 4)].diseaseId, 0u);
    EXPECT_EQ(save.save->diseases[size_t(row + 4)].diseaseCount, 0);
    EXPECT_EQ(save.save->targetTemperature[size_t(row + 2)], SIM_MAX_TEMPERATURE);
    EXPECT_EQ(save.save->cells[size_t(row + 5)].mass, 0.0f);
    EXPECT_EQ(save.save->cells[size_t(row + 6)].temperature, 293.0f);
}

TEST_F(SaveLoad, CreateWorldTooLargeForItsPayloadKeepsTheWorld) {
    std::string huge = tshost::CreateWorldPayload(SmallWater());
    ASSERT_EQ(Send(SIM_MSG_CREATE_WORLD, huge), 6u);
    const std::string before = SaveNow();
    const int32_t size[2] = {40000, 50000};
    std::memcpy(huge.data(), size, 8);
    EXPECT_EQ(Send(SIM_MSG_CREATE_WORLD, huge), 0u);
    EXPECT_TRUE(Reported("CreateWorld refused"));
    EXPECT_EQ(SaveNow(), before);
}

TEST_F(SaveLoad, ReplacedElementIdsAndAverageTemperatureFix) {
    // Give the table the replacement targets and the averaged element.
    elements.records[kSteam].id = 0x987DAC06u;
    elements.records[kOxygen].id = 0x3FE0146Eu;
    LoadTables(elements);
    for (int32_t version : {10, 11}) {
        tshost::SaveGame blob = Blob(5, 5, elements.records[kGranite].id, 300.0f, 100.0f);
        blob.cells[6] = SavedCell{0x0280CF79u, 400.0f, 1.0f};       // read as steam
        blob.cells[12] = SavedCell{0x3FE0146Eu, 500.0f, 1.0f};      // averaged from its neighbours
        blob.cells[13] = SavedCell{elements.records[kGranite].id, 320.0f, 100.0f};
        const FrameResults* r = Load(tshost::WriteSaveGame(blob, version));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->elementIdx[0], kSteam);
        // Neighbours of cell 12 (game cell 4): border cells excluded; steam at
        // 400 K, granite at 300 K (six) and 320 K (one).
        const float expected = version < 11 ? (400.0f + 6 * 300.0f + 320.0f) / 8.0f : 500.0f;
        EXPECT_FLOAT_EQ(r->temperature[4], expected);
    }
}

// The border holds 9999 kg at 0 K and the passes never look past it: one that
// liquid can be pushed into (stepping off the grid), or that melts or
// sublimates (0 K matter in the world), builds no world.
TEST_F(SaveLoad, ABorderThatIsNotInertSolidBuildsNoWorld) {
    const std::string blob = tshost::WriteSaveGame(Blob(5, 4, elements.records[kWater].id, 300.0f, 10.0f));
    const struct {
        uint8_t state, melt, sublimate;
        const char* report;
    } borders[] = {{SIM_STATE_GAS, ts::kNoElement, ts::kNoElement, "is not solid"},
                   {SIM_STATE_LIQUID, ts::kNoElement, ts::kNoElement, "is not solid"},
                   {SIM_STATE_VACUUM, ts::kNoElement, ts::kNoElement, "is not solid"},
                   {SIM_STATE_SOLID, kWater, ts::kNoElement, "melts or sublimates"},
                   {SIM_STATE_SOLID, ts::kNoElement, kVacuum, "melts or sublimates"}};
    for (const auto& b : borders) {
        ClearReports();
        ts::ElementTable table = elements;
        table.records[kBorder].stateFlags = b.state;
        table.records[kBorder].highTempTransitionIndex = b.melt;
        table.records[kBorder].sublimateIndex = b.sublimate;
        LoadTables(table);
        EXPECT_EQ(Send(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(SmallWater())), 0u);
        EXPECT_EQ(Send(SIM_MSG_LOAD_SAVE_GAME, blob), 0u);
        EXPECT_TRUE(Reported(std::string("the border element (id 0x6D95058C) ") + b.report)) << b.report;
    }
    LoadTables(elements);
    EXPECT_NE(Send(SIM_MSG_LOAD_SAVE_GAME, blob), 0u);
}

TEST_F(SaveLoad, RefusedBlobsLeaveTheWorldRunning) {
    Start(SmallWater());
    const std::string good = SaveNow();
    // Every truncation and byte change is corruptsave's sweep; here the
    // dimensions no single byte change reaches.
    auto withDimensions = [&good](int32_t w, int32_t h) {
        std::string b = good;
        std::memcpy(b.data() + 12, &w, 4);
        std::memcpy(b.data() + 16, &h, 4);
        return b;
    };
    // 5 x 4 cells, so 2 x 10 and 10 x 2 have the length: only the border refuses them.
    EXPECT_EQ(Send(SIM_MSG_LOAD_SAVE_GAME, withDimensions(2, 10)), 0u);
    EXPECT_EQ(Send(SIM_MSG_LOAD_SAVE_GAME, withDimensions(10, 2)), 0u);
    EXPECT_EQ(Send(SIM_MSG_LOAD_SAVE_GAME, withDimensions(1 << 20, 1 << 20)), 0u);
    EXPECT_EQ(Send(SIM_MSG_LOAD_SAVE_GAME, std::string("SIMS")), 0u);
    EXPECT_TRUE(Reported("LoadSaveGame refused"));
    // The world and its thread carry on.
    Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{0, 0.5f});
    const FrameResults* r = RunFrame(0.0f);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->insulation[0], 127);
    EXPECT_EQ(SaveNow().size(), good.size());
}

TEST_F(SaveLoad, SettleWorldDropsUnstableCells) {
    elements.records[kIce].stateFlags = SIM_STATE_SOLID | SIM_ELEMENT_UNSTABLE;
    LoadTables(elements);
    // One column, bottom up: granite, vacuum, vacuum, ice.
    WorldLayout world(1, 4, Matter(kVacuum, 0.0f, 0.0f));
    world.at(0, 0) = Matter(kGranite, 300.0f, 100.0f);
    world.at(0, 3) = Matter(kIce, 260.0f, 40.0f);
    ASSERT_EQ(Send(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world)), 4u);
    EXPECT_EQ(Send(SIM_MSG_SETTLE_WORLD, ""), 0u);
    const auto saved = tshost::ReadSaveGame(SaveNow());
    ASSERT_TRUE(saved) << saved.error;
    auto cellAt = [&](int32_t y) { return saved.save->cells[size_t((y + 1) * 3 + 1)]; };
    EXPECT_EQ(cellAt(0).elementId, elements.records[kGranite].id);
    EXPECT_EQ(cellAt(1).elementId, elements.records[kIce].id);
    EXPECT_EQ(cellAt(1).mass, 40.0f);
    for (int32_t y : {2, 3}) EXPECT_EQ(cellAt(y).elementId, SIM_VACUUM_ELEMENT_ID) << y;
}

TEST_F(SaveLoad, GridAndSettleNeedAWorldAndTheGridItsSize) {
    EXPECT_EQ(Send(SIM_MSG_LOAD_CELL_BYTE_GRID, std::string(4, '\0')), 0u);
    EXPECT_EQ(Send(SIM_MSG_SETTLE_WORLD, ""), 0u);
    uint32_t length = 5;
    EXPECT_EQ(SIM_BeginSave(&length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(Reported("there is no world"));
    Start(SmallWater());
    EXPECT_EQ(Send(SIM_MSG_LOAD_CELL_BYTE_GRID, std::string(5, '\xff')), 0u);
    EXPECT_TRUE(Reported("LoadCellByteGrid refused"));
    EXPECT_EQ(Send(SIM_MSG_LOAD_CELL_BYTE_GRID, std::string(6, '\x01')), 0u);
    Post(SIM_MSG_SET_CELL_BYTE_GRID, SetCellByteGridPayload{0, 255, {0, 0, 0}});
    RunFrame(0.0f);
    EXPECT_FALSE(Reported("no cell byte grid"));
}

// Corrupted saves: every truncation and every single-byte change of a small
// valid save of each version 7..13 is either refused, leaving the running
// world as it was, or loads a world whose cells keep their invariants.
class CorruptSave : public InProcessHost {
protected:
    void SetUp() override {
        InProcessHost::SetUp();
        // Tens of thousands of refusals: without a callback no report (and no
        // stack walk) is made for them.
        SIM_Initialize(nullptr);
        LoadTables(elements);
    }

    // A 2 x 1 world: water with germs and a relaxation target, and granite.
    std::string SmallSave(int32_t version) const {
        tshost::SaveGame save = tshost::SaveGame::Empty(4, 3);
        for (SavedCell& cell : save.cells) cell = SavedCell{SIM_BORDER_ELEMENT_ID, 0.0f, 9999.0f};
        save.cells[5] = SavedCell{elements.records[kWater].id, 300.0f, 50.0f};
        save.cells[6] = SavedCell{elements.records[kGranite].id, 310.0f, 800.0f};
        save.diseases[5] = SavedDisease{diseases.records[0].id, 100};
        save.targetTemperature[5] = 290.0f;
        return tshost::WriteSaveGame(save, version);
    }

    // Empty when every cell inside the border keeps its invariants.
    static std::string BrokenInvariant(const ts::World& world) {
        const ts::CellArrays& u = world.updatedCells;
        for (size_t c = 0; c < world.cellCount(); ++c) {
            if (world.ReportableGameCell(int32_t(c)) < 0) continue;
            const float m = u.mass[c], t = u.temperature[c];
            const bool matter = std::isfinite(m) && m >= 0.0f && std::isfinite(t) && t >= 0.0f &&
                                (m == 0.0f || (t > 0.0f && t <= SIM_MAX_TEMPERATURE));
            const bool element = world.elements.Contains(u.elementIdx[c]);
            const bool germs = u.diseaseIdx[c] == ts::kNoDisease
                                   ? u.diseaseCount[c] == 0
                                   : world.diseases.Contains(u.diseaseIdx[c]) && u.diseaseCount[c] >= 1;
            const bool target = !(world.targetTemperature[c] > SIM_MAX_TEMPERATURE);
            if (!(matter && element && germs && target))
                return "cell " + std::to_string(c) + ": element " + std::to_string(u.elementIdx[c]) + ", " +
                       std::to_string(m) + " kg at " + std::to_string(t) + " K, disease " +
                       std::to_string(u.diseaseIdx[c]) + " x " + std::to_string(u.diseaseCount[c]);
        }
        return {};
    }
};

TEST_F(CorruptSave, EveryTruncationAndByteChangeIsRefusedOrLoadsSoundly) {
    Start(WorldLayout(3, 2, Matter(kWater, 300.0f, 10.0f)));
    const std::string running = SaveNow();
    const ts::Runtime& rt = ts::GetRuntime();
    size_t refused = 0, loaded = 0;
    for (int32_t version = 7; version <= 13; ++version) {
        SCOPED_TRACE(version);
        const std::string good = SmallSave(version);
        // Refused variants go through the real handler; a world that one of
        // them touched would show in the save at the end.
        auto check = [&](const std::string& variant, const char* what, size_t at) {
            ts::SaveLayout layout;
            std::string error;
            const auto* bytes = reinterpret_cast<const uint8_t*>(variant.data());
            if (!ts::ValidateSave(bytes, variant.size(), layout, error)) {
                ++refused;
                ASSERT_EQ(Send(SIM_MSG_LOAD_SAVE_GAME, variant), 0u) << what << " " << at;
                return;
            }
            ++loaded;
            const auto world = ts::WorldFromSave(bytes, layout, rt.elementTable, rt.diseaseTable);
            const std::string broken = BrokenInvariant(*world);
            ASSERT_EQ(broken, "") << what << " " << at << " of version " << version;
        };
        for (size_t length = 0; length < good.size(); ++length) check(good.substr(0, length), "truncation", length);
        for (size_t at = 0; at < good.size(); ++at) {
            std::string variant = good;
            for (int value = 0; value < 256; ++value) {
                if (char(value) == good[at]) continue;
                variant[at] = char(value);
                check(variant, "byte", at);
                if (HasFatalFailure()) return;
            }
        }
    }
    // Some of each: the header refuses, the cells load.
    EXPECT_GT(refused, 10000u);
    EXPECT_GT(loaded, 100000u);
    EXPECT_EQ(SaveNow(), running);
    // The world still runs.
    ASSERT_NE(RunFrame(0.2f), nullptr);
}

}  // namespace
}  // namespace tstest
