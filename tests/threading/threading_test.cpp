// Threads at work: the in-process host's frame cycle (lifecycles while a world
// runs, the conduit manager from a second host thread, random host traffic),
// and the report channel (what a report carries, where it goes, and reports
// from several threads at once). Run under ThreadSanitizer in CI.
#include <atomic>
#include <chrono>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/report.h"
#include "hostkit/savegame.h"
#include "unit/componentworld.h"
#include "unit/inprocesshost.h"

namespace tstest {
namespace {

// Lifecycles that games go through while a world runs: initialising again,
// loading again. Run under ThreadSanitizer in CI (the exit without shutdown is
// the lifecycle_host program's).
using Lifecycle = InProcessHost;

// The second SIM_Initialize stops the running thread before it replaces
// anything that thread may use (its start line goes through the logger).
TEST_F(Lifecycle, InitializeAgainWhileRunning) {
    for (int round = 0; round < 20; ++round) {
        ASSERT_NE(StartFloorAndWater(16, 12, 16), nullptr);
        if (round % 2 == 1) {
            EndFrame(1.0f);
            ASSERT_NE(Exchange(), nullptr);  // a cycle of five steps runs now
        }
        SetUp();  // SIM_Initialize again, and the tables
    }
    ASSERT_NE(StartFloorAndWater(16, 12, 16), nullptr);
    const FrameResults* r = RunFrame(0.2f);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->frameCount, 1);
    EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(Lifecycle, LoadAgainWhileRunning) {
    ASSERT_NE(StartFloorAndWater(8, 6, 8), nullptr);
    for (int round = 1; round < 10; ++round) {
        EndFrame(0.4f);
        ASSERT_NE(Exchange(), nullptr);  // the next load meets a running cycle
        // Oxygen over a water floor, one column wider each round.
        gameWidth = 8 + round;
        tshost::SaveGame save = tshost::SaveGame::Empty(gameWidth + 2, gameHeight + 2);
        for (int32_t x = 1; x <= gameWidth; ++x)
            for (int32_t y = 1; y <= gameHeight; ++y)
                save.cells[size_t(y * (gameWidth + 2) + x)] =
                    SavedCell{elements.records[y == 1 ? kWater : kOxygen].id, 300.0f, y == 1 ? 200.0f : 1.0f};
        ASSERT_NE(Send(SIM_MSG_LOAD_SAVE_GAME, tshost::WriteSaveGame(save)), 0u);
    }
    // The frames after the last load run on its world: the last cell is on its grid only.
    Post(SIM_MSG_ADD_MASS, AddMassPayload{Cell(gameWidth - 1, gameHeight - 1), 9, 0.5f, 300.0f, 0, kOxygen, 255, {0, 0}});
    const FrameResults* r = RunFrame(0.2f);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->frameCount, 1);
    EXPECT_EQ(r->elementIdx[Cell(gameWidth - 1, 0)], kWater);
    ASSERT_EQ(r->addMassResultsCount, 1);
    EXPECT_EQ(r->addMassResults[0].accepted, 1);
    EXPECT_EQ(ReportCount(), 0u);
}

// Immediate messages that change the world land between cycles: the flag
// that chooses how unstable solids settle is read by every step of a cycle
// that runs while the host sends it.
TEST_F(Lifecycle, WorldFlagsChangeBetweenCycles) {
    elements.records[kIce].stateFlags = SIM_STATE_SOLID | SIM_ELEMENT_UNSTABLE;
    LoadTables(elements);
    WorldLayout world(64, 48, Matter(kOxygen, 260.0f, 1.0f));
    world.Fill(0, 0, 64, 1, Matter(kGranite, 260.0f, 500.0f));
    world.Fill(0, 8, 64, 40, Matter(kIce, 260.0f, 50.0f));
    ASSERT_NE(Start(world), nullptr);
    for (int frame = 0; frame < 20; ++frame) {
        EndFrame(4.0f);  // twenty steps, each settling the ice
        ASSERT_NE(Exchange(), nullptr);
        for (int i = 0; i < 20; ++i) Post(SIM_MSG_SET_WORLD_FLAGS, SetWorldFlagsPayload{1, uint8_t(i & 1)});
    }
    ASSERT_NE(RunFrame(0.2f), nullptr);
    EXPECT_EQ(ReportCount(), 0u);
}

// The conduit manager used from a second host thread while frames run: its
// lock serialises the exports and the sim thread's removal passes, and the
// energy it queues for buildings reaches them.
using ConduitThreads = InProcessHost;

TEST_F(ConduitThreads, ExportsRunBesideTheFrameCycle) {
    tshost::WorldCell granite = Matter(kGranite, 300.0f, 100.0f);
    granite.insulation = 0;
    ASSERT_NE(Start(WorldLayout(8, 4, granite)), nullptr);
    for (int32_t x = 0; x < 8; ++x)
        for (int32_t y = 0; y < 4; ++y) Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{Cell(x, y), 0.0f});
    BuildingHeatExchangeBody body{kGranite, {}, 10.0f, 300.0f, 1.0f, 1000.0f, 0.0f, 0, 0, 1, 1};
    Post(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, AddBuildingHeatExchangePayload{1, body});
    RunFrame(0.0f);
    const uint32_t building = 0;
    ConduitTemperatureManager_Initialize();
    const uint32_t pipe = ConduitTemperatureManager_Add(350.0f, 1.0f, elements.records[kWater].id, building, 7.9f,
                                                        1.0f, 0);
    ASSERT_NE(pipe, SIM_NO_HANDLE);

