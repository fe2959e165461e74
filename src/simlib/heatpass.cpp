// The heat pass: conduction between neighbour cells and relaxation toward
// target temperatures, in single precision.
#include "simlib/heatpass.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/report.h"
#include "simlib/updatetemperature.h"

namespace ts {

namespace {

constexpr float kMinimumMass = 0.001f;
constexpr float kMinimumDifference = 1.0f;
constexpr float kConductionByteScale = 1.53787e-5f;  // (b / 255)^2 = b * b * this
constexpr float kEnergyLimiter = 0.125f;
constexpr float kSmallestEnergy = 0.0001f;
constexpr float kLargestStepFraction = 0.25f;
// A cell with mass never relaxes below this (the repair floor of cell energy
// changes): a target of 0 K would otherwise decay the cell's temperature until
// it flushes to zero, and matter at 0 K is a corrupt cell.
constexpr float kRelaxationFloor = 1.0f;

constexpr uint8_t kRightPair = 1;
constexpr uint8_t kUpPair = 2;

// The contact factor of an element toward a neighbour of the given state.
float ContactFactor(const ElementInfo& info, uint8_t otherState) {
    switch (otherState) {
        case SIM_STATE_GAS: return info.contactWithGasFactor;
        case SIM_STATE_LIQUID: return info.contactWithLiquidFactor;
        case SIM_STATE_SOLID: return info.contactWithSolidFactor;
        default: return 1.0f;
    }
}

// The snapshot as the heat pass reads it: plain pointers, so writes to the
// scratch arrays never make the compiler reload them.
struct SnapshotView {
    const uint8_t* __restrict elementIdx;
    const float* __restrict temperature;
    const float* __restrict mass;
    const uint8_t* __restrict insulation;
    const ElementInfo* __restrict info;
    const ElementTable* elements;

