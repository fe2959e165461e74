// A host that crashes on purpose, for the crash-report tests.
//
//   crash_host trap         SIM_DebugCrash with a host callback
//   crash_host trap-quiet   SIM_DebugCrash without a host callback
//   crash_host segv         a write to a page without access, with a host callback
//   crash_host callback-faults  SIM_DebugCrash, and the host callback itself faults
//   crash_host two-threads  a second thread traps while the first one's report runs
//
// It prints "crash-line=N", the source line of the crashing call, and its
// callback prints what the library hands it: "code=", "dump=" and the call
// stack between "stack<<" and ">>stack".
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "hostkit/library.h"

namespace {

std::atomic<bool> faultInCallback{false};
std::atomic<bool> reportStarted{false};
std::atomic<bool> lingerInCallback{false};

void WriteToGuardedPage() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

void Put(const char* text) {
    std::size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t n = write(STDOUT_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Runs inside the library's signal handler: write(2) only.
void OnReport(int32_t code, void* record) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", code);
    Put("code=");
    Put(number);
    Put("\n");
    if (code != SIM_CALLBACK_CRASH) return;
    const auto* report = static_cast<const SimCrashReport*>(record);
    Put("dump=");
    Put(report->dumpPath);
    Put("\nstack<<\n");
    Put(report->callStack);
    Put("\n>>stack\n");
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

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    tshost::Library lib(TS_LIBRARY_PATH);
    lib.SIM_Initialize(mode == "trap-quiet" ? nullptr : &OnReport);
    // One call site for the single-thread traps: an optimiser may merge identical
    // calls of several branches, and the stack would then name another line.
    if (mode == "trap" || mode == "trap-quiet" || mode == "callback-faults") {
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
        std::fprintf(stderr, "usage: crash_host trap|trap-quiet|segv|callback-faults|two-threads\n");
        return 2;
    }
    // Only reached when the process was let go on (a debugger continued it).
    std::printf("survived\n");
    lib.SIM_Shutdown();
    return 3;
}
