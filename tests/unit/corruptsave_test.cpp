// Corrupted saves: every truncation and every single-byte change of a small
// valid save of each version 7..13 is either refused, leaving the running
// world as it was, or loads a world whose cells keep their invariants.
#include <cmath>
#include <string>

#include "hostapi/runtime.h"
#include "hostkit/savegame.h"
#include "persistence/worldbuild.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

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
