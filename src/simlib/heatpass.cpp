// The heat pass: conduction between neighbour cells and relaxation toward
// target temperatures, in single precision.
#include <algorithm>
#include <cmath>

#include "common/report.h"
#include "simlib/updatetemperature.h"

namespace ts {

namespace {

constexpr float kMinimumMass = 0.001f;
constexpr float kMinimumDifference = 1.0f;
constexpr float kConductionByteScale = 1.53787e-5f;  // (b / 255)^2 = b * b * this
constexpr float kStepSeconds = 0.2f;
constexpr float kEnergyLimiter = 0.125f;
constexpr float kSmallestEnergy = 0.0001f;
constexpr float kLargestStepFraction = 0.25f;

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

// Adds one exchange's change to a cell, clamped at 0 from below.
void AddChange(World& world, int32_t cell, float delta, bool isSelf) {
    CellArrays& u = world.updatedCells;
    const size_t c = size_t(cell);
    const float sum = u.temperature[c] + delta;
    u.temperature[c] = sum > 0.0f ? sum : 0.0f;
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

void HeatPassScratch::Resize(size_t cells) {
    if (pairMask.size() == cells) return;
    pairMask.assign(cells, 0);
    rightSelf.assign(cells, 0.0f);
    rightOther.assign(cells, 0.0f);
    upSelf.assign(cells, 0.0f);
    upOther.assign(cells, 0.0f);
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

void ComputeHeatPairs(const World& world, HeatPassScratch& scratch, int32_t x0, int32_t y0, int32_t x1,
                      int32_t y1) {
    const SnapshotView s(world);
    uint8_t* __restrict pairMask = scratch.pairMask.data();
    float* __restrict rightSelf = scratch.rightSelf.data();
    float* __restrict rightOther = scratch.rightOther.data();
    float* __restrict upSelf = scratch.upSelf.data();
    float* __restrict upOther = scratch.upOther.data();
    const int32_t w = world.width;
    const int32_t maxY = world.activeRegion.maxY;
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            const size_t c = size_t(y * w + x);
            uint8_t mask = 0;
            if (s.mass[c] >= kMinimumMass) {
                const bool conducts = Conducts(s.info[s.elementIdx[c]]);
                const float t = s.temperature[c];
                if (x + 1 < x1 && ShouldConduct(s, conducts, t, c + 1)) {
                    const PairExchange e = Conduct(s, c, c + 1);
                    if (e.exchanged) {
                        mask |= kRightPair;
                        rightSelf[c] = e.deltaSelf;
                        rightOther[c] = e.deltaOther;
                    }
                }
                if (y + 1 < maxY && ShouldConduct(s, conducts, t, c + size_t(w))) {
                    const PairExchange e = Conduct(s, c, c + size_t(w));
                    if (e.exchanged) {
                        mask |= kUpPair;
                        upSelf[c] = e.deltaSelf;
                        upOther[c] = e.deltaOther;
                    }
                }
            }
            pairMask[c] = mask;
        }
    }
}

void ApplyHeatPairs(World& world, const HeatPassScratch& scratch, OutputCollector& collector, int32_t x0,
                    int32_t y0, int32_t x1, int32_t y1) {
    const int32_t w = world.width;
    const int32_t minY = world.activeRegion.minY;
    const float k = world.frameParameters.temperatureRelaxRate;
    const std::vector<uint8_t>& mask = scratch.pairMask;
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            const int32_t c = y * w + x;
            const size_t i = size_t(c);
            const bool fromBelow = y - 1 >= minY && (mask[i - size_t(w)] & kUpPair);
            const bool fromLeft = x - 1 >= x0 && (mask[i - 1] & kRightPair);
            const uint8_t own = mask[i];
            const float target = world.targetTemperature[i];
            if (!fromBelow && !fromLeft && own == 0 && !(target >= 0.0f)) continue;
            const ElementInfo& info = world.elements.info[world.cells.elementIdx[i]];
            // The order in which the cell meets its four exchanges.
            if (fromBelow) {
                AddChange(world, c, scratch.upOther[i - size_t(w)], false);
                CheckStateTransition(world, collector, c, info);
            }
            if (fromLeft) {
                AddChange(world, c, scratch.rightOther[i - 1], false);
                CheckStateTransition(world, collector, c, info);
            }
            if (own & kRightPair) {
                AddChange(world, c, scratch.rightSelf[i], true);
                CheckStateTransition(world, collector, c, info);
            }
            if (own & kUpPair) {
                AddChange(world, c, scratch.upSelf[i], true);
                CheckStateTransition(world, collector, c, info);
            }
            if ((info.stateFlags & SIM_ELEMENT_NO_HEAT_EXCHANGE) == 0 && target >= 0.0f) {
                float& t = world.updatedCells.temperature[i];
                t = (1.0f - k) * t + k * target;
                CheckStateTransition(world, collector, c, info);
            }
        }
    }
}

}  // namespace ts
