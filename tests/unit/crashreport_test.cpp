// The crash report's pieces that run inside the signal handler: calendar time
// without the C library, the local-zone table, the dump's name, the gathering
// of the other threads and the minidump writer on a context captured
// in-process; and the stack text, which must symbolise from local files only.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "diagnostics/crashreport.h"
#include "diagnostics/minidump.h"
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
        std::tm expected{};
        ASSERT_NE(gmtime_r(&value, &expected), nullptr);
        const ts::CivilTime got = ts::CivilTimeOf(t);
        ASSERT_EQ(got.year, expected.tm_year + 1900) << t;
        ASSERT_EQ(got.month, expected.tm_mon + 1) << t;
        ASSERT_EQ(got.day, expected.tm_mday) << t;
        ASSERT_EQ(got.hour, expected.tm_hour) << t;
        ASSERT_EQ(got.minute, expected.tm_min) << t;
        ASSERT_EQ(got.second, expected.tm_sec) << t;
    };
    for (const int64_t t : samples) check(t);
    // Spread over four centuries on both sides of 1970, with odd steps.
    for (int64_t t = -12622780800; t < 12622780800; t += 7919LL * 3607) check(t);
}

TEST(CrashTime, DumpNameCarriesBuildIdentityAndTimeAndIsCutToItsBuffer) {
    char name[260];
    ts::FormatDumpName(ts::CivilTime{2020, 3, 3, 14, 5, 9}, name, sizeof name);
    EXPECT_STREQ(name, "Tessel_CRASH_release_420700_20200303-14.05.09.dmp");

    ts::FormatDumpName(ts::CivilTime{987, 12, 31, 0, 0, 0}, name, sizeof name);
    EXPECT_STREQ(name, "Tessel_CRASH_release_420700_09871231-00.00.00.dmp");

    char small[20];
    EXPECT_EQ(ts::FormatDumpName(ts::CivilTime{2020, 3, 3, 14, 5, 9}, small, sizeof small), 19u);
    EXPECT_STREQ(small, "Tessel_CRASH_releas");
}

// Sets TZ for one test and puts the old value back.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old, hadZone_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (hadZone_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadZone_ = false;
};

int32_t LibraryOffset(int64_t t) {
    const std::time_t value = static_cast<std::time_t>(t);
    std::tm parts{};
    localtime_r(&value, &parts);
    return static_cast<int32_t>(parts.tm_gmtoff);
}

TEST(CrashTime, ZoneTableFollowsDaylightSavingForAYearToTheSecond) {
    // Central European rules, spelled out so that no zone database is needed.
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const int64_t start = 1609459200;  // 2021-01-01 00:00:00 UTC
    ts::LocalZoneTable table;
    table.Prepare(start);
    for (int64_t t = start; t < start + 366 * 86400; t += 1800)
        ASSERT_EQ(table.OffsetAt(t), LibraryOffset(t)) << t;
    // The changes themselves: 2021-03-28 01:00 UTC and 2021-10-31 01:00 UTC.
    for (const int64_t change : {int64_t{1616893200}, int64_t{1635642000}})
        for (int64_t t = change - 2; t <= change + 2; ++t) EXPECT_EQ(table.OffsetAt(t), LibraryOffset(t)) << t;

    ZoneScope fixed("TST-5:30");
    table.Prepare(start);
    EXPECT_EQ(table.OffsetAt(start + 200 * 86400), 5 * 3600 + 30 * 60);
}

// --- the minidump writer on a context captured here --------------------------

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