    explicit SnapshotView(const World& world)
        : elementIdx(world.cells.elementIdx.data()),
          temperature(world.cells.temperature.data()),
          mass(world.cells.mass.data()),
          insulation(world.cells.insulation.data()),
          info(world.elements.info.data()),
          elements(&world.elements) {}
};

bool Conducts(const ElementInfo& info) {
    return info.thermalConductivity > 0.0f && (info.stateFlags & SIM_ELEMENT_NO_HEAT_EXCHANGE) == 0;
}

// The neighbour tests made before any exchange, all on the snapshot.
inline bool ShouldConduct(const SnapshotView& s, bool selfConducts, float selfTemperature, size_t n) {
    if (std::fabs(selfTemperature - s.temperature[n]) < kMinimumDifference) return false;
    if (!(s.mass[n] >= kMinimumMass)) return false;
    return selfConducts && Conducts(s.info[s.elementIdx[n]]);
}

void CheckBeforeExchange(float t, float m) {
    if (t <= 0.0f && m != 0.0f) ReportAssertion(__FILE__, __LINE__, "Invalid temperature T=%f, M=%f", double(t), double(m));
    if (t > SIM_MAX_TEMPERATURE) ReportAssertion(__FILE__, __LINE__, "Invalid temperature T=%f", double(t));
}

// Adds one exchange's change to a cell, clamped at 0 from below and at the
// hottest temperature from above (four exchanges, each a quarter of the way to
// a neighbour at the ceiling, may round past it).
void AddChange(World& world, int32_t cell, float delta, bool isSelf) {
    CellArrays& u = world.updatedCells;
    const size_t c = size_t(cell);
    const float sum = u.temperature[c] + delta;
    u.temperature[c] = sum > 0.0f ? std::min(sum, SIM_MAX_TEMPERATURE) : 0.0f;
    if (isSelf) {
        TS_CHECK_AS(u.temperature[c] > 0.0f || u.mass[c] == 0.0f,
                    "simData.updatedCells->temperature[cell] > 0.0f || simData.updatedCells->mass[cell] == 0.0f");
        TS_CHECK_AS(u.temperature[c] <= SIM_MAX_TEMPERATURE,
                    "simData.updatedCells->temperature[cell] <= SIM_MAX_TEMPERATURE");
    } else {
        TS_CHECK_AS(u.temperature[c] > 0.0f || u.mass[c] == 0.0f,
                    "simData.updatedCells->temperature[ncell] > 0.0f || simData.updatedCells->mass[ncell] == 0.0f");
        TS_CHECK_AS(u.temperature[c] <= SIM_MAX_TEMPERATURE,
                    "simData.updatedCells->temperature[ncell] <= SIM_MAX_TEMPERATURE");
    }
}

}  // namespace

void HeatBandRows::Resize(int32_t width) {
    const size_t n = size_t(kHeatRingRows) * size_t(width);
    if (pairMask.size() == n) return;
    pairMask.assign(n, 0);
    rightSelf.assign(n, 0.0f);
    rightOther.assign(n, 0.0f);
    upSelf.assign(n, 0.0f);
    upOther.assign(n, 0.0f);
}

void HeatPassScratch::Resize(size_t bandCount, int32_t width, int32_t height) {
    bands.resize(bandCount);
    for (HeatBandRows& band : bands) band.Resize(width);
    chunkColumns = width / 32 + 2;
    const size_t segments = size_t(height) * size_t(chunkColumns);
    if (quietSegment.size() != segments) quietSegment.assign(segments, 0);
    if (rowWrites.size() != size_t(height)) rowWrites.assign(size_t(height), 0);
}

namespace {

inline PairExchange Conduct(const SnapshotView& s, size_t c, size_t n) {
    const float tc = s.temperature[c];
    const float tn = s.temperature[n];
    const float mc = s.mass[c];
    const float mn = s.mass[n];
    const ElementInfo& ec = s.info[s.elementIdx[c]];
    const ElementInfo& en = s.info[s.elementIdx[n]];
    CheckBeforeExchange(tc, mc);
    CheckBeforeExchange(tn, mn);

    const float scaleC = float(int32_t(s.insulation[c]) * int32_t(s.insulation[c])) * kConductionByteScale;
    const float scaleN = float(int32_t(s.insulation[n]) * int32_t(s.insulation[n])) * kConductionByteScale;
    const float gc = scaleC * ec.thermalConductivity;
    const float gn = scaleN * en.thermalConductivity;
    // The geometric mean only between two fully conducting cells.
    // (Full conduction scales by exactly 1: the mean comes from the table.)
    const float kappa = (scaleC >= 1.0f && scaleN >= 1.0f)
                            ? s.elements->FullConductance(s.elementIdx[c], s.elementIdx[n])
                            : std::min(gn, gc);
    const float f = ContactFactor(ec, StateOf(en.stateFlags)) * ContactFactor(en, StateOf(ec.stateFlags));
    const float hc = mc * ec.specificHeatCapacity;
    const float hn = mn * en.specificHeatCapacity;

    const float e1 = std::fabs(tn - tc) * kappa * f * kStepSeconds;
    const float e2 = std::fabs(tn * hn - tc * hc) * kEnergyLimiter;
    float q = std::min(e2, e1);
    if (q < kSmallestEnergy) return {false, 0.0f, 0.0f};
    if (!(tn > tc)) q = -q;

    float tn2 = tn - q / hn;
    float tc2 = tc + q / hc;
    if ((tn2 - tc2) * (tn - tc) < 0.0f) {
        // The pair would cross over: both take the mixed temperature.
        const float mixed = (tn * hn + tc * hc) / (hn + hc);
        tn2 = mixed;
        tc2 = mixed;
    }
    const float hi = std::max(tc, tn);
    const float lo = std::min(tc, tn);
    float dc = std::clamp(tc2, lo, hi) - tc;
    dc = std::min(dc, (hi - tc) * kLargestStepFraction);
    dc = std::max(dc, (lo - tc) * kLargestStepFraction);
    float dn = std::clamp(tn2, lo, hi) - tn;
    dn = std::min(dn, (hi - tn) * kLargestStepFraction);
    dn = std::max(dn, (lo - tn) * kLargestStepFraction);

    const float moved = std::min(std::fabs(dn * hn), std::fabs(dc * hc));
    float deltaC = moved / hc;
    if (dc < 0.0f) deltaC = -deltaC;
    float deltaN = moved / hn;
    if (dn < 0.0f) deltaN = -deltaN;
    return {true, deltaC, deltaN};
}

}  // namespace

PairExchange ConductPair(const World& world, int32_t cell, int32_t ncell) {
    return Conduct(SnapshotView(world), size_t(cell), size_t(ncell));
}

namespace {

// Chunks start at 1, 33, 65, ... (after the border): the first chunk boundary after v.
inline int32_t NextChunkStart(int32_t v) { return v < 1 ? 1 : 32 * ((v - 1) / 32 + 1) + 1; }
inline int32_t ChunkColumn(int32_t x) { return x < 1 ? 0 : (x - 1) / 32; }

// True when no cell of the block [bx0, bx1) x [by0, by1) can take part in an
// exchange or relax: within the block and its one-cell halo (kept inside the
// active region, where pairs exist), the temperatures of the cells that
// conduct (mass >= 0.001) span less than 1 K and none is NaN, and no cell of
// the block has a target temperature. Every pair of the block then fails the
// 1 K test: |Tc - Tn| <= hi - lo exactly, and rounding keeps the order.
bool BlockIsQuiet(const SnapshotView& s, const float* target, int32_t w, const Region& a, int32_t bx0, int32_t bx1,
                  int32_t by0, int32_t by1) {
    const int32_t hx0 = std::max(bx0 - 1, a.minX), hx1 = std::min(bx1 + 1, a.maxX);
    const int32_t hy0 = std::max(by0 - 1, a.minY), hy1 = std::min(by1 + 1, a.maxY);
    const __m128 minimumMass = _mm_set1_ps(kMinimumMass);
    const __m128 plusInf = _mm_set1_ps(INFINITY), minusInf = _mm_set1_ps(-INFINITY);
    __m128 lo4 = plusInf, hi4 = minusInf;
    float lo = INFINITY, hi = -INFINITY;
    for (int32_t y = hy0; y < hy1; ++y) {
        const size_t row = size_t(y) * size_t(w);
        int32_t x = hx0;
        for (; x + 4 <= hx1; x += 4) {
            const __m128 t = _mm_loadu_ps(s.temperature + row + size_t(x));
            const __m128 part = _mm_cmpge_ps(_mm_loadu_ps(s.mass + row + size_t(x)), minimumMass);
            if (_mm_movemask_ps(_mm_and_ps(part, _mm_cmpunord_ps(t, t)))) return false;
            lo4 = _mm_min_ps(lo4, _mm_or_ps(_mm_and_ps(part, t), _mm_andnot_ps(part, plusInf)));
            hi4 = _mm_max_ps(hi4, _mm_or_ps(_mm_and_ps(part, t), _mm_andnot_ps(part, minusInf)));
        }
        for (; x < hx1; ++x) {
            const size_t c = row + size_t(x);
            if (!(s.mass[c] >= kMinimumMass)) continue;
            const float t = s.temperature[c];
            if (t != t) return false;
            lo = std::min(lo, t);
            hi = std::max(hi, t);
        }
        alignas(16) float l[4], h[4];
        _mm_store_ps(l, lo4);
        _mm_store_ps(h, hi4);
        for (int i = 0; i < 4; ++i) {
            lo = std::min(lo, l[i]);
            hi = std::max(hi, h[i]);
        }
        if (!(hi - lo < kMinimumDifference)) return false;  // most blocks of a busy world end here
    }
    const __m128 zero = _mm_setzero_ps();
    for (int32_t y = by0; y < by1; ++y) {
        const float* row = target + size_t(y) * size_t(w);
        int32_t x = bx0;
        for (; x + 4 <= bx1; x += 4)
            if (_mm_movemask_ps(_mm_cmpge_ps(_mm_loadu_ps(row + x), zero))) return false;
        for (; x < bx1; ++x)
            if (row[x] >= 0.0f) return false;
    }
    return true;
}

}  // namespace

namespace {

// The pairs of cells x in [xa, xb) of row y (right neighbour while x + 1 < x1,
// upper while y + 1 < maxY), kept in the band's rows at index c - ringBase.
// Returns the number of pairs that exchange.
uint32_t ComputeSegment(const SnapshotView& s, int32_t w, int32_t y, int32_t xa, int32_t xb, int32_t x1, int32_t maxY,
                        HeatBandRows& rows, size_t ringBase) {
    uint8_t* __restrict pairMask = rows.pairMask.data();
    float* __restrict rightSelf = rows.rightSelf.data();
    float* __restrict rightOther = rows.rightOther.data();
    float* __restrict upSelf = rows.upSelf.data();
    float* __restrict upOther = rows.upOther.data();
    uint32_t exchanged = 0;
    for (int32_t x = xa; x < xb; ++x) {
        const size_t c = size_t(y * w + x);
        const size_t r = c - ringBase;
        uint8_t mask = 0;
        if (s.mass[c] >= kMinimumMass) {
            const bool conducts = Conducts(s.info[s.elementIdx[c]]);
            const float t = s.temperature[c];
            if (x + 1 < x1 && ShouldConduct(s, conducts, t, c + 1)) {
                const PairExchange e = Conduct(s, c, c + 1);
                if (e.exchanged) {
                    mask |= kRightPair;
                    rightSelf[r] = e.deltaSelf;
                    rightOther[r] = e.deltaOther;
                    ++exchanged;
                }
            }
            if (y + 1 < maxY && ShouldConduct(s, conducts, t, c + size_t(w))) {
                const PairExchange e = Conduct(s, c, c + size_t(w));
                if (e.exchanged) {
                    mask |= kUpPair;
                    upSelf[r] = e.deltaSelf;
                    upOther[r] = e.deltaOther;
                    ++exchanged;
                }
            }
        }
        pairMask[r] = mask;
    }
    return exchanged;
}

// Phase 1 for rows [by0, by1) of the band, block by block: quiet blocks are
// marked and their pairs left at none.
void ComputeChunkRow(const World& world, const Rect& band, int32_t by0, int32_t by1, HeatPassScratch& scratch,
                     HeatBandRows& rows, size_t ringBase) {
    const SnapshotView s(world);
    const int32_t w = world.width;
    const Region& a = world.activeRegion;
    for (int32_t bx0 = band.x0; bx0 < band.x1;) {
        const int32_t bx1 = std::min(NextChunkStart(bx0), band.x1);
        const bool quiet =
            scratch.skipQuietChunks && BlockIsQuiet(s, world.targetTemperature.data(), w, a, bx0, bx1, by0, by1);
        const size_t column = size_t(ChunkColumn(bx0));
        for (int32_t y = by0; y < by1; ++y) {
            scratch.quietSegment[size_t(y) * size_t(scratch.chunkColumns) + column] = quiet;
            if (quiet) {
                std::memset(rows.pairMask.data() + (size_t(y * w + bx0) - ringBase), 0, size_t(bx1 - bx0));
            } else {
                rows.exchangedPairs += ComputeSegment(s, w, y, bx0, bx1, band.x1, a.maxY, rows, ringBase);
            }
        }
        bx0 = bx1;
    }
}

}  // namespace

namespace {

// CheckStateTransition's own tests, inline: most changes of most cells stay
// inside the element's range, and the call is then skipped.
inline bool MayTransition(const World& world, size_t c, const ElementInfo& info) {
    const float t = world.updatedCells.temperature[c];
    return (t < info.lowTemp - 3.0f && info.lowTempTransitionIndex != kNoElement) ||
           (t > info.highTemp + 3.0f && info.highTempTransitionIndex != kNoElement);
}

}  // namespace

namespace {

// Phase 2 for rows [by0, by1) of the band: every cell meets its pairs' changes
// in order (below, left, right, above), checking its phase after each, then
// relaxes toward its target.
void ApplyChunkRow(World& world, OutputCollector& collector, const Rect& band, int32_t by0, int32_t by1,
                   HeatPassScratch& scratch, const HeatBandRows& rows, size_t ringBase) {
    const int32_t x0 = band.x0, x1 = band.x1;
    const int32_t w = world.width;
    const int32_t minY = world.activeRegion.minY;
    const float k = world.frameParameters.temperatureRelaxRate;
    const uint8_t* mask = rows.pairMask.data();
    for (int32_t y = by0; y < by1; ++y) {
        uint8_t rowWrites = 0;
        const uint8_t* quiet = &scratch.quietSegment[size_t(y) * size_t(scratch.chunkColumns)];
        for (int32_t sx0 = x0; sx0 < x1;) {
            const int32_t sx1 = std::min(NextChunkStart(sx0), x1);
            if (quiet[ChunkColumn(sx0)]) {
                sx0 = sx1;
                continue;
            }
            rowWrites |= kRowTemperatures;
            for (int32_t x = sx0; x < sx1; ++x) {
                const int32_t c = y * w + x;
                const size_t i = size_t(c);
                const size_t r = i - ringBase;
                const bool fromBelow = y - 1 >= minY && (mask[r - size_t(w)] & kUpPair);
                const bool fromLeft = x - 1 >= x0 && (mask[r - 1] & kRightPair);
                const uint8_t own = mask[r];
                const float target = world.targetTemperature[i];
                if (!fromBelow && !fromLeft && own == 0 && !(target >= 0.0f)) continue;
                const ElementInfo& info = world.elements.info[world.cells.elementIdx[i]];
                bool changed = false;
                auto check = [&] {
                    if (MayTransition(world, i, info) && CheckStateTransition(world, collector, c, info))
                        changed = true;
                };
                // The order in which the cell meets its four exchanges.
                if (fromBelow) {
                    AddChange(world, c, rows.upOther[r - size_t(w)], false);
                    check();
                }
                if (fromLeft) {
                    AddChange(world, c, rows.rightOther[r - 1], false);
                    check();
                }
                if (own & kRightPair) {
                    AddChange(world, c, rows.rightSelf[r], true);
                    check();
                }
                if (own & kUpPair) {
                    AddChange(world, c, rows.upSelf[r], true);
                    check();
                }
                if ((info.stateFlags & SIM_ELEMENT_NO_HEAT_EXCHANGE) == 0 && target >= 0.0f) {
                    float& t = world.updatedCells.temperature[i];
                    // Between the cell and its goal: rounding took (1 - k) T + k T past 10000 K.
                    const float goal = std::max(target, kRelaxationFloor);
                    t = std::clamp((1.0f - k) * t + k * goal, std::min(t, goal), std::max(t, goal));
                    check();
                }
                if (changed) rowWrites |= kRowTransitions;
            }
            sx0 = sx1;
        }
        scratch.rowWrites[size_t(y)] = rowWrites;
    }
}

}  // namespace

void RunHeatBand(World& world, OutputCollector& collector, const Rect& band, HeatPassScratch& scratch,
                 HeatBandRows& rows) {
    const SnapshotView s(world);
    const int32_t w = world.width;
    const Region& a = world.activeRegion;
    rows.exchangedPairs = 0;
    const size_t rowBytes = size_t(w);
    for (int32_t by0 = band.y0; by0 < band.y1;) {
        const int32_t by1 = std::min(NextChunkStart(by0), band.y1);
        // Slot 0 holds the row below: its upward pairs reach row by0.
        const size_t ringBase = size_t(by0 - 1) * size_t(w);
        if (by0 == band.y0) {
            // The band below owns that row; its pairs come from the snapshot
            // alone, so computing them again here gives the same bits (where
            // that band found its block quiet, no pair of it exchanges either).
            if (by0 - 1 >= a.minY) {
                ComputeSegment(s, w, by0 - 1, band.x0, band.x1, band.x1, a.maxY, rows, ringBase);
            } else {
                std::memset(rows.pairMask.data(), 0, rowBytes);
            }
        }
        ComputeChunkRow(world, band, by0, by1, scratch, rows, ringBase);
        ApplyChunkRow(world, collector, band, by0, by1, scratch, rows, ringBase);
        // The last row becomes the row below the next chunk row.
        const size_t last = size_t(by1 - by0) * rowBytes;
        std::memcpy(rows.pairMask.data(), rows.pairMask.data() + last, rowBytes);
        std::memcpy(rows.upOther.data(), rows.upOther.data() + last, rowBytes * sizeof(float));
        by0 = by1;
    }
}

void SnapshotAfterHeat(World& world, HeatPassScratch& scratch) {
    const size_t w = size_t(world.width);
    for (size_t y = 0; y < scratch.rowWrites.size(); ++y) {
        const uint8_t writes = scratch.rowWrites[y];
        if (writes & kRowTransitions) {
            world.cells.CopyRange(world.updatedCells, y * w, y * w, w);
        } else if (writes & kRowTemperatures) {
            std::memcpy(&world.cells.temperature[y * w], &world.updatedCells.temperature[y * w], w * sizeof(float));
        }
        scratch.rowWrites[y] = 0;
    }
}

}  // namespace ts
