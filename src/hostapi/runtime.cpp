#include "hostapi/runtime.h"

namespace ts {

Runtime& GetRuntime() {
    static Runtime runtime;
    return runtime;
}

HostCallback CurrentHostCallback() { return GetRuntime().callback.load(std::memory_order_acquire); }

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
