// Gases spread, fill vacuum and even out their pressure; unlike gases mix.
#include "simlib/gasflow.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "common/numeric.h"
#include "simlib/passregion.h"
#include "simlib/simutil.h"

namespace ts {

namespace {

constexpr float kMaxShare = 0.125f;

bool IsGasOrVacuum(uint8_t state) { return state == SIM_STATE_VACUUM || state == SIM_STATE_GAS; }

// The snapshot's half of a pressure cell, which no exchange of the pass can
// change: open to gas and holding gas or vacuum. Flags for x0..x1 of row y.
void MarkOpenToPressure(const World& world, int32_t y, int32_t x0, int32_t x1, uint8_t* open) {
    const size_t row = size_t(y) * size_t(world.width);
    const uint8_t* element = world.cells.elementIdx.data() + row;
    const uint8_t* flags = world.cells.cellFlags.data() + row;
    for (int32_t x = x0; x <= x1; ++x)
        open[x] = (flags[x] & SIM_CELL_NO_GAS) == 0 && IsGasOrVacuum(world.elements.State(element[x]));
}

// Open to gas, untouched so far this step, and holding gas or vacuum; `open`
// is the cell's row of MarkOpenToPressure.
bool IsPressureCell(const World& world, const uint8_t* open, int32_t x, int32_t c) {
    return open[x] && world.updatedCells.elementIdx[size_t(c)] == world.cells.elementIdx[size_t(c)];
}

// The same element, or gas next to vacuum.
bool MayExchange(const World& world, int32_t c, int32_t n) {
    const uint8_t a = world.cells.elementIdx[size_t(c)];
    const uint8_t b = world.cells.elementIdx[size_t(n)];
    return a == b || world.elements.State(a) != world.elements.State(b);
}

// Two cells of one finite, non-negative mass under a finite flow rate: the
// exchange would compute a zero flow, move nothing and return the zero, which
// is not recorded. The pass skips the call for them (most of a settled room).
bool EvenPair(const World& world, int32_t c, int32_t n) {
    const float m = world.cells.mass[size_t(c)];
    if (m != world.cells.mass[size_t(n)] || !(m >= 0.0f && m <= FLT_MAX)) return false;
    const ElementTable& elements = world.elements;
    const uint8_t ec = world.cells.elementIdx[size_t(c)];
    const uint8_t flowing = elements.State(ec) == SIM_STATE_GAS ? ec : world.cells.elementIdx[size_t(n)];
    return std::isfinite(elements.gasInfo[flowing].flow);
}

// Flow records only change with a flow: cellFlow never holds -0, so adding a
// zero of either sign would leave it as it is.
void RecordFlow(float& from, float& to, float f) {
    if (f == 0.0f) return;
    from += f;
    to -= f;
}

}  // namespace

float ExchangeGas(World& world, int32_t c, int32_t n) {
    const CellArrays& s = world.cells;
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    const float mc = s.mass[size_t(c)];
    const float mn = s.mass[size_t(n)];
    const uint8_t ec = s.elementIdx[size_t(c)];
    const float k = elements.State(ec) == SIM_STATE_GAS ? elements.gasInfo[ec].flow
                                                          : elements.gasInfo[s.elementIdx[size_t(n)]].flow;
    float f = k * (mc - mn);
    f = std::min(f, kMaxShare * mc);
    f = std::max(f, -kMaxShare * mn);
    const size_t src = size_t(f >= 0.0f ? c : n);
    const size_t dst = size_t(f >= 0.0f ? n : c);
    const float amount = std::min(std::fabs(f), s.mass[src]);
    // Nothing to move (two empty cells among them): nothing changes, and the
    // mixed temperature below is never 0/0.
    if (!(amount > 0.0f)) return f;
    const uint8_t moving = s.elementIdx[src];
    const float sourceMass = s.mass[src];
    const int32_t count = TruncToInt32(std::min(std::max(amount / sourceMass, 0.0f), 1.0f) * float(s.diseaseCount[src]));
    const uint8_t disease = s.diseaseIdx[src];
    const float ts = s.temperature[src];

    const float oldMass = u.mass[dst];
    const float oldT = u.temperature[dst];
    const float newMass = amount + oldMass;
    u.mass[dst] = newMass;
    float mixed = std::clamp((amount * ts + oldMass * oldT) / newMass, std::min(ts, oldT), std::max(ts, oldT));
    // Into an empty cell (0 K) from gas just above the smallest normal
    // temperature, amount * ts flushes to zero on this thread: the gas keeps
    // its own temperature instead of becoming matter at 0 K.
    if (!(mixed > 0.0f)) mixed = std::max(ts, oldT);
    u.temperature[dst] = mixed;
    AddDisease(u, dst, disease, count, world.diseases);

    const float left = u.mass[src] - amount;
    u.mass[src] = left > 0.0f ? left : 0.0f;
    u.diseaseCount[src] -= count;
    if (u.diseaseCount[src] <= 0) u.ClearDisease(src);

    if (elements.State(s.elementIdx[dst]) == SIM_STATE_VACUUM) {
        if (s.elementIdx[dst] == world.sinkElementIdx) {
            u.mass[dst] = 0.0f;
            u.temperature[dst] = 0.0f;
            u.ClearDisease(dst);
        } else {
            u.elementIdx[dst] = moving;
            world.MarkCellChanged(int32_t(dst));
        }
    }
    return f;
}

void GasPressurePass(World& world, int32_t dir) {
    const Region& r = world.activeRegion;
    if (r.minY >= r.maxY) return;
    const int32_t w = world.width;
    const ElementTable& elements = world.elements;
    // Every cell and neighbour the scan meets lies in columns minX..maxX.
    uint8_t* open = world.passRows.data();
    uint8_t* openAbove = open + w;
    MarkOpenToPressure(world, r.minY, r.minX, r.maxX, open);
    for (int32_t y = r.minY; y < r.maxY; ++y) {
        MarkOpenToPressure(world, y + 1, r.minX, r.maxX, openAbove);
        bool exchanged = false;
        const int32_t first = dir > 0 ? r.minX : r.maxX;
        const int32_t count = r.maxX - r.minX;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t x = first + dir * i;
            if (!open[x]) continue;
            const int32_t c = y * w + x;
            if (!IsPressureCell(world, open, x, c)) continue;
            const int32_t n1 = c + dir;
            const int32_t n2 = c + w;
            const int32_t d = c + dir + w;
            float f = 0.0f;
            if (IsPressureCell(world, open, x + dir, n1) && MayExchange(world, c, n1) && !EvenPair(world, c, n1)) {
                f = ExchangeGas(world, c, n1);
                exchanged = true;
            }
            RecordFlow(world.cellFlow[size_t(c)].f[1], world.cellFlow[size_t(n1)].f[0], float(dir) * f);
            f = 0.0f;
            if (IsPressureCell(world, open, x, c) && IsPressureCell(world, openAbove, x, n2) &&
                MayExchange(world, c, n2) && !EvenPair(world, c, n2)) {
                f = ExchangeGas(world, c, n2);
                exchanged = true;
            }
            RecordFlow(world.cellFlow[size_t(c)].f[2], world.cellFlow[size_t(n2)].f[3], f);
            if (!IsPressureCell(world, open, x, c) || !IsPressureCell(world, openAbove, x + dir, d)) continue;
            const uint8_t sideState = elements.State(world.cells.elementIdx[size_t(c + dir)]);
            const uint8_t upState = elements.State(world.cells.elementIdx[size_t(c + w)]);
            if (sideState != SIM_STATE_SOLID && upState != SIM_STATE_SOLID && (sideState | upState) != 3 &&
                MayExchange(world, c, d) && !EvenPair(world, c, d)) {
                ExchangeGas(world, c, d);
                exchanged = true;
            }
        }
        // An exchange writes its two cells only: this row and the next.
        if (exchanged) world.MarkRowsWritten(y, y + 2);
        std::swap(open, openAbove);
    }
}

