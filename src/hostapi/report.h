// Reports to the host: failed assertions and warnings go to the host callback
// with code 1, the formatted message, the source location and the call stack.
#pragma once

#include <cstdint>

namespace ts {

// Formats into the calling thread's 256-byte message buffer (cut to 255
// characters), walks the stack and calls the host callback, if any.
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
