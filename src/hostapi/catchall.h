// Nothing is thrown across the C boundary: every export runs its body through
// CatchAll, which reports what escaped (out of memory included) and answers
// the export's failure value. The body runs in the library's floating-point
// mode; the host's is put back on return.
#pragma once

#include <exception>
#include <new>
#include <type_traits>

#include "common/floatmode.h"

namespace ts {

// Reports "<where> failed: <what>" to the host; never throws.
void ReportCaught(const char* where, const char* what) noexcept;

template <class F>
auto CatchAll(const char* where, std::invoke_result_t<F> failed, F&& body) noexcept {
    const SimulationFloatScope floatMode;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        ReportCaught(where, "out of memory");
    } catch (const std::exception& e) {
        ReportCaught(where, e.what());
    } catch (...) {
        ReportCaught(where, "an unknown exception");
    }
    return failed;
}

template <class F>
void CatchAll(const char* where, F&& body) noexcept {
    const SimulationFloatScope floatMode;
    try {
        body();
    } catch (const std::bad_alloc&) {
        ReportCaught(where, "out of memory");
    } catch (const std::exception& e) {
        ReportCaught(where, e.what());
    } catch (...) {
        ReportCaught(where, "an unknown exception");
    }
}

}  // namespace ts
