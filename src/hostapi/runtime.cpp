#include "hostapi/runtime.h"

#include <cstdlib>
#include <mutex>

namespace ts {

namespace {

// At exit: the host may be half gone, so nothing is reported any more; the
// threads stop before the world, the buffers and the symbol handler go.
void StopAtExit() {
    try {
        Runtime& rt = GetRuntime();
        rt.callback.store(nullptr, std::memory_order_release);
        if (!rt.simThread) return;
        // exit() from a report on the sim thread itself: it cannot join
        // itself, so it is left as it is.
        if (rt.simThread->IsCurrentThread()) {
            (void)rt.simThread.release();
            return;
        }
        rt.simThread->StopAndJoin();
        rt.simThread.reset();
    } catch (...) {
    }
}

}  // namespace

Runtime& GetRuntime() {
    static Runtime runtime;
    return runtime;
}

HostCallback CurrentHostCallback() { return GetRuntime().callback.load(std::memory_order_acquire); }

void StopThreadsAtExit() {
    // Registered after the runtime and the symbol handler exist, so it runs
    // before either is destroyed (also when the library is unloaded).
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(StopAtExit); });
}

void Teardown() {
    Runtime& rt = GetRuntime();
    if (rt.simThread) {
        rt.simThread->StopAndJoin();
        rt.simThread.reset();
    }
    // Nothing that teardown does from here on reaches the host.
    rt.callback.store(nullptr, std::memory_order_release);
    rt.simData.reset();
    rt.exchange.Reset();
    rt.elementTable.Clear();
    rt.diseaseTable.Clear();
}

}  // namespace ts
