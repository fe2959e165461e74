#include "hostapi/report.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "diagnostics/stackwalk.h"
#include "hostapi/catchall.h"
#include "hostapi/runtime.h"
#include "tesselsim/tesselsim.h"

namespace ts {

namespace {
thread_local char tMessageBuffer[256];
}

void ReportAssertion(const char* file, int32_t line, const char* format, ...) {
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(tMessageBuffer, sizeof tMessageBuffer, format, args);
        va_end(args);
    } else {
        tMessageBuffer[0] = '\0';
    }
    // Walking and symbolising the stack is the costly part: only for a listener.
    HostCallback callback = CurrentHostCallback();
    if (callback == nullptr) return;
    // Leave out ReportAssertion itself: the stack starts at the reporting site.
    const std::string stack = CallStackText(1);
    SimAssertionReport record{stack.c_str(), tMessageBuffer, file, line};
    callback(SIM_CALLBACK_ASSERTION, &record);
}

void ReportCaught(const char* where, const char* what) noexcept {
    try {
        TS_WARN("%s failed: %s", where, what);
    } catch (...) {
        // Not even the report fits in memory: the failure value says enough.
    }
}

}  // namespace ts