float MixGas(World& world, uint8_t e, int32_t c, int32_t n, int32_t beyond) {
    const CellArrays& s = world.cells;
    CellArrays& u = world.updatedCells;
    const uint8_t g = s.elementIdx[size_t(n)];
    if (world.elements.State(g) != SIM_STATE_GAS) return 0.0f;
    if (!(s.mass[size_t(c)] > s.mass[size_t(n)])) return 0.0f;
    if (u.elementIdx[size_t(c)] != e || u.elementIdx[size_t(n)] != g || !(u.mass[size_t(n)] > 0.0f)) return 0.0f;
    const uint8_t b = u.elementIdx[size_t(beyond)];
    if ((b != g && b != world.vacuumElementIdx) || (u.cellFlags[size_t(beyond)] & SIM_CELL_NO_GAS)) return 0.0f;
    MoveCellContents(world, u, n, beyond);
    return TakeOverFreedCell(world, e, c, n, std::min(u.mass[size_t(c)], 0.125f * s.mass[size_t(c)]));
}

void GasMixingPass(World& world, int32_t dir) {
    const Rect r = InnerRegion(world);
    const int32_t w = world.width;
    const CellArrays& s = world.cells;
    const ElementTable& elements = world.elements;
    for (int32_t y = r.y0; y < r.y1; ++y) {
        bool mixed = false;
        for (int32_t x = r.x0; x < r.x1; ++x) {
            const int32_t c = y * w + x;
            const uint8_t e = s.elementIdx[size_t(c)];
            if (elements.State(e) != SIM_STATE_GAS) continue;
            for (const int32_t n : {c - w, c - dir, c + dir, c + w}) {
                const uint8_t g = s.elementIdx[size_t(n)];
                if (g == e || (s.cellFlags[size_t(n)] & SIM_CELL_NO_GAS) || elements.State(g) != SIM_STATE_GAS)
                    continue;
                const float f = MixGas(world, e, c, n, n + (n - c));
                world.cellFlow[size_t(c)].f[3] -= f;
                world.cellFlow[size_t(n)].f[2] += f;
                mixed = true;
            }
        }
        // A mix writes c, its neighbour n and the cell beyond n: two rows either way.
        if (mixed) world.MarkRowsWritten(y - 2, y + 3);
    }
}

}  // namespace ts