    std::atomic<bool> done{false};
    std::thread other([&] {
        const uint32_t water = elements.records[kWater].id;
        for (int i = 0; i < 4000 && !done.load(); ++i) {
            const uint32_t h = ConduitTemperatureManager_Add(310.0f, 0.5f, water, SIM_NO_HANDLE, 1.0f, 1.0f, 0);
            ConduitTemperatureManager_Set(h, 305.0f, 0.5f, water);
            ConduitTemperatureManager_Remove(h);
            ConduitTemperatureManager_Update(0.2f, nullptr);
        }
    });
    float last = 300.0f;
    for (int frame = 0; frame < 200; ++frame) {
        const FrameResults* r = Exchange();
        ASSERT_NE(r, nullptr);
        if (r->buildingOutputsCount == 1) {
            const BuildingOutputEntry out = r->buildingOutputs[0];
            EXPECT_GE(out.temperature, last);  // only ever warmed by the pipe
            last = out.temperature;
            ConduitTemperatureManager_Update(0.2f, r->buildingOutputs);
        }
        EndFrame(0.2f);
    }
    done.store(true);
    other.join();
    EXPECT_GT(last, 300.0f);
    EXPECT_LT(last, 350.0f);
    ConduitTemperatureManager_Shutdown();
    EXPECT_EQ(ReportCount(), 0u);
}

// Thousands of frames of random host traffic: the handshake never deadlocks,
// results keep their one-exchange latency and no report is raised.
using Stress = InProcessHost;

TEST_F(Stress, RandomTrafficNeverDeadlocks) {
    ASSERT_NE(StartFloorAndWater(24, 16, 24), nullptr);
    std::mt19937 rng(1234);
    auto cell = [&] { return int32_t(rng() % uint32_t(24 * 16)); };
    uint32_t nextCallback = 1;
    uint32_t pendingDigs = 0;  // callbacks expected in the results of the next-but-one exchange
    uint32_t seenCallbacks = 0;
    uint32_t sentCallbacks = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int frame = 0; frame < 3000 && std::chrono::steady_clock::now() < deadline; ++frame) {
        const int messages = int(rng() % 6);
        for (int m = 0; m < messages; ++m) {
            switch (rng() % 5) {
                case 0:
                    Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulationPayload{cell(), float(rng() % 100) / 100.0f});
                    break;
                case 1:
                    Post(SIM_MSG_DIG_CELL, DigCellPayload{cell(), nextCallback++, uint8_t(rng() % 2), {0, 0, 0}});
                    ++pendingDigs;
                    break;
                case 2:
                    Post(SIM_MSG_ADD_MASS, AddMassPayload{cell(), SIM_NO_CALLBACK, 0.5f, 310.0f, 0, kOxygen, 255,
                                                          {0, 0}});
                    break;
                case 3:
                    Post(SIM_MSG_MODIFY_CELL_ENERGY,
                         ModifyCellEnergyPayload{cell(), float(int(rng() % 200) - 100), 400.0f, 0});
                    break;
                default:
                    Post(SIM_MSG_SET_FRAME_PARAMETERS, SetFrameParametersPayload{0.001f, 0.01f, 0.001f, 0.001f, 0});
            }
        }
        // Closes 0..2 frames with assorted dt, then maybe exchanges.
        const int ends = int(rng() % 3);
        for (int e = 0; e < ends; ++e) EndFrame(float(rng() % 7) * 0.1f);
        if (ends == 0) {
            // Messages wait in the current frame until a later EndFrame.
            continue;
        }
        sentCallbacks += pendingDigs;
        pendingDigs = 0;
        if (rng() % 4 != 0) {
            const FrameResults* r = Exchange();
            ASSERT_NE(r, nullptr);
            seenCallbacks += uint32_t(r->cellCallbacksCount);
        }
    }
    // Two more exchanges bring every closed frame's results back.
    EndFrame(0.0f);
    seenCallbacks += uint32_t(Exchange()->cellCallbacksCount);
    seenCallbacks += uint32_t(Exchange()->cellCallbacksCount);
    EXPECT_EQ(seenCallbacks, sentCallbacks);
    EXPECT_EQ(ReportCount(), 0u);
}

