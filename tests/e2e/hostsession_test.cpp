// A host session through the loaded library: lifecycle answers, refusals
// reported with their location, a table refused whole.
#include "e2e/hostfixture.h"

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

// Reports reach the host with the place they were raised (the stack text's
// form is the report channel's unit test).
TEST_F(HostSession, RefusalsAreReportedWithTheirLocation) {
    // A queued message too short for its payload, and an element table with a count of 255.
    const uint8_t shortPayload[3] = {1, 2, 3};
    EXPECT_EQ(lib().SIM_HandleMessage(SIM_MSG_MODIFY_CELL, 3, shortPayload), 0u);
    const int32_t tooMany = 255;
    EXPECT_EQ(lib().SIM_HandleMessage(SIM_MSG_LOAD_ELEMENT_TABLE, 4, &tooMany), 0u);
    const auto reports = ReportRecorder::Take();
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& r : reports) {
        EXPECT_EQ(r.code, SIM_CALLBACK_ASSERTION);
        EXPECT_TRUE(r.line > 0 && r.file.find(".cpp") != std::string::npos && !r.callStack.empty()) << r.file;
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

}  // namespace
}  // namespace tstest
