// The floating-point mode every computation of the library runs in, whatever
// the host set on its threads: every exception masked, rounding to nearest,
// denormal results flushed to zero (denormal inputs are read as they are). A
// thread inherits the mode of the thread that created it, and a host may trap
// on invalid operations or round another way; the physics would then crash
// or give other bits than the same run elsewhere.
#pragma once

#include <xmmintrin.h>

namespace ts {

constexpr unsigned kSimulationFloatMode = 0x1F80u | 0x8000u;  // masks | flush to zero

// The library's own threads, once at their start.
inline void SetSimulationFloatMode() { _mm_setcsr(kSimulationFloatMode); }

// An export's body: the host's mode (status flags included) is put back on return.
class SimulationFloatScope {
public:
    SimulationFloatScope() : host_(_mm_getcsr()) { SetSimulationFloatMode(); }
    ~SimulationFloatScope() { _mm_setcsr(host_); }
    SimulationFloatScope(const SimulationFloatScope&) = delete;
    SimulationFloatScope& operator=(const SimulationFloatScope&) = delete;

private:
    unsigned host_;
};

}  // namespace ts
