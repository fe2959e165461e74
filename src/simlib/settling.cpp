// The per-cell settle pass: traces vanish, heavier matter sinks, pressure
// breaks solids, liquids boil off and off-gas, solids sublimate, gases drift
// and unstable solids fall.
#include "simlib/settling.h"

#include <algorithm>
#include <cfloat>

#include "common/numeric.h"
#include "common/report.h"
#include "simlib/passstate.h"
#include "simlib/simutil.h"

namespace ts {

namespace {

constexpr float kDrawScale = 3.0518509e-5f;  // 15-bit draw to [0, 1]
constexpr uint32_t kSinkId = SIM_SINK_ELEMENT_ID;

float Draw(World& world) { return float(world.NextRandom()) * kDrawScale; }

// Empties a cell and reports the change.
void EmptyAndMark(World& world, int32_t c) {
    EmptyCell(world, world.updatedCells, size_t(c));
    world.MarkCellChanged(c);
}

uint8_t StateAt(const World& world, int32_t c) { return world.elements.State(world.updatedCells.elementIdx[size_t(c)]); }
const ElementRecord& RecordAt(const World& world, int32_t c) {
    return world.elements.records[world.updatedCells.elementIdx[size_t(c)]];
}

void ResetTimer(World& world, int32_t c) { world.cellDirtyMask[size_t(c)] |= 31; }

bool SinkOrConvect(World& world, int32_t c, float chance) {
    CellArrays& u = world.updatedCells;
    const int32_t b = c - world.width;
    const ElementRecord& e = RecordAt(world, c);
    const ElementRecord& eb = RecordAt(world, b);
    if (eb.stateFlags != e.stateFlags) return false;
    if (!(Draw(world) > chance)) return false;
    if (e.weight > eb.weight) {
        SwapCells(u, size_t(c), size_t(b));
        world.MarkCellChanged(c);
        world.MarkCellChanged(b);
        return true;
    }
    if (u.elementIdx[size_t(b)] != u.elementIdx[size_t(c)] || !(u.temperature[size_t(b)] > u.temperature[size_t(c)]))
        return false;
    if (StateOf(e.stateFlags) == SIM_STATE_LIQUID) {
        // Warm under cold: both take the mixed temperature.
        const float mixed = MixTemperature(u.mass[size_t(c)], u.temperature[size_t(c)], u.mass[size_t(b)],
                                           u.temperature[size_t(b)]);
        u.temperature[size_t(c)] = mixed;
        u.temperature[size_t(b)] = mixed;
    } else {
        SwapCells(u, size_t(c), size_t(b));
    }
    return true;
}

bool PressureBreak(World& world, int32_t c, float ratio, int32_t step) {
    const CellArrays& u = world.updatedCells;
    const int32_t cellCount = int32_t(world.cellCount());
    int32_t passed[3];
    int32_t count = 0;
    float resistance = 0.0f;
    for (int32_t i = 1; i <= 3; ++i) {
        const int32_t t = c + i * step;
        if (t < 0 || t >= cellCount) return false;  // never walk off the grid
        if (StateAt(world, t) != SIM_STATE_SOLID) break;
        const ElementRecord& r = RecordAt(world, t);
        if ((r.stateFlags & SIM_ELEMENT_UNBREAKABLE) || (u.cellFlags[size_t(t)] & SIM_CELL_PRESSURE_PROOF)) return false;
        const uint8_t modifier = u.strengthModifier[size_t(t)];
        const float scale = (modifier & 0x80) ? u.mass[size_t(t)] / r.maxMass : 1.0f;
        resistance += scale * r.strength * float(modifier & 127) * 0.25f;
        if (resistance > ratio) return false;
        passed[count++] = t;
    }
    if (count < 1 || count > 2 || !(ratio > resistance)) return false;
    const int32_t liquidCell = world.ReportableGameCell(c);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t solidCell = world.ReportableGameCell(passed[i]);
        if (solidCell >= 0 && liquidCell >= 0)
            world.outputCollector.pressureDamage.push_back(PressureDamageEntry{solidCell, liquidCell});
    }
    return true;
}

bool BoilOff(World& world, int32_t c, int32_t n) {
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    const float m = u.mass[size_t(c)];
    if (!(m >= 5.0f)) return false;
    const ElementRecord& e = RecordAt(world, c);
    const uint8_t h = e.highTempTransitionIndex;
    if (h == kNoElement) return false;
    const float tn = u.temperature[size_t(n)];
    const ElementRecord& en = RecordAt(world, n);
    if (!(tn > e.highTemp + 3.0f && tn >= en.lowTemp + 13.0f)) return false;
    if (!(u.temperature[size_t(c)] < e.highTemp - 3.0f)) return false;
    const float q = (e.highTemp + 3.0f - u.temperature[size_t(c)]) * e.specificHeatCapacity * 5.0f;
    const float cn = u.mass[size_t(n)] * en.specificHeatCapacity;
    if (!(cn * 10.0f >= q)) return false;
    const uint8_t hState = elements.State(h);
    if (!TS_CHECK_AS(hState == SIM_STATE_GAS || hState == SIM_STATE_LIQUID,
                     "transition of a boiling liquid is a gas or a liquid"))
        return false;
    const uint8_t disease = u.diseaseIdx[size_t(c)];
    const int32_t oldCount = u.diseaseCount[size_t(c)];
    const int32_t count = TruncToInt32(float(oldCount) * 5.0f / m);
    u.mass[size_t(c)] -= 5.0f;
    u.diseaseCount[size_t(c)] -= count;
    if (u.diseaseCount[size_t(c)] < 1) u.ClearDisease(size_t(c));
    if (!DisplaceLiquid(world, u, c, u.elementIdx[size_t(c)])) {
        // No room: the 5 kg and their germs go back.
        u.mass[size_t(c)] += 5.0f;
        u.diseaseIdx[size_t(c)] = disease;
        u.diseaseCount[size_t(c)] = oldCount;
        return false;
    }
    // The heat given up never warms the neighbour: in float, (cn tn - q) / cn
    // of a heavy cell at 10000 K rounded 1 ulp past the ceiling.
    u.temperature[size_t(n)] = std::min((cn * tn - q) / cn, tn);
    const float boiled = e.highTemp + 3.0f;
    if (hState == SIM_STATE_LIQUID &&
        ReleaseContents(world.outputCollector, world, c, h, 5.0f, boiled, disease, count, ForceEmission(world)))
        return true;
    u.elementIdx[size_t(c)] = h;
    u.mass[size_t(c)] = 5.0f;
    u.temperature[size_t(c)] = boiled;
    world.MarkCellChanged(c);
    return true;
}

bool MeltNeighbour(World& world, int32_t c, int32_t n) {
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    if (StateAt(world, n) != SIM_STATE_SOLID || !(u.mass[size_t(n)] > 5.0f)) return false;
    if (u.cellFlags[size_t(n)] & (SIM_CELL_PRESSURE_PROOF | SIM_CELL_REPORT_TRANSITIONS)) return false;
    const ElementRecord& en = RecordAt(world, n);
    const float tc = u.temperature[size_t(c)];
    if (!(tc > en.highTemp + 3.0f) || !(u.temperature[size_t(n)] < en.highTemp - 3.0f)) return false;
    const uint8_t h = en.highTempTransitionIndex;
    if (h == kNoElement || elements.State(h) != SIM_STATE_LIQUID) return false;
    const float melted = en.highTemp + 3.0f;
    const float q = (melted - u.temperature[size_t(n)]) * elements.records[h].specificHeatCapacity * 5.0f;
    const ElementRecord& ec = RecordAt(world, c);
    const float cc = u.mass[size_t(c)] * ec.specificHeatCapacity;
    if (!((tc - (ec.lowTemp + 6.0f)) * cc >= q)) return false;
    const int32_t count = TruncToInt32(float(u.diseaseCount[size_t(n)]) * 5.0f / u.mass[size_t(n)]);
    if (ReleaseContents(world.outputCollector, world, c, h, 5.0f, melted, u.diseaseIdx[size_t(n)], count,
                        ForceEmission(world))) {
        u.temperature[size_t(c)] = std::min((cc * tc - q) / cc, tc);
        u.mass[size_t(n)] -= 5.0f;
        AdjustDiseaseCount(u, size_t(n), -count);
        if (u.mass[size_t(n)] <= kSmallestMass) EmptyAndMark(world, n);
        return true;
    }
    if (!DisplaceGas(world, u, c, u.elementIdx[size_t(c)])) return false;
    u.elementIdx[size_t(c)] = h;
    u.mass[size_t(c)] = 5.0f;
    u.temperature[size_t(c)] = melted;
    u.mass[size_t(n)] -= 5.0f;
    if (u.mass[size_t(n)] <= kSmallestMass) EmptyAndMark(world, n);
    world.MarkCellChanged(c);
    return true;
}

void Sublimate(World& world, int32_t c) {
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    if (!(u.mass[size_t(c)] < 1.8f)) return;
    const bool intoSink = u.elementIdx[size_t(c)] == world.sinkElementIdx;
    const int32_t w = world.width;
    const struct {
        int32_t offset;
        float angle;
    } sides[4] = {{w, 180.0f}, {1, 90.0f}, {-1, -90.0f}, {-w, 0.0f}};
    for (const auto& side : sides) {
        const int32_t s = c + side.offset;
        if (StateAt(world, s) != SIM_STATE_SOLID) continue;
        const ElementSolidInfo& solid = elements.solidInfo[u.elementIdx[size_t(s)]];
        const uint8_t g = solid.sublimateIndex;
        if (g == kNoElement) continue;
        if (StateAt(world, c) == SIM_STATE_GAS && u.elementIdx[size_t(c)] != g &&
            !DisplaceGas(world, u, c, u.elementIdx[size_t(c)]))
            continue;
        const float amount = std::min(1.8f - u.mass[size_t(c)], std::min(u.mass[size_t(s)], 0.08f));
        if (!intoSink) {
            // Only half of what leaves the solid arrives as gas.
            u.elementIdx[size_t(c)] = g;
            u.mass[size_t(c)] += 0.5f * amount;
            u.temperature[size_t(c)] = u.temperature[size_t(s)];
            world.MarkCellChanged(c);
        }
        const int32_t gameCell = world.ReportableGameCell(s);
        if (gameCell >= 0)
            world.outputCollector.sublimationEvents.push_back(SublimationEvent{gameCell, solid.sublimateId, side.angle});
        u.mass[size_t(s)] -= amount;
        world.cellAccumulator[size_t(s)] += amount;
        if (u.mass[size_t(s)] <= kSmallestMass) EmptyAndMark(world, s);
    }
}

void SettleLiquid(World& world, int32_t c) {
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    const int32_t w = world.width;
    const uint8_t e = u.elementIdx[size_t(c)];
    const ElementRecord& r = elements.records[e];
    if (u.mass[size_t(c)] < 0.01f) {
        world.cellFlow[size_t(c)] = CellFlow{};
        EmptyAndMark(world, c);
        return;
    }
    if (SinkOrConvect(world, c, 0.3f)) return;
    const float maxMass = elements.flowInfo[e].maxMass;
    float m = u.mass[size_t(c)];
    if (m > maxMass) {
        const float ratio = m / maxMass;
        if (PressureBreak(world, c, ratio, -w) || PressureBreak(world, c, ratio, -1) ||
            PressureBreak(world, c, ratio, 1) || PressureBreak(world, c, ratio, w))
            return;
        const int32_t a = c + w;
        const float ma = u.mass[size_t(a)];
        if (m > 1.5f * maxMass && m > ma && StateAt(world, a) == SIM_STATE_LIQUID &&
            m > std::max(1.01f * ma, maxMass) && DisplaceLiquid(world, u, a, u.elementIdx[size_t(a)])) {
            // Overfull: nearly half goes up, of what c holds once a has poured out.
            u.mass[size_t(a)] = 0.49751243f * u.mass[size_t(c)];
            u.temperature[size_t(a)] = u.temperature[size_t(c)];
            u.elementIdx[size_t(a)] = e;
            u.diseaseIdx[size_t(a)] = u.diseaseIdx[size_t(c)];
            u.diseaseCount[size_t(a)] = TruncToInt32(float(u.diseaseCount[size_t(c)]) * 0.49751243f);
            u.diseaseAge[size_t(a)] = 0;
            u.diseaseGrowthRemainder[size_t(a)] = 0.0f;
            if (u.diseaseCount[size_t(a)] < 1) u.ClearDisease(size_t(a));
            world.MarkCellChanged(a);
            u.mass[size_t(c)] -= u.mass[size_t(a)];
            AdjustDiseaseCount(u, size_t(c), -u.diseaseCount[size_t(a)]);
            return;
        }
    }
    for (const int32_t n : {c - w, c - 1, c + 1, c + w})
        if (BoilOff(world, c, n)) return;
    // Off-gassing into the cell above.
    const int32_t a = c + w;
    const uint8_t g = r.sublimateIndex;
    const uint8_t aState = StateAt(world, a);
    if (!(u.mass[size_t(a)] < 1.8f) || g == kNoElement || !(aState == SIM_STATE_VACUUM || aState == SIM_STATE_GAS))
        return;
    const float roll = Draw(world);
    if ((u.cellFlags[size_t(a)] & SIM_CELL_NO_GAS) || !(roll < world.frameParameters.offGasChance)) return;
    m = u.mass[size_t(c)];
    float amount = u.elementIdx[size_t(c - w)] == e ? u.mass[size_t(c - w)] : m;
    amount *= world.frameParameters.offGasFraction;
    if (!(amount > 0.0f)) return;
    if (u.elementIdx[size_t(a)] == g) {
        AddToCell(world, u, u, a, amount, u.temperature[size_t(c)], kNoDisease, 0);
    } else {
        if (aState != SIM_STATE_VACUUM && !DisplaceGas(world, u, a, u.elementIdx[size_t(a)])) return;
        u.elementIdx[size_t(a)] = g;
        u.mass[size_t(a)] = amount;
        u.temperature[size_t(a)] = u.temperature[size_t(c)];
        world.MarkCellChanged(a);
    }
    const float left = m - amount;
    u.mass[size_t(c)] = left > 0.0f ? left : 0.0f;
    const int32_t gameCell = world.ReportableGameCell(c);
    if (gameCell >= 0) world.outputCollector.sublimationEvents.push_back(SublimationEvent{gameCell, r.sublimateId, 0.0f});
}

void SettleGas(World& world, int32_t c) {
    CellArrays& u = world.updatedCells;
    const int32_t w = world.width;
    PassState& state = ProcessPassState();
    state.gasDirection = -state.gasDirection;
    const int32_t d = state.gasDirection;
    const float m = u.mass[size_t(c)];
    bool trace = m < 1e-9f;
    if (!trace && m < 0.001f) {
        for (const int32_t n : {c - d, c + d, c - w, c + w})
            if (StateAt(world, n) == SIM_STATE_GAS && u.mass[size_t(n)] >= 1.0f) trace = true;
    }
    if (trace) {
        world.cellFlow[size_t(c)] = CellFlow{};
        EmptyAndMark(world, c);
    }
    if (!SinkOrConvect(world, c, 0.99f)) {
        if ((u.cellFlags[size_t(c)] & SIM_CELL_NO_LIQUID) == 0) {
            for (const int32_t n : {c - w, c - 1, c + 1, c + w}) {
                if (MeltNeighbour(world, c, n)) {
                    Sublimate(world, c);
                    return;
                }
            }
        }
        if (Draw(world) > 0.9f) {
            int32_t best = -1;
            float bestT = FLT_MAX;
            const float weight = RecordAt(world, c).weight;
            for (const int32_t n : {c + d, c - d, c - w}) {
                if (!(u.temperature[size_t(n)] <= bestT)) continue;
                const float r2 = Draw(world);
                if (r2 > 0.5f && StateAt(world, n) == SIM_STATE_GAS && (n != c - w || weight > RecordAt(world, n).weight)) {
                    best = n;
                    bestT = u.temperature[size_t(n)];
                }
            }
            if (best >= 0) {
                SwapCells(u, size_t(best), size_t(c));
                world.MarkCellChanged(best);
                world.MarkCellChanged(c);
            }
        }
    }
    Sublimate(world, c);
}

void FallSolid(World& world, int32_t c) {
    CellArrays& u = world.updatedCells;
    const int32_t b = c - world.width;
    const bool open = StateAt(world, b) != SIM_STATE_SOLID && RecordAt(world, b).id != kSinkId &&
                      (u.cellFlags[size_t(b)] & SIM_CELL_STOPS_FALLING) == 0;
    if (!open) {
        ResetTimer(world, c);
        return;
    }
    if (TickSettleTimer(world, c) != 0) return;
    const int32_t gameCell = world.ReportableGameCell(c);
    if (gameCell >= 0)
        world.outputCollector.fallingSolids.push_back(FallingSolidEntry{gameCell, 0, u.elementIdx[size_t(c)],
                                                                        u.diseaseIdx[size_t(c)], 0, u.mass[size_t(c)],
                                                                        u.temperature[size_t(c)], u.diseaseCount[size_t(c)]});
    EmptyAndMark(world, c);
}

void SpreadSolid(World& world, int32_t c) {
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    const int32_t w = world.width;
    const uint8_t e = u.elementIdx[size_t(c)];
    const float h = elements.solidInfo[e].minHorizontalFlow;
    const float maxMass = elements.solidInfo[e].maxMass;
    const float m0 = u.mass[size_t(c)];
    const int32_t k0 = u.diseaseCount[size_t(c)];
    const struct {
        int32_t offset;
        float share;
        float factor;
        bool diagonal;
    } candidates[3] = {{-w, 1.0f, 0.0f, false}, {-w - 1, 0.5f, 1.0f, true}, {-w + 1, 0.5f, 1.0f, true}};
    int32_t timer = -1;  // ticked at most once per call
    auto tick = [&] {
        if (timer < 0) timer = TickSettleTimer(world, c);
        return timer;
    };
    auto besideOpen = [&](int32_t t) {
        const int32_t beside = t + w;
        return StateAt(world, beside) != SIM_STATE_SOLID && (u.cellFlags[size_t(beside)] & SIM_CELL_STOPS_FALLING) == 0;
    };
    bool anyEligible = false;
    for (const auto& k : candidates) {
        if (u.elementIdx[size_t(c)] != e) break;  // emptied by an earlier candidate
        const float excess = (u.mass[size_t(c)] - k.factor * h) * k.share;
        if (!(excess > 0.0f)) continue;
        const int32_t t = c + k.offset;
        const uint8_t et = u.elementIdx[size_t(t)];
        if (elements.State(et) == SIM_STATE_SOLID || et == world.sinkElementIdx ||
            (u.cellFlags[size_t(t)] & SIM_CELL_STOPS_FALLING) || (k.diagonal && !besideOpen(t)))
            continue;
        anyEligible = true;
        if (tick() != 0) continue;
        ResetTimer(world, c);
        const int32_t gameCell = world.ReportableGameCell(t);
        const int32_t germs = TruncToInt32(k.share * float(k0));
        if (gameCell >= 0)
            world.outputCollector.fallingSolids.push_back(FallingSolidEntry{gameCell, 0, e, u.diseaseIdx[size_t(c)], 0,
                                                                            k.share * m0, u.temperature[size_t(c)], germs});
        u.mass[size_t(c)] -= k.share * m0;
        AdjustDiseaseCount(u, size_t(c), -germs);
        if (u.mass[size_t(c)] <= kSmallestMass) EmptyAndMark(world, c);
    }
    if (anyEligible) return;
    bool compactEligible = false;
    for (const auto& k : candidates) {
        const float excess = (u.mass[size_t(c)] - k.factor * h) * k.share;
        if (!(excess > 0.0f)) continue;
        const int32_t t = c + k.offset;
        if (u.elementIdx[size_t(t)] != e) continue;
        const float room = maxMass - u.mass[size_t(t)];
        if (!(room >= k.factor * h) || (k.diagonal && !besideOpen(t))) continue;
        compactEligible = true;
        if (tick() != 0) continue;
        ResetTimer(world, c);
        const float amount = std::min(room, excess);
        if (amount > 0.0f) {
            const int32_t germs = TruncToInt32(amount / u.mass[size_t(c)] * float(u.diseaseCount[size_t(c)]));
            AddToCell(world, u, u, t, amount, u.temperature[size_t(c)], u.diseaseIdx[size_t(c)], germs);
            u.mass[size_t(c)] -= amount;
            AdjustDiseaseCount(u, size_t(c), -germs);
            if (u.mass[size_t(c)] <= kSmallestMass) {
                EmptyAndMark(world, c);
                return;
            }
        }
    }
    if (!compactEligible) ResetTimer(world, c);
}

}  // namespace

