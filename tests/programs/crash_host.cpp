// A host that crashes on purpose, for the crash-report tests (the modes are
// listed in main). It prints "crash-line=N", the source line of the crashing
// call; its callback prints "code=", "dump=" and the stack between "stack<<"
// and ">>stack"; in world mode (a running world, and a host thread that blocks
// every signal) the threads before the crash as "tid name" lines between
// "threads<<" and ">>threads".
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <thread>

#include "common/hosting.h"

namespace {

std::atomic<bool> faultInCallback{false};
std::atomic<bool> reportStarted{false};
std::atomic<bool> lingerInCallback{false};

void WriteToGuardedPage() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

// Writes to the output file (inside a signal handler: no stdio).
void Put(std::initializer_list<const char*> texts) {
    for (const char* text : texts) {
        const ssize_t ignored = write(STDOUT_FILENO, text, std::strlen(text));
        (void)ignored;
    }
}

// The threads of the process as "tid name" lines, just before the crash.
void PrintThreads() {
    std::printf("threads<<\n");
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        std::printf("%s %s\n", task.path().filename().c_str(), name.c_str());
    }
    std::printf(">>threads\n");
    std::fflush(stdout);
}

// Runs inside the library's signal handler: system calls only.
void OnReport(int32_t code, void* record) {
    char line[32];
    std::snprintf(line, sizeof line, "code=%d\n", code);
    Put({line});
    if (code != SIM_CALLBACK_CRASH) return;
    const auto* report = static_cast<const SimCrashReport*>(record);
    Put({"dump=", report->dumpPath, "\nstack<<\n", report->callStack, "\n>>stack\n"});
    reportStarted = true;
    if (faultInCallback) WriteToGuardedPage();
    if (lingerInCallback) {
        // Time for the other thread to crash while this report is still running.
        timespec pause{0, 300 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

void AnnounceLine(int line) {
    std::printf("crash-line=%d\n", line);
    std::fflush(stdout);
}

// A world of 32 x 32 cells, loaded from its save so that the sim thread and
// its worker run, and a few frames exchanged.
void RunWorld(tshost::Library& lib) {
    const tshost::SampleTables tables = tshost::LoadSampleTables();
    tstest::LoadTables(lib, tables);
    const uint8_t oxygen = tshost::ElementIndex(tables.elements, "Oxygen");
    tstest::StartWorld(lib, tshost::WorldLayout(32, 32, tshost::Matter(oxygen, 293.0f, 1.0f)));
    for (int frame = 0; frame < 3; ++frame) tstest::NextFrame(lib, 32, 32, 0.2f);
}

// A host thread that blocks every signal and waits in the kernel: it cannot
// answer the library's request for its registers.
void StartDeafThread() {
    static int channel[2];
    if (pipe(channel) != 0) return;
    std::atomic<bool> ready{false};
    std::thread([&ready] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        pthread_setname_np(pthread_self(), "HostDeaf");
        std::printf("deaf-thread=%ld\n", static_cast<long>(syscall(SYS_gettid)));
        std::fflush(stdout);
        ready = true;
        char byte;
        while (read(channel[0], &byte, 1) < 0) {
        }
    }).detach();
    while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    tshost::Library lib(TS_LIBRARY_PATH);
    lib.SIM_Initialize(mode == "trap-quiet" ? nullptr : &OnReport);
    // One call site for the single-thread traps: an optimiser may merge identical
    // calls of several branches, and the stack would then name another line.
    if (mode == "world") {
        RunWorld(lib);
        StartDeafThread();
        std::printf("main-thread=%ld\n", static_cast<long>(syscall(SYS_gettid)));
        PrintThreads();
    }
    if (mode == "trap" || mode == "trap-quiet" || mode == "callback-faults" || mode == "world") {
        faultInCallback = mode == "callback-faults";
        AnnounceLine(__LINE__ + 1);
        lib.SIM_DebugCrash();
    } else if (mode == "segv") {
        // A real fault that no sanitizer check stops first (a null store would be).
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        volatile int* guarded = static_cast<volatile int*>(page);
        AnnounceLine(__LINE__ + 1);
        *guarded = 1;
    } else if (mode == "two-threads") {
        lingerInCallback = true;
        std::thread first([&lib] { lib.SIM_DebugCrash(); });
        while (!reportStarted) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        AnnounceLine(__LINE__ + 1);
        lib.SIM_DebugCrash();
        first.join();
    } else {
        std::fprintf(stderr, "usage: crash_host trap|trap-quiet|segv|callback-faults|two-threads|world\n");
        return 2;
    }
    // Only reached when the process was let go on (a debugger continued it).
    std::printf("survived\n");
    lib.SIM_Shutdown();
    return 3;
}
