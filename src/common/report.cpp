#include "common/report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace ts {

namespace {
// The context is stored before the sink is published, so a reader that sees
// the sink also sees its context.
std::atomic<ReportSink> gSink{nullptr};
std::atomic<void*> gSinkContext{nullptr};
}  // namespace

void SetReportSink(ReportSink sink, void* context) {
    gSink.store(nullptr, std::memory_order_release);
    gSinkContext.store(context, std::memory_order_relaxed);
    gSink.store(sink, std::memory_order_release);
}

// Kept out of line so that a sink walking the stack can skip a known number
// of frames: the sink's own, this function's, and then the reporting site.
__attribute__((noinline)) void ReportAssertion(const char* file, int32_t line, const char* format, ...) {
    // On the stack, not in thread-local storage: a loaded library's is
    // allocated on a thread's first use, and the C library aborts the process
    // when that finds no memory (a report of an out-of-memory refusal would).
    char message[256];
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(message, sizeof message, format, args);
        va_end(args);
    } else {
        message[0] = '\0';
    }
    ReportSink sink = gSink.load(std::memory_order_acquire);
    if (sink != nullptr) sink(gSinkContext.load(std::memory_order_relaxed), message, file, line);
    // No tail call: this frame stays on the stack while the sink walks it.
    asm volatile("" ::: "memory");
}

}  // namespace ts
