#include "simlib/updatetemperature.h"

#include <algorithm>

#include "common/numeric.h"
#include "simlib/simutil.h"

namespace ts {

namespace {
constexpr float kHysteresis = 3.0f;
constexpr float kTransitionKick = 1.5f;
constexpr float kMinimumOreMass = 0.001f;
constexpr float kFreezeToItemFill = 0.8f;

inline float ClampedTemperature(float t) { return t > 0.0f ? t : 0.0f; }

// A transition by-product leaves the cell as an item: at most all of the
// cell's matter and germs, whatever the table's conversion says.
void EmitOre(World& world, OutputCollector& collector, int32_t cell, uint8_t ore, float conversion) {
    CellArrays& u = world.updatedCells;
    const size_t c = size_t(cell);
    if (ore == kNoElement) return;
    conversion = std::min(conversion, 1.0f);  // NaN stays NaN and makes no ore
    const float m = conversion * u.mass[c];
    if (!(m > kMinimumOreMass)) return;
    const int32_t d = TruncToInt32(float(u.diseaseCount[c]) * conversion);
    if (EmitMatter(collector, world, cell, ore, m, u.temperature[c], u.diseaseIdx[c], d, true)) {
        u.mass[c] -= m;
        u.diseaseCount[c] -= d;
        if (u.diseaseCount[c] < 1) u.ClearDisease(c);
    }
}

}  // namespace

void MarkCellChanged(OutputCollector& collector, World& world, int32_t cell) {
    const int32_t gameCell = world.ReportableGameCell(cell);
    if (gameCell >= 0) collector.changedCells.push_back(ChangedCellEntry{gameCell, 255, 255, {0, 0}});
    world.cellDirtyMask[size_t(cell)] |= 31;
}

bool EmitMatter(OutputCollector& collector, World& world, int32_t cell, uint8_t elementIdx, float mass,
                float temperature, uint8_t diseaseIdx, int32_t diseaseCount, bool force) {
    if (!(mass > 0.0f)) return false;
    const int32_t gameCell = world.ReportableGameCell(cell);
    if (gameCell < 0) return false;
    if (!force && world.releasePermit[size_t(gameCell)] == 0) return false;
    collector.emittedMatter.push_back(
        MatterEntry{gameCell, elementIdx, diseaseIdx, {0, 0}, mass, temperature, diseaseCount});
    return true;
}

bool CheckStateTransition(World& world, OutputCollector& collector, int32_t cell, const ElementInfo& info) {
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    const size_t c = size_t(cell);
    if (!(u.mass[c] > 0.0f)) return false;
    const float t = u.temperature[c];

    if (t < info.lowTemp - kHysteresis && info.lowTempTransitionIndex != kNoElement) {
        u.temperature[c] = ClampedTemperature(t + kTransitionKick);
        EmitOre(world, collector, cell, info.lowTempTransitionOreIndex, info.lowTempTransitionOreMassConversion);
        const uint8_t target = info.lowTempTransitionIndex;
        const ElementInfo& next = elements.info[target];
        if (StateOf(next.stateFlags) != SIM_STATE_SOLID) {
            // A condensing gas may leave the grid whole where release is permitted.
            if (ReleaseContents(collector, world, cell, target, u.mass[c], u.temperature[c], u.diseaseIdx[c],
                                u.diseaseCount[c], ForceEmission(world))) {
                EmptyCell(world, u, c);
                return true;
            }
            u.elementIdx[c] = target;
            MarkCellChanged(collector, world, cell);
            return true;
        }
        const float fill = u.mass[c] / next.defaultMass;
        if (!(fill > kFreezeToItemFill) &&
            EmitMatter(collector, world, cell, target, u.mass[c], u.temperature[c], u.diseaseIdx[c],
                       u.diseaseCount[c], ForceEmission(world))) {
            EmptyCell(world, u, c);
        } else {
            u.elementIdx[c] = target;
        }
        MarkCellChanged(collector, world, cell);
        return true;
    }

    if (t > info.highTemp + kHysteresis && info.highTempTransitionIndex != kNoElement) {
        u.temperature[c] = ClampedTemperature(t - kTransitionKick);
        u.elementIdx[c] = info.highTempTransitionIndex;
        EmitOre(world, collector, cell, info.highTempTransitionOreIndex, info.highTempTransitionOreMassConversion);
        if (u.cellFlags[c] & SIM_CELL_REPORT_TRANSITIONS) {
            const int32_t gameCell = world.ReportableGameCell(cell);
            if (gameCell >= 0) collector.flaggedTransitions.push_back(gameCell);
            world.cellDirtyMask[c] |= 31;
        }
        MarkCellChanged(collector, world, cell);
        return true;
    }
    return false;
}

}  // namespace ts
