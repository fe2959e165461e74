// The report channel: what a report carries, where it goes, and reports from
// several threads at once (run under ThreadSanitizer with the threading tests).
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/report.h"
#include "hostapi/runtime.h"
#include "unit/componentworld.h"

namespace tstest {
namespace {

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
    EXPECT_NE(seen[0].file.find("report_test.cpp"), std::string::npos);
    // The stack starts at the reporting site: its first line is this file.
    const std::string& stack = seen[0].callStack;
    ASSERT_FALSE(stack.empty());
    EXPECT_NE(stack.substr(0, stack.find('\n')).find("report_test.cpp:" + std::to_string(line)), std::string::npos)
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
    EXPECT_NE(own[0].find("report_test.cpp"), std::string::npos);
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
