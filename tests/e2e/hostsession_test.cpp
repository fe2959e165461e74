// A host session through the loaded library: lifecycle answers, refusals
// reported with their location, a table refused whole; and SYSINFO_Acquire and
// SYSINFO_Release on this machine (the member order and values on a made-up
// machine are the unit test's; here the real files and the processor's own
// identification are read).
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

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

// --- the machine description ---------------------------------------------------

using Json = nlohmann::ordered_json;
using SysInfoTest = HostTest;

TEST_F(SysInfoTest, DescribesThisMachineWithTheFeaturesOfThisProcessor) {
    // Before any acquire, and twice: nothing happens.
    lib().SYSINFO_Release();
    lib().SYSINFO_Release();

    const char* text = lib().SYSINFO_Acquire();
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(Json::accept(text)) << text;
    const Json machine = Json::parse(text);
    std::vector<std::string> keys;
    for (const auto& item : machine.items()) keys.push_back(item.key());
    keys.resize(3);  // OS, CPU and at least one memory member come first
    EXPECT_EQ(keys, (std::vector<std::string>{"OS", "CPU", "RAM0"})) << text;
    EXPECT_GE(machine["CPU"]["numCores"].get<uint64_t>(), 1u);

    // Features: the flags the kernel also reports, in their fixed order.
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    const std::string flags = " " + line.substr(line.find(':') + 1) + " ";
    std::string expected;
    for (const auto& [flag, name] : {std::pair{" sse ", "SSE,"}, {" sse2 ", "SSE2,"}, {" pni ", "SSE3,"},
                                     {" ssse3 ", "SSSE3,"}, {" sse4_1 ", "SSE41,"}, {" sse4_2 ", "SSE42,"},
                                     {" avx ", "AVX,"}})
        if (flags.find(flag) != std::string::npos) expected += name;
    EXPECT_FALSE(expected.empty()) << line;
    EXPECT_EQ(machine["CPU"]["features"], expected);

    // A second acquire builds the text anew; release twice is harmless.
    const char* again = lib().SYSINFO_Acquire();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Json::parse(again).size(), machine.size());
    lib().SYSINFO_Release();
    lib().SYSINFO_Release();
}

}  // namespace
}  // namespace tstest
