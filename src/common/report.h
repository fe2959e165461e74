// Reports from anywhere in the library: failed assertions and warnings. The
// channel itself knows no host; it hands each report to the one settable sink
// (the host interface installs the one that walks the stack and calls the
// host callback). Without a sink a report goes nowhere.
#pragma once

#include <cstdint>

namespace ts {

// Receives the formatted message (at most 255 characters) and the reporting
// site. Runs on the reporting thread, inside ReportAssertion.
using ReportSink = void (*)(void* context, const char* message, const char* file, int32_t line);

// Replaces the sink; null silences the channel.
void SetReportSink(ReportSink sink, void* context);

// Formats into the calling thread's 256-byte message buffer (cut to 255
// characters) and hands the text to the sink, if any.
void ReportAssertion(const char* file, int32_t line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace ts

// Evaluates to true when `expr` holds; otherwise reports
// "Assert failed: <expr>" and evaluates to false. The caller then leaves the
// state that the check guards unchanged.
#define TS_CHECK(expr) \
    ((expr) ? true : (::ts::ReportAssertion(__FILE__, __LINE__, "Assert failed: %s", #expr), false))

// A report that is not an assertion: work goes on after it.
#define TS_WARN(...) ::ts::ReportAssertion(__FILE__, __LINE__, __VA_ARGS__)

// As TS_CHECK, with the reported expression text given explicitly (the text
// names the values as the reporting site's own code calls them).
#define TS_CHECK_AS(expr, text) \
    ((expr) ? true : (::ts::ReportAssertion(__FILE__, __LINE__, "Assert failed: %s", text), false))