// The report channel: what a report carries, where it goes, and reports from
// several threads at once (run under ThreadSanitizer with the threading tests).
using ReportTest = RecordedReports;

// The reports so far, taken from the recorder: all of them assertion reports.
std::vector<RecordedReport> Seen() {
    std::vector<RecordedReport> seen = ReportRecorder::Take();
    for (const RecordedReport& r : seen) EXPECT_EQ(r.code, SIM_CALLBACK_ASSERTION) << r.message;
    return seen;
}

TEST_F(ReportTest, MessageLocationAndCallStack) {
    const int line = __LINE__ + 1;
    const bool held = TS_CHECK(1 + 1 == 3);
    EXPECT_FALSE(held);
    const std::vector<RecordedReport> seen = Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, "Assert failed: 1 + 1 == 3");
    EXPECT_EQ(seen[0].line, line);
    EXPECT_NE(seen[0].file.find("threading_test.cpp"), std::string::npos);
    // The stack starts at the reporting site: its first line is this file.
    const std::string& stack = seen[0].callStack;
    ASSERT_FALSE(stack.empty());
    EXPECT_NE(stack.substr(0, stack.find('\n')).find("threading_test.cpp:" + std::to_string(line)), std::string::npos)
        << stack;
    EXPECT_TRUE(std::regex_match(stack, std::regex(R"(([^\n:]+:\d+\n)*[^\n:]+:\d+)"))) << stack;
    EXPECT_TRUE(TS_CHECK(2 + 2 == 4));
    EXPECT_EQ(ReportCount(), 0u);
}

// Long messages are cut to 255 characters; without a callback nobody is
// called. The channel knows only its sink: another sink gets the report with
// its own context, and no sink at all drops it.
TEST_F(ReportTest, LongMessagesAreCutAndTheSinkAloneReceivesReports) {
    TS_WARN("%s-tail", std::string(400, 'x').c_str());
    const std::vector<RecordedReport> seen = Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, std::string(255, 'x'));
    ts::GetRuntime().callback.store(nullptr);
    TS_WARN("nobody listens");
    ts::GetRuntime().callback.store(&ReportRecorder::Callback);
    std::vector<std::string> own;
    ts::SetReportSink(
        [](void* context, const char* message, const char* file, int32_t line) {
            static_cast<std::vector<std::string>*>(context)->push_back(std::string(message) + "@" +
                                                                       std::to_string(line) + ":" + file);
        },
        &own);
    const int line = __LINE__ + 1;
    TS_WARN("to the own sink");
    ts::SetReportSink(nullptr, nullptr);
    TS_WARN("to nobody");
    ts::InstallReportSink();
    EXPECT_EQ(ReportCount(), 0u);
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].rfind("to the own sink@" + std::to_string(line) + ":", 0), 0u) << own[0];
    EXPECT_NE(own[0].find("threading_test.cpp"), std::string::npos);
}

// Each message arrives intact; messages of one thread come in its order.
TEST_F(ReportTest, ThreadsReportTheirOwnMessages) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i) TS_WARN("thread %d report %d", t, i);
        });
    for (auto& thread : threads) thread.join();
    const std::vector<RecordedReport> seen = Seen();
    ASSERT_EQ(seen.size(), 100u);
    std::vector<int> next(4, 0);
    for (const RecordedReport& s : seen) {
        const int t = s.message.size() > 7 ? s.message[7] - '0' : -1;
        ASSERT_TRUE(t >= 0 && t < 4) << s.message;
        EXPECT_EQ(s.message, "thread " + std::to_string(t) + " report " + std::to_string(next[size_t(t)]++));
    }
}

}  // namespace
}  // namespace tstest
