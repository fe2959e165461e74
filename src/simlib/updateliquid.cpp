// Liquids fall, spread, push up and slide; unlike liquids mix.
#include "simlib/updateliquid.h"

#include <algorithm>

#include "common/numeric.h"
#include "common/report.h"
#include "simlib/passregion.h"
#include "simlib/passstate.h"
#include "simlib/simutil.h"

namespace ts {

namespace {

// Rows from a liquid cell's own that its flow or mixing may write: three
// (a mix reaches two cells on and displaces gas one further), and one to spare.
constexpr int32_t kLiquidReach = 4;

enum FlowSlot { kLeft = 0, kRight = 1, kDown = 2, kUp = 3 };

// The running state of one liquid cell during its flow step.
struct LiquidCell {
    int32_t c;
    uint8_t e;
    float m;    // mass left to move, from the snapshot
    int32_t k;  // germs that go with it
    uint8_t d;
    float t;
    const ElementFlowInfo& flow;

    float Cap() const { return flow.maxFlow >= m ? m : flow.maxFlow; }
    int32_t Moved(float amount) const { return TruncToInt32(amount / m * float(k)); }
};

// After a move: germs, mass and the flow record follow the amount.
void Account(World& world, LiquidCell& cell, float amount, int32_t moved, FlowSlot slot, bool countGerms) {
    CellArrays& u = world.updatedCells;
    const size_t c = size_t(cell.c);
    if (countGerms) cell.k -= moved;
    if (u.diseaseIdx[c] == cell.d) AdjustDiseaseCount(u, c, -moved);
    cell.m -= amount;
    u.mass[c] -= amount;
    world.cellFlow[c].f[slot] += amount;
}

// A side or the cell above can take liquid unless it holds another liquid or
// a solid, or is closed to liquid.
bool SideClosed(const World& world, const LiquidCell& cell, int32_t n) {
    const uint8_t en = world.cells.elementIdx[size_t(n)];
    const uint8_t state = world.elements.State(en);
    if (en != cell.e && (state == SIM_STATE_LIQUID || state == SIM_STATE_SOLID)) return true;
    if (world.elements.State(world.updatedCells.elementIdx[size_t(n)]) == SIM_STATE_SOLID) return true;
    return (world.cells.cellFlags[size_t(n)] & SIM_CELL_NO_LIQUID) != 0;
}

float LiquidMassOf(const World& world, int32_t n) {
    const uint8_t en = world.cells.elementIdx[size_t(n)];
    return world.elements.State(en) == SIM_STATE_LIQUID ? world.cells.mass[size_t(n)] : 0.0f;
}

void Vanish(World& world, int32_t c) {
    EmptyCell(world, world.updatedCells, size_t(c));
    world.MarkCellChanged(c);
}

// Step 1. True when the cell is done for this step.
bool Fall(World& world, LiquidCell& cell) {
    const int32_t w = world.width;
    const int32_t b = cell.c - w;
    const CellArrays& s = world.cells;
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    if (elements.State(u.elementIdx[size_t(b)]) == SIM_STATE_SOLID || (s.cellFlags[size_t(b)] & SIM_CELL_NO_LIQUID))
        return false;
    const uint8_t eb = s.elementIdx[size_t(b)];
    const uint8_t stateB = elements.State(eb);
    if (eb == cell.e) {
        const float mb = s.mass[size_t(b)];
        float amount = 0.5f * std::max(std::max(1.01f * cell.m, cell.flow.maxMass) - mb, 0.0f);
        amount = std::min(amount, cell.Cap());
        const bool enough = !(cell.m > cell.flow.minVerticalFlow) || amount >= cell.flow.minVerticalFlow;
        if (enough && amount > 0.0f) {
            const int32_t moved = cell.Moved(amount);
            if (MoveLiquid(world, cell.c, cell.e, b, amount, cell.d, moved))
                Account(world, cell, amount, moved, kDown, true);
        }
        return false;
    }
    if (stateB == SIM_STATE_LIQUID || stateB == SIM_STATE_SOLID) return false;
    if (eb == world.sinkElementIdx) {
        Vanish(world, cell.c);
        return true;
    }
    // Falling past a ledge: the liquid may leave the grid instead.
    const bool ledge = (CanLiquidEnter(world, u, size_t(cell.c - 1)) && !CanLiquidEnter(world, u, size_t(b - 1))) ||
                       (CanLiquidEnter(world, u, size_t(cell.c + 1)) && !CanLiquidEnter(world, u, size_t(b + 1)));
    if (ledge) {
        if (ReleaseContents(world.outputCollector, world, cell.c, cell.e, cell.m, cell.t, cell.d, cell.k,
                            ForceEmission(world)))
            Vanish(world, cell.c);
        return true;
    }
    SwapCells(u, size_t(cell.c), size_t(b));
    world.MarkCellChanged(cell.c);
    world.MarkCellChanged(b);
    return true;
}

// Step 2, one side.
void Spread(World& world, LiquidCell& cell, int32_t n, FlowSlot slot) {
    if (SideClosed(world, cell, n)) return;
    const float amount = std::min(0.25f * (cell.m - LiquidMassOf(world, n)), cell.Cap());
    if (!(amount >= cell.flow.minHorizontalFlow && amount > 0.0f)) return;
    const int32_t moved = cell.Moved(amount);
    const int32_t w = world.width;
    bool done = false;
    if (IsLiquidBlocked(world, world.cells, size_t(cell.c - w)) &&
        CanLiquidEnter(world, world.updatedCells, size_t(n - w))) {
        // On a floor at a ledge: the spill may leave the grid.
        done = ReleaseContents(world.outputCollector, world, n, cell.e, amount, cell.t, cell.d, moved,
                               ForceEmission(world));
    }
    if (!done) done = MoveLiquid(world, cell.c, cell.e, n, amount, cell.d, moved);
    if (done) Account(world, cell, amount, moved, slot, true);
}

// Step 3.
void PushUp(World& world, LiquidCell& cell) {
    const int32_t n = cell.c + world.width;
    if (SideClosed(world, cell, n)) return;
    const float limit = std::max(1.01f * LiquidMassOf(world, n), cell.flow.maxMass);
    float amount = 0.5f * std::max(cell.m - limit, 0.0f);
    if (cell.m < 2.0f * limit) amount = std::min(amount, cell.Cap());
    if (!(amount > 0.01f)) return;
    const int32_t moved = cell.Moved(amount);
    if (MoveLiquid(world, cell.c, cell.e, n, amount, cell.d, moved)) Account(world, cell, amount, moved, kUp, false);
}

// Step 4: past an obstacle beside it, into gas diagonally below.
void Slide(World& world, LiquidCell& cell) {
    const CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    const int32_t c = cell.c;
    const int32_t b = c - world.width;
    auto state = [&](int32_t x) { return elements.State(u.elementIdx[size_t(x)]); };
    auto flags = [&](int32_t x) { return u.cellFlags[size_t(x)]; };
    auto open = [&](int32_t side, int32_t diagonal) {
        return state(diagonal) == SIM_STATE_GAS && (state(side) == SIM_STATE_SOLID || (flags(side) & SIM_CELL_NO_GAS)) &&
               state(b) != SIM_STATE_SOLID && !(flags(c) & SIM_CELL_NO_GAS) && !(flags(diagonal) & SIM_CELL_NO_LIQUID) &&
               !(flags(b) & (SIM_CELL_NO_GAS | SIM_CELL_NO_LIQUID));
    };
    int32_t target;
    if (open(c + 1, b + 1)) {
        target = b + 1;
    } else if (open(c - 1, b - 1)) {
        target = b - 1;
    } else {
        return;
    }
    SwapCells(world.updatedCells, size_t(c), size_t(target));
    world.MarkCellChanged(c);
    world.MarkCellChanged(target);
}

}  // namespace

bool MoveLiquid(World& world, int32_t c, uint8_t e, int32_t n, float amount, uint8_t diseaseIdx,
                int32_t diseaseCount) {
    CellArrays& u = world.updatedCells;
    const float ts = world.cells.temperature[size_t(c)];
    const uint8_t g = u.elementIdx[size_t(n)];
    const uint8_t state = world.elements.State(g);
    if (g == e) {
        AddToCell(world, u, u, n, amount, ts, diseaseIdx, diseaseCount);
        return true;
    }
    if (g == world.sinkElementIdx) {
        u.mass[size_t(n)] = 0.0f;  // the amount is destroyed
        return true;
    }
    if (state == SIM_STATE_LIQUID || state == SIM_STATE_SOLID) return false;
    if (state == SIM_STATE_GAS && !DisplaceGas(world, u, n, g)) return false;
    u.elementIdx[size_t(n)] = e;
    AddToCell(world, u, u, n, amount, ts, diseaseIdx, diseaseCount);
    world.MarkCellChanged(n);
    return true;
}

void FlowLiquid(World& world, int32_t c) {
    const CellArrays& s = world.cells;
    const uint8_t e = s.elementIdx[size_t(c)];
    LiquidCell cell{c, e, s.mass[size_t(c)], s.diseaseCount[size_t(c)], s.diseaseIdx[size_t(c)],
                    s.temperature[size_t(c)], world.elements.flowInfo[e]};
    if (Fall(world, cell)) return;
    if (cell.m > 0.0f) Spread(world, cell, c - 1, kLeft);
    if (cell.m > 0.0f) Spread(world, cell, c + 1, kRight);
    if (cell.m > 0.0f) PushUp(world, cell);
    if (cell.m > 0.0f) Slide(world, cell);
}

void LiquidFlowPass(World& world) {
    const Region& r = world.activeRegion;
    const CellArrays& s = world.cells;
    for (int32_t y = r.minY; y < r.maxY; ++y) {
        bool flowed = false;
        for (int32_t x = r.minX; x < r.maxX; ++x) {
            const int32_t c = y * world.width + x;
            if (world.elements.State(s.elementIdx[size_t(c)]) == SIM_STATE_LIQUID && s.mass[size_t(c)] > 0.0f) {
                FlowLiquid(world, c);
                flowed = true;
            }
        }
        // A liquid moves into a neighbour and pushes what it held one cell on.
        if (flowed) world.MarkRowsWritten(y - kLiquidReach, y + kLiquidReach + 1);
    }
}

bool PushLiquid(World& world, int32_t n, int32_t b) {
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    if (!(u.mass[size_t(n)] > 0.0f)) return false;
    if (u.cellFlags[size_t(b)] & SIM_CELL_NO_LIQUID) return false;
    const uint8_t eb = u.elementIdx[size_t(b)];
    const uint8_t state = elements.State(eb);
    if (state == SIM_STATE_SOLID) return false;
    if (state == SIM_STATE_LIQUID) {
        if (eb != u.elementIdx[size_t(n)]) return false;
        AddToCell(world, u, u, b, u.mass[size_t(n)], u.temperature[size_t(n)], u.diseaseIdx[size_t(n)],
                  u.diseaseCount[size_t(n)]);
        EmptyCell(world, u, size_t(n));
        world.MarkCellChanged(n);
        return true;
    }
    if (!DisplaceGas(world, u, b, eb)) return false;
    if (!TS_CHECK_AS(u.mass[size_t(b)] == 0.0f, "dest_cell.mass() == 0.0f")) return false;
    SwapCells(u, size_t(n), size_t(b));
    world.MarkCellChanged(n);
    world.MarkCellChanged(b);
    return true;
}

float MixLiquid(World& world, uint8_t e, int32_t c, int32_t n, int32_t beyond) {
    const CellArrays& s = world.cells;
    CellArrays& u = world.updatedCells;
    if (u.cellFlags[size_t(n)] & SIM_CELL_NO_LIQUID) return 0.0f;
    const uint8_t g = s.elementIdx[size_t(n)];
    if (g == e || u.elementIdx[size_t(c)] != e || u.elementIdx[size_t(n)] != g) return 0.0f;
    if (world.elements.State(g) != SIM_STATE_LIQUID) return 0.0f;
    if (!(s.mass[size_t(c)] > s.mass[size_t(n)] + s.mass[size_t(beyond)])) return 0.0f;
    if (!PushLiquid(world, n, beyond)) return 0.0f;
    return TakeOverFreedCell(world, e, c, n, 0.125f * s.mass[size_t(c)]);
}

void LiquidMixingPass(World& world, int32_t dir) {
    const Rect r = InnerRegion(world);
    const int32_t w = world.width;
    const CellArrays& s = world.cells;
    const ElementTable& elements = world.elements;
    for (int32_t y = r.y0; y < r.y1; ++y) {
        bool liquid = false;
        for (int32_t x = r.x0; x < r.x1; ++x) {
            const int32_t c = y * w + x;
            const uint8_t e = s.elementIdx[size_t(c)];
            if (elements.State(e) != SIM_STATE_LIQUID) continue;
            liquid = true;
            // Both horizontal cases record into slot 0 of c and slot 1 of c - 1.
            if (s.elementIdx[size_t(c - dir)] != e) {
                const float f = MixLiquid(world, e, c, c - dir, c - 2 * dir);
                world.cellFlow[size_t(c)].f[0] += f;
                world.cellFlow[size_t(c - 1)].f[1] -= f;
            }
            if (s.elementIdx[size_t(c + dir)] != e) {
                const float f = MixLiquid(world, e, c, c + dir, c + 2 * dir);
                world.cellFlow[size_t(c)].f[0] -= f;
                world.cellFlow[size_t(c - 1)].f[1] += f;
            }
            const uint8_t now = world.updatedCells.elementIdx[size_t(c)];
            if (s.elementIdx[size_t(c + w)] != e &&
                !(world.updatedCells.mass[size_t(c)] < elements.flowInfo[now].maxMass)) {
                const float f = MixLiquid(world, e, c, c + w, c + 2 * w);
                world.cellFlow[size_t(c)].f[3] += f;
                world.cellFlow[size_t(c + w)].f[2] -= f;
            }
        }
        // A mix reaches two cells on, which may push gas one further.
        if (liquid) world.MarkRowsWritten(y - kLiquidReach, y + kLiquidReach + 1);
    }
}

}  // namespace ts
