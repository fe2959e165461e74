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
    SymbolHandlerInitialize();
    InstallCrashHandler();
    Teardown();
    rt.callback.store(callback, std::memory_order_release);
    rt.exchange.Reset();
    // One worker unless the build asks for more: results are the same for any count.
    rt.simThread = std::make_unique<SimThread>(rt.exchange, rt.simWorkers > 0 ? rt.simWorkers : TS_SIM_WORKERS);
}

TS_API void SIM_Shutdown(void) {
    Runtime& rt = GetRuntime();
    Teardown();
    rt.logger.reset();
    SymbolHandlerCleanup();
}

TS_API uint64_t SIM_HandleMessage(uint32_t id, int32_t size, const void* data) {
    return HandleMessage(id, size, data);
}
