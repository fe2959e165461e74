// A host that crashes on purpose, for the crash-report tests.
//
//   crash_host trap         SIM_DebugCrash with a host callback
//   crash_host trap-quiet   SIM_DebugCrash without a host callback
//   crash_host segv         a write to a page without access, with a host callback
//
// It prints "crash-line=N", the source line of the crashing call, and its
// callback prints what the library hands it: "code=", "dump=" and the call
// stack between "stack<<" and ">>stack".
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hostkit/library.h"

namespace {

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
    if (mode == "trap" || mode == "trap-quiet") {
        AnnounceLine(__LINE__ + 1);
        lib.SIM_DebugCrash();
    } else if (mode == "segv") {
        // A real fault that no sanitizer check stops first (a null store would be).
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        volatile int* guarded = static_cast<volatile int*>(page);
        AnnounceLine(__LINE__ + 1);
        *guarded = 1;
    } else {
        std::fprintf(stderr, "usage: crash_host trap|trap-quiet|segv\n");
        return 2;
    }
    // Only reached when the process was let go on (a debugger continued it).
    std::printf("survived\n");
    lib.SIM_Shutdown();
    return 3;
}
