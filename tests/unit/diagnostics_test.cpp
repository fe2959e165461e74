// Diagnostics. The crash report's pieces that run inside the signal handler:
// calendar time without the C library, the local-zone table, the dump's name
// cut to its buffer, the gathering of the other threads; and the stack text,
// which must symbolise from local files only. The dump itself is checked end
// to end, where a debugger opens it (tests/e2e/crashreport_test.cpp). The
// signal stack each thread gets, beside the one it had. Then the machine
// description, read from a made-up machine.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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

#include <nlohmann/json.hpp>

#include "common/testio.h"
#include "diagnostics/crashreport.h"
#include "diagnostics/processthreads.h"
#include "diagnostics/stackwalk.h"
#include "diagnostics/sysinfo.h"

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

stack_t CurrentSignalStack() {
    stack_t current{};
    sigaltstack(nullptr, &current);
    return current;
}

TEST(SignalStack, AStackTheThreadHadIsGivenBackAndOursIsMappedOnce) {
    // On a thread of its own: the host (or a sanitizer) gave it a small stack.
    std::thread([] {
        alignas(16) static thread_local std::array<char, 64 * 1024> hostStack, laterStack;
        const stack_t host{hostStack.data(), 0, hostStack.size()};
        ASSERT_EQ(sigaltstack(&host, nullptr), 0);

        ts::EnsureCrashSignalStack();
        void* const ours = CurrentSignalStack().ss_sp;
        EXPECT_NE(ours, hostStack.data());
        EXPECT_GE(CurrentSignalStack().ss_size, size_t(1) << 20);

        // The host sets another one; the next initialisation takes ours back
        // instead of mapping (and losing) a second.
        const stack_t later{laterStack.data(), 0, laterStack.size()};
        ASSERT_EQ(sigaltstack(&later, nullptr), 0);
        ts::EnsureCrashSignalStack();
        EXPECT_EQ(CurrentSignalStack().ss_sp, ours);

        // The thread's end puts back the stack ours replaced and unmaps ours.
        ts::ReleaseCrashSignalStack();
        EXPECT_EQ(CurrentSignalStack().ss_sp, laterStack.data());
        EXPECT_EQ(CurrentSignalStack().ss_flags & SS_DISABLE, 0);
        unsigned char resident = 0;
        const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        void* const ourPage = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(ours) & ~(page - 1));
        EXPECT_EQ(mincore(ourPage, page, &resident), -1) << "our signal stack is still mapped";

        const stack_t off{nullptr, SS_DISABLE, 0};
        sigaltstack(&off, nullptr);
    }).join();
}

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
    EXPECT_NE(text.find("diagnostics_test.cpp:"), std::string::npos) << text;
}

// --- the machine description ---------------------------------------------------

// The machine description read from a made-up machine: a directory laid out
// like the kernel's files, with two memory modules and an empty slot, two
// graphics devices, two sound cards, and strings a careless writer would
// break the JSON with.
using Json = nlohmann::ordered_json;

// One SMBIOS memory device record (type 17) with the given size words.
std::string MemoryDevice(uint16_t size, uint32_t extendedSize) {
    std::string raw(0x28, '\0');
    raw[0] = 17;
    raw[1] = 0x28;
    raw[0x0C] = static_cast<char>(size & 0xFF);
    raw[0x0D] = static_cast<char>(size >> 8);
    for (int i = 0; i < 4; ++i) raw[0x1C + i] = static_cast<char>(extendedSize >> (8 * i));
    return raw + "DIMM\0\0";
}

std::string CpuBlock(int processor, int physical, int core, const char* mhz) {
    return "processor\t: " + std::to_string(processor) +
           "\nvendor_id\t: GenuineTest\nmodel name\t: Test \x01\"CPU\" \\ \xff" "Edition\nphysical id\t: " +
           std::to_string(physical) + "\ncore id\t\t: " + std::to_string(core) + "\ncpu MHz\t\t: " + mhz +
           "\nflags\t\t: fpu sse sse2\n\n";
}

