// Inputs of faults that are known and being mended elsewhere. Each test names
// its fault with KNOWN: so that it can go once the fault is fixed; nothing
// else is skipped.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "tesselsim/tesselsim.h"

namespace tsfuzz {

// KNOWN: a removal stores the bumped version in the freed slot, so the handle
// that slot hands out next counts as live before it is issued (a remove with
// it reads records[-1]; other messages act on the wrong record). True for a
// handle a free slot or a pending removal of `removed` would hand out next.
template <class Manager>
bool KnownFreedSlotHandle(const Manager& manager, const std::vector<uint32_t>& removed, uint32_t h) {
    for (uint32_t f : manager.freeHandles)
        if (f == h) return true;
    for (uint32_t r : removed)
        if (ts::handle::Make(ts::handle::Index(r), (ts::handle::Version(r) + 1) & 0xFF) == h) return true;
    return false;
}

// KNOWN: EndFrame runs every step a large dt asks for in one cycle and the
// host waits for it (1e4 s: seconds); beyond a couple of seconds a frame is
// not what a host sends, and the step cap is coming.
inline bool KnownLongFrame(float dt) { return std::isfinite(dt) && dt > 2.0f; }

// KNOWN: EndFrame's region + 1 overflows at INT32_MAX.
inline bool KnownRegionOverflow(const EndFramePayload& p) {
    constexpr int32_t top = std::numeric_limits<int32_t>::max();
    return p.minX == top || p.minY == top || p.maxX == top || p.maxY == top;
}

// KNOWN: messages that put mass into a cell do not apply the loader's cap of
// 1e9 kg (3e38 kg lands in a cell at 0 K).
inline bool KnownHugeMass(float mass) { return std::isfinite(mass) && mass > 1e9f; }

}  // namespace tsfuzz

namespace tsfuzz {

// KNOWN (found by these targets, not yet mended): the save loader keeps a
// temperature above 10000 K and a negative mass as stored, and neither it nor
// CreateWorld checks targetTemperature: a non-finite or huge target is where
// the relaxation then drives the cell (1e22 K gives 1e19 K after one frame).
// A subnormal temperature passes the loader's "<= 0 becomes 293 K" on the host
// thread, and the sim thread's flush-to-zero then holds the cell at 0 K with
// its (subnormal) mass published. CreateWorld's values reach a running world
// through its save, so both targets skip the same shapes.
inline bool KnownUnsanitisedCell(float temperature, float mass) {
    const bool subnormal = (temperature > 0.0f && temperature < FLT_MIN) || (mass > 0.0f && mass < FLT_MIN);
    return temperature > SIM_MAX_TEMPERATURE || mass < 0.0f || subnormal;
}
inline bool KnownUnsanitisedTarget(float targetTemperature) {
    return !std::isfinite(targetTemperature) || targetTemperature > SIM_MAX_TEMPERATURE;
}

// Known shapes of a blob the loader accepts , in the layout the
// loader reads.
inline bool KnownSaveShape(const uint8_t* data, size_t size) {
    if (size < 20) return false;
    int32_t version, width, height;
    std::memcpy(&version, data + 8, 4);
    std::memcpy(&width, data + 12, 4);
    std::memcpy(&height, data + 16, 4);
    if (version > SIM_SAVE_VERSION || width <= 2 || height <= 2 || int64_t(width) * height > int64_t(size))
        return false;
    const uint64_t n = uint64_t(width) * uint64_t(height);
    const uint64_t cells = version >= 13 ? 21 : 20;
    const uint64_t diseases = cells + 12 * n;
    const uint64_t targets = diseases + (version >= 9 ? 8 * n : 0);
    if (targets + (version >= 8 ? 4 * n : 0) != size) return false;
    for (uint64_t c = 0; c < n; ++c) {
        SavedCell cell;
        std::memcpy(&cell, data + cells + 12 * c, sizeof cell);
        if (KnownUnsanitisedCell(cell.temperature, cell.mass)) return true;
        if (version >= 9) {
            // KNOWN: saves carry germ counts as stored; a count <= 0 of a
            // disease breaks the disease invariant and overflows the
            // spread's arithmetic.
            SavedDisease d;
            std::memcpy(&d, data + diseases + 8 * c, sizeof d);
            if (d.diseaseId != 0 && d.diseaseCount <= 0) return true;
        }
        if (version >= 8) {
            float target;
            std::memcpy(&target, data + targets + 4 * c, 4);
            if (KnownUnsanitisedTarget(target)) return true;
        }
    }
    return false;
}

}  // namespace tsfuzz
