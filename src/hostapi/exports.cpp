// The C exports of the library and its lifecycle.
#include <exception>

#include "diagnostics/crashreport.h"
#include "diagnostics/stackwalk.h"
#include "hostapi/catchall.h"
#include "hostapi/dispatch.h"
#include "common/report.h"
#include "hostapi/runtime.h"
#include "tesselsim/tesselsim.h"

using namespace ts;

TS_API void SIM_Initialize(HostCallback callback) {
    CatchAll("SIM_Initialize", [&] {
        Runtime& rt = GetRuntime();
        // Every library thread stops before anything it may use (the logger
        // among them) is replaced.
        Teardown();
        rt.logger = std::make_unique<Logger>();
        SetProcessLogger(rt.logger.get());
        InstallReportSink();
        SymbolHandlerInitialize();
        InstallCrashHandler(&CurrentHostCallback);
        StopThreadsAtExit();
        rt.callback.store(callback, std::memory_order_release);
        rt.exchange.Reset();
        try {
            // One worker unless the build asks for more: results are the same for any count.
            rt.simThread = CreateSimThread(rt, TS_SIM_WORKERS);
        } catch (const std::exception& e) {
            // No SimThread: every message is answered with 0.
            TS_WARN("SIM_Initialize: the simulation thread could not be created (%s)", e.what());
        }
    });
}

TS_API void SIM_Shutdown(void) {
    CatchAll("SIM_Shutdown", [] {
        Teardown();
        SetProcessLogger(nullptr);
        GetRuntime().logger.reset();
        SymbolHandlerCleanup();
    });
}

TS_API uint64_t SIM_HandleMessage(uint32_t id, int32_t size, const void* data) {
    return CatchAll("SIM_HandleMessage", uint64_t(0), [&] { return HandleMessage(id, size, data); });
}
