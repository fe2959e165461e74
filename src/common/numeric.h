// Numeric helpers whose results are defined for every input.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ts {

// Truncation toward zero to a 32-bit integer. Out-of-range and NaN inputs give
// INT32_MIN, the value x86's conversion instruction produces, without
// undefined behaviour.
inline int32_t TruncToInt32(float value) {
    if (!(value > -2147483904.0f && value < 2147483648.0f)) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}
inline int32_t TruncToInt32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// Saturating conversion for counts computed in 64 bits.
inline int32_t SaturateToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

inline bool IsFinite(float value) { return std::isfinite(value); }

// A value below the smallest normal float (negatives included) counts as 0:
// the simulation's threads flush subnormal results to zero (floatmode.h), so
// matter at such a temperature would be at 0 K one step later. NaN is not
// below it; callers refuse NaN first.
inline bool BelowSmallestNormal(float value) { return value < FLT_MIN; }

}  // namespace ts
