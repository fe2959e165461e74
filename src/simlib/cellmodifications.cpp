// Host cell modifications: add matter by its phase, replace a cell, or
// replace it while pushing the old contents aside.
#include <cmath>

#include "common/numeric.h"
#include "common/report.h"
#include "simlib/messagechecks.h"
#include "simlib/simframemanager.h"
#include "simlib/simutil.h"

namespace ts {

namespace {

// The largest temperature a cell with mass may hold (strictly below the maximum).
const float kHottest = std::nextafter(SIM_MAX_TEMPERATURE, 0.0f);
// The coldest temperature the clamp gives matter that arrives at 0 K or below.
constexpr float kColdest = 1.0f;

struct Modification {
    int32_t c;
    uint8_t e;
    float m;
    float t;
    uint8_t d;
    int32_t k;
};

bool CellInvariantHolds(const World& world, size_t c) {
    const CellArrays& u = world.updatedCells;
    return TS_CHECK_AS((u.mass[c] == 0.0f || u.temperature[c] > 0.0f) && u.temperature[c] < SIM_MAX_TEMPERATURE,
                       "(cell.mass() == 0.0f || cell.temperature() > 0.0f) && cell.temperature() < SIM_MAX_TEMPERATURE");
}

uint8_t StateAt(const World& world, int32_t c) { return world.elements.State(world.updatedCells.elementIdx[size_t(c)]); }
bool IsSinkAt(const World& world, int32_t c) {
    return world.elements.records[world.updatedCells.elementIdx[size_t(c)]].id == SIM_SINK_ELEMENT_ID;
}

void Add(World& world, int32_t c, float m, float t, uint8_t d, int32_t k) {
    AddToCell(world, world.updatedCells, world.updatedCells, c, m, t, d, k);
}

void SetDisease(CellArrays& u, size_t c, uint8_t d, int32_t k) {
    u.diseaseIdx[c] = d;
    u.diseaseCount[c] = k;
    u.diseaseAge[c] = 0;
    u.diseaseGrowthRemainder[c] = 0.0f;
    // A cell never keeps a disease without germs, nor germs without a disease.
    if (d == kNoDisease || k < 1) u.ClearDisease(c);
}

void MakeVacuum(World& world, int32_t c) {
    CellArrays& u = world.updatedCells;
    u.elementIdx[size_t(c)] = world.vacuumElementIdx;
    u.mass[size_t(c)] = 0.0f;
    u.temperature[size_t(c)] = 0.0f;
    world.MarkCellChanged(c);
}

// New matter that finds no room cancels the old mass for mass.
void Cancel(World& world, int32_t t, const Modification& mod, bool checkInvariant) {
    CellArrays& u = world.updatedCells;
    const float m = u.mass[size_t(t)];
    if (mod.m < m) {
        u.mass[size_t(t)] = m - mod.m;
        return;
    }
    u.elementIdx[size_t(t)] = mod.e;
    u.mass[size_t(t)] = 0.0f;
    u.temperature[size_t(t)] = 0.0f;
    const float left = mod.m - m;
    Add(world, t, left, mod.t, mod.d, TruncToInt32(left / mod.m * float(mod.k)));
    if (checkInvariant) CellInvariantHolds(world, size_t(t));
    if (u.mass[size_t(t)] <= kSmallestMass) u.elementIdx[size_t(t)] = world.vacuumElementIdx;
    world.MarkCellChanged(t);
}

void AddGas(World& world, const Modification& mod) {
    CellArrays& u = world.updatedCells;
    const uint8_t o = u.elementIdx[size_t(mod.c)];
    if (o == mod.e) {
        Add(world, mod.c, mod.m, mod.t, mod.d, mod.k);
        return;
    }
    bool room = false;
    switch (world.elements.State(o)) {
        case SIM_STATE_VACUUM: room = true; break;
        case SIM_STATE_GAS: room = DisplaceGas(world, u, mod.c, o); break;
        case SIM_STATE_LIQUID: room = DisplaceLiquid(world, u, mod.c, o); break;
        default: break;
    }
    if (!room) {
        Cancel(world, mod.c, mod, true);
        return;
    }
    u.elementIdx[size_t(mod.c)] = mod.e;
    Add(world, mod.c, mod.m, mod.t, mod.d, mod.k);
    world.MarkCellChanged(mod.c);
    CellInvariantHolds(world, size_t(mod.c));
}

void AddLiquid(World& world, const Modification& mod) {
    CellArrays& u = world.updatedCells;
    const int32_t w = world.width;
    if (u.elementIdx[size_t(mod.c)] == mod.e) {
        Add(world, mod.c, mod.m, mod.t, mod.d, mod.k);
        return;
    }
    // Into a solid: the first open neighbour takes the liquid, with what it holds.
    int32_t t = mod.c;
    if (StateAt(world, mod.c) == SIM_STATE_SOLID) {
        for (const int32_t n : {mod.c - 1, mod.c + 1, mod.c - w, mod.c + w}) {
            if (StateAt(world, n) != SIM_STATE_SOLID) {
                t = n;
                break;
            }
        }
    }
    const uint8_t o = u.elementIdx[size_t(t)];
    if (world.elements.State(o) == SIM_STATE_SOLID || IsSinkAt(world, t)) {
        Cancel(world, t, mod, false);
        return;
    }
    // Adding matter never destroys the same matter already there.
    if (o == mod.e) {
        Add(world, t, mod.m, mod.t, mod.d, mod.k);
        return;
    }
    bool place = false;
    switch (world.elements.State(o)) {
        case SIM_STATE_VACUUM: place = true; break;
        case SIM_STATE_GAS:
            if (DisplaceGas(world, u, t, o)) {
                place = true;
            } else if (StateAt(world, t + w) == SIM_STATE_LIQUID) {
                SwapCells(u, size_t(t + w), size_t(t));
                world.MarkCellChanged(t + w);
                world.MarkCellChanged(t);
            }
            break;
        case SIM_STATE_LIQUID: place = DisplaceLiquid(world, u, t, o); break;
        default: break;
    }
    if (place) {
        u.elementIdx[size_t(t)] = mod.e;
        Add(world, t, mod.m, mod.t, mod.d, mod.k);
        world.MarkCellChanged(t);
        return;
    }
    for (const int32_t n : {t + 1, t - 1, t + w, t - w}) {
        if (u.elementIdx[size_t(n)] == mod.e) {
            Add(world, n, mod.m, mod.t, mod.d, mod.k);
            return;
        }
    }
    Cancel(world, t, mod, false);
}

void AddSolidInPlace(World& world, const Modification& mod) {
    CellArrays& u = world.updatedCells;
    const uint8_t o = u.elementIdx[size_t(mod.c)];
    const uint8_t state = world.elements.State(o);
    if (state == SIM_STATE_SOLID) {
        if (o == mod.e) Add(world, mod.c, mod.m, mod.t, mod.d, mod.k);
    } else {
        bool evicted = false;
        if (state == SIM_STATE_GAS) evicted = DisplaceGas(world, u, mod.c, o);
        if (state == SIM_STATE_LIQUID) evicted = DisplaceLiquid(world, u, mod.c, o);
        // A cell emptied by the eviction (or empty already) takes the solid; a
        // vacuum element holding mass would be a corrupt cell.
        if ((evicted || state == SIM_STATE_VACUUM) && u.elementIdx[size_t(mod.c)] == world.vacuumElementIdx &&
            u.mass[size_t(mod.c)] == 0.0f)
            u.elementIdx[size_t(mod.c)] = mod.e;
        Add(world, mod.c, mod.m, mod.t, mod.d, mod.k);
    }
    CellInvariantHolds(world, size_t(mod.c));
    world.MarkCellChanged(mod.c);
}

void AddSolidStacked(World& world, Modification mod) {
    CellArrays& u = world.updatedCells;
    const int32_t w = world.width;
    const float maxMass = world.elements.solidInfo[mod.e].maxMass;
    for (const int32_t n : {mod.c - w, mod.c}) {
        if (u.elementIdx[size_t(n)] != mod.e) continue;
        const float room = maxMass - u.mass[size_t(n)];
        if (!(room > 0.0f)) continue;
        const float add = std::min(room, mod.m);
        Add(world, n, add, mod.t, mod.d, TruncToInt32(add / mod.m * float(mod.k)));
        mod.m -= add;
    }
    if (!(mod.m > 0.0f)) return;
    const int32_t x = mod.c % w;
    const int32_t y = mod.c / w;
    if (y >= world.height - 1) return;
    int32_t target = -1;
    for (int32_t yy = y; yy < world.height - 1; ++yy) {
        if (StateAt(world, yy * w + x) != SIM_STATE_SOLID) {
            target = yy * w + x;
            break;
        }
    }
    if (target < 0 || IsSinkAt(world, target)) return;  // the rest is dropped
    const uint8_t o = u.elementIdx[size_t(target)];
    if (world.elements.State(o) == SIM_STATE_GAS) DisplaceGas(world, u, target, o);
    if (world.elements.State(o) == SIM_STATE_LIQUID) DisplaceLiquid(world, u, target, o);
    u.elementIdx[size_t(target)] = mod.e;
    u.mass[size_t(target)] = mod.m;
    u.temperature[size_t(target)] = mod.t;
    CellInvariantHolds(world, size_t(target));
    world.MarkCellChanged(target);
    SetDisease(u, size_t(target), mod.d, mod.k);
}

void ReplaceCell(World& world, const Modification& mod) {
    CellArrays& u = world.updatedCells;
    const bool vacuum = world.elements.State(mod.e) == SIM_STATE_VACUUM;
    u.elementIdx[size_t(mod.c)] = mod.e;
    u.temperature[size_t(mod.c)] = vacuum ? 0.0f : mod.t;
    u.mass[size_t(mod.c)] = vacuum ? 0.0f : mod.m;
    CellInvariantHolds(world, size_t(mod.c));
    world.MarkCellChanged(mod.c);
    SetDisease(u, size_t(mod.c), mod.d, mod.k);
}

void ReplaceAndDisplace(World& world, const Modification& mod) {
    CellArrays& u = world.updatedCells;
    const uint8_t o = u.elementIdx[size_t(mod.c)];
    if (world.elements.State(o) == SIM_STATE_GAS) DisplaceGas(world, u, mod.c, o);
    if (world.elements.State(o) == SIM_STATE_LIQUID) DisplaceLiquid(world, u, mod.c, o);
    const bool vacuum = world.elements.State(mod.e) == SIM_STATE_VACUUM;
    u.elementIdx[size_t(mod.c)] = mod.e;
    const float mass = vacuum ? 0.0f : mod.m;
    u.mass[size_t(mod.c)] = mass;
    if ((mod.t <= 0.0f && mass > 0.0f) || mod.t > SIM_MAX_TEMPERATURE)
        TS_WARN("ReplaceAndDisplace resulted in cell with T=%f, M=%f. Clamping temperature.", double(mod.t),
                double(mass));
    float t = vacuum ? 0.0f : std::min(std::max(mod.t, 0.0f), SIM_MAX_TEMPERATURE);
    // Matter is never at 0 K: the floor the other types use.
    if (mass > 0.0f && t == 0.0f) t = kColdest;
    u.temperature[size_t(mod.c)] = mass > 0.0f ? t : 0.0f;
    world.MarkCellChanged(mod.c);
    SetDisease(u, size_t(mod.c), mod.d, mod.k);
}

void RemoveMass(World& world, const Modification& mod) {
    CellArrays& u = world.updatedCells;
    // Only matter of the same phase is taken away.
    if (StateAt(world, mod.c) != world.elements.State(mod.e)) return;
    const float left = mod.m + u.mass[size_t(mod.c)];
    u.mass[size_t(mod.c)] = left > 0.0f ? left : 0.0f;
    if (u.mass[size_t(mod.c)] <= kSmallestMass) MakeVacuum(world, mod.c);
}

void ApplyOne(World& world, const ModifyCellPayload& p) {
    if (!ValidGameCell(world, p.gameCell, "ModifyCell") || !ValidElement(world, p.elementIdx, "ModifyCell") ||
        !ValidDisease(world, p.diseaseIdx, "ModifyCell"))
        return;
    if (!IsFinite(p.temperature) || !IsFinite(p.mass)) {
        TS_WARN("ModifyCell skipped: T=%f M=%f is not finite", double(p.temperature), double(p.mass));
        return;
    }
    Modification mod{world.GameToSim(p.gameCell), p.elementIdx, p.mass, p.temperature, p.diseaseIdx, p.diseaseCount};
    // Matter below the smallest normal float is at 0 K: the simulation
    // thread flushes such a temperature to zero.
    if ((BelowSmallestNormal(mod.t) && mod.m > 0.0f) || mod.t > SIM_MAX_TEMPERATURE) {
        TS_WARN("CLAMPING TEMPERATURE: Invalid cell modification msg: GameCell=%d T=%f M=%f EIdx=%d, DIdx=%d, DC=%d",
                p.gameCell, double(p.temperature), double(p.mass), int(p.elementIdx), int(p.diseaseIdx),
                p.diseaseCount);
        if (!(mod.m > 0.0f)) {
            mod.m = 0.0f;
            mod.t = 0.0f;
        } else if (p.replaceType == SIM_REPLACE_AND_DISPLACE) {
            // Clamped again, and floored, where it is written.
            mod.t = std::min(mod.t, SIM_MAX_TEMPERATURE);
            if (BelowSmallestNormal(mod.t)) mod.t = 0.0f;
        } else {
            // Matter is kept strictly inside (0, 10000) K: a cell with mass at
            // 0 K or at the maximum would fail the cell invariant.
            mod.t = std::min(std::max(mod.t, kColdest), kHottest);
        }
    }
    // Not even an empty cell holds a temperature below 0 K (the host would read it back).
    if (mod.t < 0.0f && !(mod.m > 0.0f)) {
        TS_WARN("ModifyCell: temperature %f without mass taken as 0", double(mod.t));
        mod.t = 0.0f;
    }
    // A replacement never leaves a negative mass: an empty cell is vacuum.
    if ((p.replaceType == SIM_REPLACE_REPLACE || p.replaceType == SIM_REPLACE_AND_DISPLACE) && mod.m < 0.0f) {
        mod.e = world.vacuumElementIdx;
        mod.m = 0.0f;
        mod.t = 0.0f;
    }
    switch (p.replaceType) {
        case SIM_REPLACE_REPLACE: ReplaceCell(world, mod); return;
        case SIM_REPLACE_AND_DISPLACE: ReplaceAndDisplace(world, mod); return;
        case SIM_REPLACE_ADD: break;
        default: return;
    }
    switch (world.elements.State(mod.e)) {
        case SIM_STATE_GAS:
            if (mod.m > 0.0f) {
                AddGas(world, mod);
            } else {
                RemoveMass(world, mod);
            }
            break;
        case SIM_STATE_LIQUID:
            if (mod.m > 0.0f) AddLiquid(world, mod);
            if (mod.m < 0.0f) RemoveMass(world, mod);
            break;
        case SIM_STATE_SOLID:
            if (mod.m > 0.0f) {
                if (p.solidMode == 0) AddSolidStacked(world, mod);
                if (p.solidMode == 1) AddSolidInPlace(world, mod);
            }
            if (mod.m < 0.0f) RemoveMass(world, mod);
            break;
        default: TS_WARN("Invalid replacement type"); break;
    }
}

}  // namespace

void ApplyCellModifications(World& world, MessageQueue& queue) {
    for (size_t i = 0; i < queue.count(); ++i) {
        const ModifyCellPayload p = WithCappedMass(queue.Get<ModifyCellPayload>(i), "ModifyCell");
        ApplyOne(world, p);
        if (p.callbackId != SIM_NO_CALLBACK) world.outputCollector.cellCallbacks.push_back(p.callbackId);
    }
    queue.Clear();
}

}  // namespace ts