template <class T>
T At(const std::string& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::string StreamOf(const std::string& dump, uint32_t type) {
    const auto count = At<uint32_t>(dump, 8);
    const auto directory = At<uint32_t>(dump, 12);
    for (uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = directory + i * 12;
        if (At<uint32_t>(dump, entry) != type) continue;
        const auto size = At<uint32_t>(dump, entry + 4);
        const auto rva = At<uint32_t>(dump, entry + 8);
        if (uint64_t{rva} + size > dump.size()) return {};
        return dump.substr(rva, size);
    }
    return {};
}

std::string Utf16StringAt(const std::string& dump, uint32_t rva) {
    const auto bytes = At<uint32_t>(dump, rva);
    std::string text;
    for (uint32_t i = 0; i < bytes / 2; ++i) {
        const auto unit = At<uint16_t>(dump, rva + 4 + i * 2);
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

// The build id as binutils reads it from the file on disk.
std::string BuildIdOnDisk(const std::string& path) {
    const std::string command = "readelf -n '" + path + "' 2>/dev/null";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    const auto at = output.find("Build ID: ");
    if (at == std::string::npos) return {};
    std::string id;
    for (std::size_t i = at + 10; i < output.size() && std::isxdigit(static_cast<unsigned char>(output[i])); ++i)
        id += output[i];
    return id;
}

struct CapturedDump {
    std::string bytes;
    uint64_t stackPointer = 0;
    uint64_t markerAddress = 0;
    unsigned char marker[64];
};

__attribute__((noinline)) void WriteDumpOfThisFrame(const fs::path& path, CapturedDump& out) {
    volatile unsigned char marker[64];
    for (int i = 0; i < 64; ++i) marker[i] = static_cast<unsigned char>(0xA5 ^ (i * 37));
    ucontext_t context;
    ASSERT_EQ(getcontext(&context), 0);
    ts::PrepareMinidumpWriter();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ts::DumpRequest request;
    request.signal = SIGTRAP;
    request.context = &context;
    request.threadId = static_cast<pid_t>(syscall(SYS_gettid));
    EXPECT_TRUE(ts::WriteMinidump(fd, request));
    ::close(fd);
    out.bytes = ReadAll(path);
    out.stackPointer = static_cast<uint64_t>(context.uc_mcontext.gregs[REG_RSP]);
    out.markerAddress = reinterpret_cast<uint64_t>(&marker[0]);
    for (int i = 0; i < 64; ++i) out.marker[i] = marker[i];
}

TEST(Minidump, HoldsTheThreadsStackAndTheModulesWithTheirBuildIds) {
    const fs::path path = fs::temp_directory_path() / ("tesselsim-unit-" + std::to_string(getpid()) + ".dmp");
    CapturedDump captured;
    WriteDumpOfThisFrame(path, captured);
    fs::remove(path);
    const std::string& dump = captured.bytes;
    ASSERT_GE(dump.size(), 32u);
    ASSERT_EQ(dump.compare(0, 4, "MDMP"), 0);

    // The stack memory covers the stack pointer and holds this frame's bytes as they were.
    const std::string memory = StreamOf(dump, ts::kStreamMemoryList);
    const auto ranges = At<uint32_t>(memory, 0);
    bool markerFound = false;
    bool stackPointerCovered = false;
    for (uint32_t i = 0; i < ranges; ++i) {
        const auto start = At<uint64_t>(memory, 4 + i * 16);
        const auto size = At<uint32_t>(memory, 4 + i * 16 + 8);
        const auto rva = At<uint32_t>(memory, 4 + i * 16 + 12);
        ASSERT_LE(uint64_t{rva} + size, dump.size());
        if (captured.stackPointer >= start && captured.stackPointer < start + size) stackPointerCovered = true;
        if (captured.markerAddress >= start && captured.markerAddress + 64 <= start + size) {
            markerFound = std::memcmp(dump.data() + rva + (captured.markerAddress - start), captured.marker, 64) == 0;
        }
    }
    EXPECT_TRUE(stackPointerCovered);
    EXPECT_TRUE(markerFound);

    // The thread list points at the same stack memory and at a context of the right size.
    const std::string threads = StreamOf(dump, ts::kStreamThreadList);
    ASSERT_EQ(At<uint32_t>(threads, 0), 1u);
    EXPECT_EQ(At<uint32_t>(threads, 4), static_cast<uint32_t>(syscall(SYS_gettid)));
    EXPECT_EQ(At<uint32_t>(threads, 4 + 40), 1232u);

    // The test program comes first, spans this function, and carries the build id of its file.
    const std::string modules = StreamOf(dump, ts::kStreamModuleList);
    ASSERT_GE(At<uint32_t>(modules, 0), 2u);
    const auto base = At<uint64_t>(modules, 4);
    const auto size = At<uint32_t>(modules, 4 + 8);
    const auto here = reinterpret_cast<uint64_t>(&WriteDumpOfThisFrame);
    EXPECT_TRUE(here >= base && here < base + size);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(Utf16StringAt(dump, At<uint32_t>(modules, 4 + 20)), self);
    const auto cvSize = At<uint32_t>(modules, 4 + 76);
    const auto cvRva = At<uint32_t>(modules, 4 + 80);
    ASSERT_GT(cvSize, 4u);
    EXPECT_EQ(At<uint32_t>(dump, cvRva), 0x4270454cu);
    std::string id;
    for (uint32_t i = 4; i < cvSize; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(dump[cvRva + i]));
        id += hex;
    }
    EXPECT_EQ(id, BuildIdOnDisk(self));
}

// --- the other threads of the process -------------------------------------------

std::atomic<int> hostSignals{0};
void CountHostSignal(int) { ++hostSignals; }

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

bool OnStackOf(std::thread& thread, uint64_t address) {
    pthread_attr_t attributes;
    if (pthread_getattr_np(thread.native_handle(), &attributes) != 0) return false;
    void* low = nullptr;
    std::size_t size = 0;
    pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    const auto start = reinterpret_cast<uint64_t>(low);
    return address >= start && address < start + size;
}

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
    EXPECT_EQ(busyThread->registers, ts::ThreadRegisters::kFull);
    EXPECT_TRUE(busyThread->hasFpu);
    EXPECT_TRUE(OnStackOf(busy, static_cast<uint64_t>(busyThread->gregs[REG_RSP])));
    EXPECT_EQ(std::string(busyThread->name), "tesselsim_unit_");  // the kernel keeps 15 characters
    EXPECT_EQ(deafThread->registers, ts::ThreadRegisters::kStackAndPc);
    EXPECT_TRUE(OnStackOf(deaf, static_cast<uint64_t>(deafThread->gregs[REG_RSP])));
    EXPECT_NE(deafThread->gregs[REG_RIP], 0);

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
    std::istringstream maps(ReadAll("/proc/self/maps"));
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
