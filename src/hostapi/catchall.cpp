#include "hostapi/catchall.h"

#include "common/report.h"

namespace ts {

void ReportCaught(const char* where, const char* what) noexcept {
    try {
        TS_WARN("%s failed: %s", where, what);
    } catch (...) {
        // Not even the report fits in memory: the failure value says enough.
    }
}

}  // namespace ts
