#include "hostapi/runtime.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "common/report.h"
#include "diagnostics/crashreport.h"
#include "diagnostics/stackwalk.h"

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

bool RefusedWhileRunning(const char* what) {
    Runtime& rt = GetRuntime();
    if (!rt.simThread || !rt.simThread->IsRunning()) return false;
    TS_WARN("%s refused: the simulation is running", what);
    return true;
}

HostCallback CurrentHostCallback() { return GetRuntime().callback.load(std::memory_order_acquire); }

namespace {

void ReportToHost(void*, const char* message, const char* file, int32_t line) {
    // Walking and symbolising the stack is the costly part: only for a listener.
    HostCallback callback = CurrentHostCallback();
    if (callback == nullptr) return;
    // Leave out this sink and ReportAssertion: the stack starts at the reporting site.
    const std::string stack = CallStackText(2);
    SimAssertionReport record{stack.c_str(), message, file, line};
    callback(SIM_CALLBACK_ASSERTION, &record);
}

}  // namespace

void InstallReportSink() { SetReportSink(&ReportToHost, nullptr); }

std::unique_ptr<SimThread> CreateSimThread(Runtime& rt, int buildWorkers) {
    // One worker unless the build asks for more: results are the same for any count.
    // Each of its threads gets a signal stack, so that its crash is still reported.
    auto thread = std::make_unique<SimThread>(rt.exchange, rt.simWorkers > 0 ? rt.simWorkers : buildWorkers,
                                               &EnsureCrashSignalStack);
    thread->SetBeforeCycle([&rt] { RunConduitRemovalPass(rt.conduits); });
    return thread;
}

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
