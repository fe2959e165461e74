// The crash report's pieces that run inside the signal handler: calendar time
// without the C library, the local-zone table, the dump's name cut to its
// buffer, the gathering of the other threads; and the stack text, which must
// symbolise from local files only. The dump itself is checked end to end,
// where a debugger opens it (tests/e2e/crashreport_test.cpp).
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/wait.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "diagnostics/crashreport.h"
#include "diagnostics/processthreads.h"
#include "diagnostics/stackwalk.h"

namespace {

namespace fs = std::filesystem;

TEST(CrashTime, CivilTimeMatchesTheCLibraryAcrossLeapYearsAndEpochs) {
    const int64_t samples[] = {0,           -1,          86399,       86400,      951782400 /* 2000-02-29 */,
                               951868800,   4107542400 /* 2100-03-01 */,          -2208988800 /* 1900 */,
                               1583244309 /* 2020-03-03 14:05:09 */, 253402300799 /* 9999-12-31 */};
    auto check = [](int64_t t) {
        const std::time_t value = static_cast<std::time_t>(t);
        std::tm e{};
        ASSERT_NE(gmtime_r(&value, &e), nullptr);
        const ts::CivilTime g = ts::CivilTimeOf(t);
        ASSERT_EQ((std::array{g.year, g.month, g.day, g.hour, g.minute, g.second}),
                  (std::array{e.tm_year + 1900, e.tm_mon + 1, e.tm_mday, e.tm_hour, e.tm_min, e.tm_sec})) << t;
    };
    for (const int64_t t : samples) check(t);
    // Spread over four centuries on both sides of 1970, with odd steps.
    for (int64_t t = -12622780800; t < 12622780800; t += 7919LL * 3607) check(t);
}

// The year is padded to four digits; a short buffer gets the name cut, ended.
TEST(CrashTime, DumpNamePadsTheYearAndIsCutToItsBuffer) {
    char name[260];
    ts::FormatDumpName(ts::CivilTime{987, 12, 31, 0, 0, 0}, name, sizeof name);
    EXPECT_STREQ(name, "Tessel_CRASH_release_420700_09871231-00.00.00.dmp");
    char small[20];
    EXPECT_EQ(ts::FormatDumpName(ts::CivilTime{2020, 3, 3, 14, 5, 9}, small, sizeof small), 19u);
    EXPECT_STREQ(small, "Tessel_CRASH_releas");
}

TEST(CrashTime, ZoneTableFollowsDaylightSavingForAYearToTheSecond) {
    // Central European rules, spelled out so that no zone database is needed.
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    auto libraryOffset = [](int64_t t) {
        const std::time_t value = static_cast<std::time_t>(t);
        std::tm parts{};
        localtime_r(&value, &parts);
        return static_cast<int32_t>(parts.tm_gmtoff);
    };
    const int64_t start = 1609459200;  // 2021-01-01 00:00:00 UTC
    ts::LocalZoneTable table;
    table.Prepare(start);
    int64_t firstWrong = 0;  // every half hour of the year
    for (int64_t t = start; t < start + 366 * 86400 && firstWrong == 0; t += 1800)
        if (table.OffsetAt(t) != libraryOffset(t)) firstWrong = t;
    EXPECT_EQ(firstWrong, 0);
    // The changes themselves: 2021-03-28 01:00 UTC and 2021-10-31 01:00 UTC.
    for (const int64_t change : {int64_t{1616893200}, int64_t{1635642000}})
        for (int64_t t = change - 2; t <= change + 2; ++t) EXPECT_EQ(table.OffsetAt(t), libraryOffset(t)) << t;
    if (old != nullptr) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

// --- the other threads of the process -------------------------------------------

std::atomic<int> hostSignals{0};
void CountHostSignal(int) { ++hostSignals; }

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

TEST(ProcessThreads, GatheredThreadsStandStillUntilReleasedAndOneThatCannotAnswerIsStillDescribed) {
    // The host's own handler for the request signal, there before any gathering.
    struct sigaction host {};
    host.sa_handler = CountHostSignal;
    sigemptyset(&host.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(sigaction(ts::ThreadRequestSignal(), &host, &saved), 0);

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> spins{0};
    std::atomic<pid_t> busyId{0}, deafId{0};
    std::thread busy([&] {
        busyId = ThreadId();
        while (!stop) ++spins;
    });
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    std::thread deaf([&] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        deafId = ThreadId();
        char byte;
        while (read(channel[0], &byte, 1) < 0) {
        }
    });
    while (busyId == 0 || deafId == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the deaf thread now waits in read

    const auto start = std::chrono::steady_clock::now();
    const ts::GatheredThreads gathered = ts::GatherOtherThreads(ThreadId(), 300'000'000);
    const auto took = std::chrono::steady_clock::now() - start;
    const uint64_t stopped = spins;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const uint64_t stillStopped = spins;
    ts::ReleaseThreads();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (spins == stillStopped && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();

    EXPECT_EQ(stopped, stillStopped) << "a gathered thread ran on before its release";
    EXPECT_GT(spins.load(), stillStopped) << "a released thread did not go on";
    // The deaf thread held the gathering up for the time limit, not longer.
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::seconds(3));

    const ts::ThreadSnapshot* busyThread = nullptr;
    const ts::ThreadSnapshot* deafThread = nullptr;
    for (std::size_t i = 0; i < gathered.count; ++i) {
        EXPECT_NE(gathered.threads[i].threadId, ThreadId());
        if (gathered.threads[i].threadId == busyId) busyThread = &gathered.threads[i];
        if (gathered.threads[i].threadId == deafId) deafThread = &gathered.threads[i];
    }
    ASSERT_NE(busyThread, nullptr);
    ASSERT_NE(deafThread, nullptr);
    // Each thread's stack pointer and name are the dump's end-to-end test; here how much it answered.
    EXPECT_TRUE(busyThread->registers == ts::ThreadRegisters::kFull && busyThread->hasFpu);
    EXPECT_EQ(deafThread->registers, ts::ThreadRegisters::kStackAndPc);

    // The signal from anyone else still reaches the host's handler.
    pthread_kill(pthread_self(), ts::ThreadRequestSignal());
    EXPECT_EQ(hostSignals.load(), 1);

    stop = true;
    ASSERT_EQ(write(channel[1], "x", 1), 1);
    busy.join();
    deaf.join();
    close(channel[0]);
    close(channel[1]);
    sigaction(ts::ThreadRequestSignal(), &saved, nullptr);
}

// --- stack text ----------------------------------------------------------------

// The lines of /proc/self/maps that name a library matching one of `names`.
std::string LoadedLibraries(std::initializer_list<const char*> names) {
    std::ifstream maps("/proc/self/maps");
    std::string line, found;
    while (std::getline(maps, line))
        for (const char* name : names)
            if (line.find(name) != std::string::npos) found += line + "\n";
    return found;
}

TEST(StackText, SymbolisesFromLocalFilesOnlyWhateverTheEnvironmentSays) {
    // A child process, so that the environment and the symbol handler start
    // afresh: a server named by the environment (loopback, nothing listening)
    // must not even be asked, nor its client library loaded.
    const fs::path cache = fs::temp_directory_path() / ("tesselsim-debuginfod-" + std::to_string(getpid()));
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        setenv("DEBUGINFOD_URLS", "http://127.0.0.1:9/", 1);
        setenv("DEBUGINFOD_CACHE_PATH", cache.c_str(), 1);
        setenv("DEBUGINFOD_TIMEOUT", "2", 1);
        ts::SymbolHandlerInitialize();
        std::string before = LoadedLibraries({"libdebuginfod", "libcurl"});
        // From a thread: its start routine lies in the C++ runtime, whose debug
        // information is not installed, so a server would be asked for it.
        std::string text;
        std::thread([&text] { text = ts::CallStackText(); }).join();
        const std::string report = before + "--\n" + LoadedLibraries({"libdebuginfod", "libcurl"}) + "--\n" + text;
        const ssize_t ignored = write(channel[1], report.data(), report.size());
        (void)ignored;
        _exit(0);
    }
    close(channel[1]);
    std::string report;
    char buffer[4096];
    ssize_t n;
    while ((n = read(channel[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::error_code ignored;
    fs::remove_all(cache, ignored);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto first = report.find("--\n");
    const auto second = report.find("--\n", first + 3);
    ASSERT_NE(second, std::string::npos) << report;
    if (first != 0) GTEST_SKIP() << "a debuginfod client was loaded before the test:\n" << report.substr(0, first);
    EXPECT_EQ(report.substr(first + 3, second - first - 3), "");
    const std::string text = report.substr(second + 3);
    EXPECT_NE(text.find("crashreport_test.cpp:"), std::string::npos) << text;
}

}  // namespace