int32_t TickSettleTimer(World& world, int32_t c) {
    uint8_t& mask = world.cellDirtyMask[size_t(c)];
    int32_t t = mask & 31;
    if (t == 31) {
        world.randomSeed = world.randomSeed * 214013u + 2531011u;
        t = 3 + TruncToInt32(float((world.randomSeed >> 16) & 0x7FFFu) * 9.155553e-5f);
    } else if (t == 0) {
        return 0;
    } else {
        t -= 1;
    }
    mask = uint8_t((mask & ~31) | t);
    return t;
}

void SettleCell(World& world, int32_t c) {
    const uint8_t flags = world.elements.elementStates[world.updatedCells.elementIdx[size_t(c)]];
    switch (StateOf(flags)) {
        case SIM_STATE_VACUUM: Sublimate(world, c); break;
        case SIM_STATE_LIQUID: SettleLiquid(world, c); break;
        case SIM_STATE_GAS: SettleGas(world, c); break;
        default:
            if ((flags & (SIM_STATE_SOLID | SIM_ELEMENT_UNSTABLE)) == (SIM_STATE_SOLID | SIM_ELEMENT_UNSTABLE)) {
                if ((world.worldFlags & 1) == 0) {
                    FallSolid(world, c);
                } else {
                    SpreadSolid(world, c);
                }
            }
    }
}

void SettlePass(World& world, const Rect& r) {
    // Most of a world is stable solid, which never settles: such a cell is
    // passed over here without the call.
    const uint8_t* states = world.elements.elementStates.data();
    const uint8_t* element = world.updatedCells.elementIdx.data();
    for (int32_t y = r.y0; y < r.y1; ++y) {
        for (int32_t x = r.x0; x < r.x1; ++x) {
            const int32_t c = y * world.width + x;
            const uint8_t flags = states[element[c]];
            if (StateOf(flags) == SIM_STATE_SOLID && (flags & SIM_ELEMENT_UNSTABLE) == 0) continue;
            SettleCell(world, c);
        }
    }
}

}  // namespace ts