void LayOutMachine(const fs::path& root) {
    auto write = [&root](const std::string& path, const std::string& content) { tstest::WriteFile(root / path, content); };
    write("etc/os-release", "NAME=\"Plain\"\n# comment\nPRETTY_NAME=\"Test \\\"Quoted\\\" OS \\\\ 1\"\nID=test\n");
    std::string cpuinfo;
    int processor = 0;
    for (int physical = 0; physical < 2; ++physical)
        for (int core = 0; core < 2; ++core)
            for (int thread = 0; thread < 2; ++thread, ++processor)
                cpuinfo += CpuBlock(processor, physical, core, processor == 3 ? "3600.6" : "1200.000");
    write("proc/cpuinfo", cpuinfo);
    write("proc/meminfo", "MemTotal:       16384000 kB\nMemFree:        1 kB\n");
    // Firmware memory records: 8 GiB, an empty slot, 32 GiB through the extended size, 1 MiB in kilobytes.
    write("sys/firmware/dmi/entries/17-0/raw", MemoryDevice(8192, 0));
    write("sys/firmware/dmi/entries/17-1/raw", MemoryDevice(0, 0));
    write("sys/firmware/dmi/entries/17-2/raw", MemoryDevice(0x7FFF, 32768));
    write("sys/firmware/dmi/entries/17-10/raw", MemoryDevice(0x8000 | 1024, 0));
    write("sys/firmware/dmi/entries/16-0/raw", std::string("\x10\x17", 2) + std::string(0x15, '\0'));
    // Graphics: a PCI card with a connected output, and a firmware framebuffer.
    write("usr/share/misc/pci.ids",
            "# names\n1002  Advanced Micro Devices, Inc. [AMD/ATI]\n\t73bf  Navi 21\n\t\t1002 0e3a  Subsystem\n"
            "8086  Intel Corporation\n\t1234  Other\nC 03  Display controller\n");
    write("sys/class/drm/card0/device/vendor", "0x1002\n");
    write("sys/class/drm/card0/device/device", "0x73bf\n");
    write("sys/class/drm/card0/device/uevent", "DRIVER=amdgpu\nPCI_CLASS=30000\n");
    write("sys/class/drm/card0/device/mem_info_vram_total", "17163091968\n");
    write("sys/class/drm/card0-HDMI-A-1/status", "disconnected\n");
    write("sys/class/drm/card0-HDMI-A-1/modes", "640x480\n");
    write("sys/class/drm/card0-DP-1/status", "connected\n");
    write("sys/class/drm/card0-DP-1/modes", "2560x1440\n1920x1080\n");
    write("sys/class/drm/card1/device/uevent", "DRIVER=simpledrm\n");
    write("sys/class/drm/renderD128/dev", "226:128\n");
    write("sys/class/drm/version", "drm 1.1.0 20060810\n");
    write("sys/module/simpledrm/version", "1.0.0\n");
    // Sound cards.
    write("proc/asound/cards",
            " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
            "                      HDA Intel PCH at 0xf7f10000 irq 31\n"
            " 1 [Device         ]: USB-Audio - USB \"Audio\" Device\n"
            "                      Generic USB Audio at usb-0000:00:14.0-2, full speed\n");
    write("proc/asound/card0/pcm0p/sub0/prealloc", "64\n");
    write("sys/class/sound/card0/device/vendor", "0x8086\n");
}

constexpr uint32_t kEdxSse = 1u << 25, kEdxSse2 = 1u << 26;
constexpr uint32_t kEcxSse3 = 1u << 0, kEcxSsse3 = 1u << 9, kEcxSse41 = 1u << 19, kEcxSse42 = 1u << 20,
                   kEcxAvx = 1u << 28;

// The whole text, members in order, compared with what the made-up machine
// must give: strings escaped (a control character as \u0001, a byte that is
// not UTF-8 replaced), the empty memory slot left out, four cores of two
// packages, the fastest clock seen when no rated maximum is there; and with
// the firmware, devices and os-release removed, what the kernel always has.
TEST(SystemInfo, DescribesTheMachineInOrderFromTheKernelsFiles) {
    const struct {
        bool bare;
        uint32_t ecx, edx;
        const char* expected;
    } cases[] = {
        {false, kEcxSse3 | kEcxSsse3 | kEcxSse41 | kEcxSse42, kEdxSse | kEdxSse2, R"({
            "OS":{"name":"Test \"Quoted\" OS \\ 1","version":"6.1.0-test","architecture":"x86_64","platformSpecific":"#1 SMP \"quoted\" build"},
            "CPU":{"name":"Test \u0001\"CPU\" \\ \uFFFDEdition","manufacturer":"GenuineTest","features":"SSE,SSE2,SSE3,SSSE3,SSE41,SSE42,","numCores":4,"clockSpeed":3601},
            "RAM0":{"megsOfRam":8192},"RAM1":{"megsOfRam":32768},"RAM2":{"megsOfRam":1},
            "GPU0":{"name":"Advanced Micro Devices, Inc. [AMD/ATI] Navi 21","megsOfRam":16368,"driverVersion":"6.1.0-test","driverDate":"","videoModeDescription":"2560x1440","refreshRate":0},
            "GPU1":{"name":"simpledrm","megsOfRam":0,"driverVersion":"1.0.0","driverDate":"","videoModeDescription":"","refreshRate":0},
            "SOUND0":{"name":"HDA Intel PCH","productName":"HDA Intel PCH at 0xf7f10000 irq 31","description":"HDA-Intel","manufacturer":"Intel Corporation","status":"OK","dmaBufferSize":64},
            "SOUND1":{"name":"USB \"Audio\" Device","productName":"Generic USB Audio at usb-0000:00:14.0-2, full speed","description":"USB-Audio","manufacturer":"","status":"OK","dmaBufferSize":0}})"},
        {true, kEcxAvx | kEcxSse42, kEdxSse, R"({
            "OS":{"name":"Linux","version":"6.1.0-test","architecture":"x86_64","platformSpecific":"#1 SMP \"quoted\" build"},
            "CPU":{"name":"Test \u0001\"CPU\" \\ \uFFFDEdition","manufacturer":"GenuineTest","features":"SSE,SSE42,AVX,","numCores":4,"clockSpeed":4200},
            "RAM0":{"megsOfRam":16000}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bare);
        tstest::TempDir dir;
        LayOutMachine(dir.path);
        if (c.bare) {
            for (const char* gone : {"sys/firmware", "sys/class", "proc/asound", "etc"}) fs::remove_all(dir.path / gone);
            tstest::WriteFile(dir.path / "sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "4200000\n");
        }
        const ts::MachineSources sources{dir.path.string(), "Linux", "6.1.0-test", "#1 SMP \"quoted\" build", "x86_64",
                                         c.ecx, c.edx};
        EXPECT_EQ(ts::DescribeMachine(sources), Json::parse(c.expected).dump());
    }
}

}  // namespace
