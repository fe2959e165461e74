// A host session through the loaded library: lifecycle answers, reports with
// their location and call stack, and the frame loop over a saved world.
#include <cctype>

#include "e2e/hostfixture.h"
#include "hostkit/payloads.h"
#include "hostkit/savegame.h"

namespace tstest {
namespace {

using HostSession = HostTest;
using SampleWorld = SampleHost;

TEST_F(HostSession, LifecycleAnswers) {
    // Initialising twice tears the first simulation down; tables are gone.
    lib().SIM_Initialize(&ReportRecorder::Callback);
    EXPECT_EQ(lib().Send(SIM_MSG_SET_WORLD_FLAGS, tshost::SetWorldFlags(0, 1)), 0u);
    EXPECT_EQ(lib().SendEmpty(SIM_MSG_NO_OP), 0u);
    EXPECT_EQ(lib().SendEmpty(0x01020304u), 0u);  // unknown ids are ignored
    EXPECT_EQ(lib().Send(SIM_MSG_DIG_CELL, tshost::DigCell(0, 1, 0)), 0u);
    EXPECT_EQ(lib().Send(SIM_MSG_STORE_RECORD_LIST, tshost::StoreRecordList(0, 0)), 0u);
    // No world yet: an exchange has nothing to return.
    EXPECT_EQ(lib().ExchangeFrame(""), nullptr);
    // After shutdown every message answers 0.
    lib().SIM_Shutdown();
    EXPECT_EQ(lib().SendEmpty(SIM_MSG_SETTLE_WORLD), 0u);
    EXPECT_EQ(lib().Send(SIM_MSG_SET_WORLD_FLAGS, tshost::SetWorldFlags(0, 1)), 0u);
    EXPECT_EQ(lib().SIM_HandleMessage(SIM_MSG_LOAD_ELEMENT_TABLE, 0, nullptr), 0u);
    EXPECT_EQ(lib().Send(SIM_MSG_END_FRAME, tshost::EndFrame(0.2f, 0, 0, 1, 1)), 0u);
    lib().SIM_Initialize(&ReportRecorder::Callback);
}

TEST_F(HostSession, ReportsCarryMessageLocationAndStack) {
    // A queued message too short for its payload is refused with a report.
    const uint8_t shortPayload[3] = {1, 2, 3};
    EXPECT_EQ(lib().SIM_HandleMessage(SIM_MSG_MODIFY_CELL, 3, shortPayload), 0u);
    // An element table with a count of 255 is refused.
    const int32_t tooMany = 255;
    EXPECT_EQ(lib().SIM_HandleMessage(SIM_MSG_LOAD_ELEMENT_TABLE, 4, &tooMany), 0u);
    const auto reports = ReportRecorder::Take();
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& r : reports) {
        EXPECT_EQ(r.code, SIM_CALLBACK_ASSERTION);
        EXPECT_GT(r.line, 0);
        EXPECT_NE(r.file.find(".cpp"), std::string::npos);
        EXPECT_FALSE(r.callStack.empty());
        // Every stack line is "file:line".
        size_t start = 0;
        while (start < r.callStack.size()) {
            const size_t end = std::min(r.callStack.find('\n', start), r.callStack.size());
            const std::string line = r.callStack.substr(start, end - start);
            EXPECT_NE(line.rfind(':'), std::string::npos) << line;
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line.back()))) << line;
            start = end + 1;
        }
    }
    EXPECT_NE(reports[0].message.find("refused"), std::string::npos);
    EXPECT_NE(reports[1].message.find("255"), std::string::npos);
}

TEST_F(SampleWorld, TableWithBytesLeftOverIsRefused) {
    LoadTables();
    std::vector<tshost::ElementDesc> small(tables.elements.begin(), tables.elements.begin() + 3);
    EXPECT_EQ(lib().SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(small) + "xy"), 0u);
    EXPECT_TRUE(ReportRecorder::Saw("2 bytes left over"));
    // The sample table is still the one in use.
    const tshost::FrameResultsView r = Load(tshost::WorldLayout(2, 1, tshost::Matter(E("Granite"), 300.0f, 10.0f)));
    ASSERT_TRUE(r.valid());
    EXPECT_EQ(r.elementIdx()[1], E("Granite"));
}

TEST_F(SampleWorld, FrameLoopOverASavedWorld) {
    LoadTables();
    tshost::WorldLayout world(8, 6, tshost::Matter(E("Oxygen"), 293.0f, 1.0f));
    world.Fill(0, 0, 8, 1, tshost::Matter(E("Granite"), 290.0f, 2700.0f));
    const tshost::FrameResultsView loaded = Load(world);
    ASSERT_TRUE(loaded.valid());
    EXPECT_EQ(loaded.elementIdx()[0], E("Granite"));
    EXPECT_EQ(loaded.elementIdx()[8], E("Oxygen"));

    lib().Send(SIM_MSG_DIG_CELL, tshost::DigCell(3, 21, 0));
    lib().Send(SIM_MSG_ADD_MASS, tshost::AddMass(8, 22, 0.5f, 303.0f, 0, E("Oxygen"), 255));
    EndFrame(0.0f);  // messages only: no step moves the gas yet
    EXPECT_EQ(Exchange().frameCount(), 0);
    const tshost::FrameResultsView r = Exchange();
    EXPECT_EQ(r.frameCount(), 1);
    ASSERT_EQ(r.cellCallbacks().size(), 1u);
    EXPECT_EQ(r.cellCallbacks()[0], 21u);
    ASSERT_EQ(r.dugMatter().size(), 1u);
    EXPECT_EQ(r.dugMatter()[0].mass, 2700.0f);
    ASSERT_EQ(r.addMassResults().size(), 1u);
    EXPECT_EQ(r.addMassResults()[0].accepted, 1);
    EXPECT_FLOAT_EQ(r.mass()[8], 1.5f);
    EXPECT_EQ(r.elementIdx()[3], E("Vacuum"));
    ASSERT_EQ(r.solidChanges().size(), 1u);
    EXPECT_EQ(r.solidChanges()[0].gameCell, 3);
    // Since initialising (the sample tables and the world too): no report.
    for (const auto& report : ReportRecorder::Take()) ADD_FAILURE() << "report: " << report.message;
    // A second of game time: oxygen spreads into the dug cell.
    const tshost::FrameResultsView later = RunFrame(1.0f);
    EXPECT_EQ(later.elementIdx()[3], E("Oxygen"));
    EXPECT_GT(later.mass()[3], 0.0f);
    // Save and read back.
    const std::string blob = lib().SaveWorld();
    const auto parsed = tshost::ReadSaveGame(blob);
    ASSERT_TRUE(parsed) << parsed.error;
    EXPECT_EQ(parsed.save->width, 10);
    EXPECT_EQ(parsed.save->cells[size_t(1 * 10 + 4)].elementId, tables.elements[E("Oxygen")].record.id);
    EXPECT_EQ(parsed.save->cells[size_t(1 * 10 + 1)].elementId, tables.elements[E("Granite")].record.id);
}

}  // namespace
}  // namespace tstest
