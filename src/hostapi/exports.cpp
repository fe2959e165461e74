// The C exports of the library and its lifecycle.
#include "diagnostics/crashreport.h"
#include "diagnostics/stackwalk.h"
#include "hostapi/dispatch.h"
#include "hostapi/runtime.h"
#include "tesselsim/tesselsim.h"

using namespace ts;

TS_API void SIM_Initialize(HostCallback callback) {
    Runtime& rt = GetRuntime();
    rt.logger = std::make_unique<Logger>();
    SetProcessLogger(rt.logger.get());
    InstallReportSink();
    SymbolHandlerInitialize();
    InstallCrashHandler(&CurrentHostCallback);
    Teardown();
    rt.callback.store(callback, std::memory_order_release);
    rt.exchange.Reset();
    rt.simThread = CreateSimThread(rt);
}

TS_API void SIM_Shutdown(void) {
    Runtime& rt = GetRuntime();
    Teardown();
    SetProcessLogger(nullptr);
    rt.logger.reset();
    SymbolHandlerCleanup();
}

TS_API uint64_t SIM_HandleMessage(uint32_t id, int32_t size, const void* data) {
    return HandleMessage(id, size, data);
}
