#include "hostapi/runtime.h"

#include <string>

#include "common/report.h"
#include "diagnostics/crashreport.h"
#include "diagnostics/stackwalk.h"

namespace ts {

Runtime& GetRuntime() {
    static Runtime runtime;
    return runtime;
}

HostCallback CurrentHostCallback() { return GetRuntime().callback.load(std::memory_order_acquire); }

namespace {

void ReportToHost(void*, const char* message, const char* file, int32_t line) {
    // Leave out this sink and ReportAssertion: the stack starts at the reporting site.
    const std::string stack = CallStackText(2);
    HostCallback callback = CurrentHostCallback();
    if (callback == nullptr) return;
    SimAssertionReport record{stack.c_str(), message, file, line};
    callback(SIM_CALLBACK_ASSERTION, &record);
}

}  // namespace

void InstallReportSink() { SetReportSink(&ReportToHost, nullptr); }

std::unique_ptr<SimThread> CreateSimThread(Runtime& rt) {
    // One worker unless the build asks for more: results are the same for any count.
    // Each of its threads gets a signal stack, so that its crash is still reported.
    auto thread = std::make_unique<SimThread>(rt.exchange, TS_SIM_WORKERS, &EnsureCrashSignalStack);
    thread->SetBeforeCycle([&rt] { RunConduitRemovalPass(rt.conduits); });
    return thread;
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
