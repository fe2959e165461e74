#include "simlib/simutil.h"

#include <algorithm>

#include "common/numeric.h"
#include "common/report.h"

namespace ts {

namespace {
constexpr const char* kDestCellCheck = "dest_cell.mass() == 0.0f || dest_cell.temperature() > 0.0f";
}  // namespace

float MixTemperature(float m1, float t1, float m2, float t2) {
    // An empty side contributes nothing: the other temperature is taken as it
    // is (and two empty sides never divide 0 by 0).
    if (m1 == 0.0f) return t2;
    if (m2 == 0.0f) return t1;
    const float mixed = (m1 * t1 + m2 * t2) / (m1 + m2);
    return std::clamp(mixed, std::min(t1, t2), std::max(t1, t2));
}

void AddToCell(World& world, const CellArrays& src, CellArrays& dst, int32_t cell, float m, float t,
               uint8_t diseaseIdx, int32_t diseaseCount) {
    const size_t c = size_t(cell);
    const float existing = src.mass[c];
    if (existing + m > 0.0f) {
        const float srcTemperature = src.temperature[c];
        dst.mass[c] = existing + m;
        dst.temperature[c] = MixTemperature(existing, srcTemperature, m, t);
        AddDisease(dst, c, diseaseIdx, diseaseCount, world.diseases);
    } else {
        dst.mass[c] = 0.0f;
        dst.temperature[c] = 0.0f;
        dst.ClearDisease(c);
    }
    TS_CHECK_AS(dst.mass[c] == 0.0f || dst.temperature[c] > SIM_MIN_TEMPERATURE,
                "write_cell.mass() == 0.0f || write_cell.temperature() > SIM_MIN_TEMPERATURE");
    TS_CHECK_AS(dst.temperature[c] < SIM_MAX_TEMPERATURE, "write_cell.temperature() < SIM_MAX_TEMPERATURE");
}

void MoveCellContents(World& world, CellArrays& a, int32_t src, int32_t dst) {
    const size_t s = size_t(src);
    const size_t d = size_t(dst);
    AddToCell(world, a, a, dst, a.mass[s], a.temperature[s], a.diseaseIdx[s], a.diseaseCount[s]);
    a.elementIdx[d] = a.elementIdx[s];
    TS_CHECK_AS(a.mass[d] == 0.0f || a.temperature[d] > 0.0f, kDestCellCheck);
    EmptyCell(world, a, s);
    world.MarkCellChanged(src);
    world.MarkCellChanged(dst);
}

bool DisplaceGas(World& world, CellArrays& a, int32_t c, uint8_t e) {
    if (!(a.mass[size_t(c)] > 0.0f)) return false;
    const int32_t w = world.width;
    const int32_t direct[4] = {c + w, c - 1, c + 1, c - w};
    for (uint32_t i = 0; i < 4; ++i) {
        const int32_t n = direct[(world.stepCounter + i) % 4];
        const uint8_t ne = a.elementIdx[size_t(n)];
        if ((ne == e || ne == world.vacuumElementIdx) && (a.cellFlags[size_t(n)] & SIM_CELL_NO_GAS) == 0) {
            MoveCellContents(world, a, c, n);
            return true;
        }
    }
    const int32_t diagonal[2] = {c + w - 1, c + w + 1};
    const int32_t side[2] = {c - 1, c + 1};
    for (uint32_t i = 0; i < 2; ++i) {
        const uint32_t k = (world.stepCounter + i) % 2;
        const int32_t n = diagonal[k];
        const uint8_t sideElement = world.updatedCells.elementIdx[size_t(side[k])];
        if (a.elementIdx[size_t(n)] == e && world.elements.State(sideElement) != SIM_STATE_SOLID &&
            (a.cellFlags[size_t(n)] & SIM_CELL_NO_GAS) == 0) {
            MoveCellContents(world, a, c, n);
            return true;
        }
    }
    return false;
}

bool SpreadToNeighbours(World& world, int32_t cell, uint8_t e, int32_t k, const int32_t* list) {
    CellArrays& u = world.updatedCells;
    const size_t c = size_t(cell);
    constexpr float kSmallest = 0.01f;
    if (u.mass[c] < kSmallest) return false;
    const float inverse = 1.0f / float(k);
    const float share = u.mass[c] * inverse;
    const int32_t diseaseShare = TruncToInt32(float(u.diseaseCount[c]) * inverse + 0.5f);
    bool movedAny = false;
    bool done = false;
    for (int32_t pass = 0; pass < k && !done; ++pass) {
        bool moved = false;
        for (int32_t i = 0; i < k; ++i) {
            const int32_t n = list[(world.stepCounter + uint32_t(i)) % uint32_t(k)];
            const uint8_t ne = u.elementIdx[size_t(n)];
            if ((ne == e || ne == world.vacuumElementIdx) && (u.cellFlags[size_t(n)] & SIM_CELL_NO_LIQUID) == 0) {
                AddToCell(world, u, u, n, share, u.temperature[c], u.diseaseIdx[c], diseaseShare);
                u.elementIdx[size_t(n)] = e;
                TS_CHECK_AS(u.mass[size_t(n)] == 0.0f || u.temperature[size_t(n)] > 0.0f, kDestCellCheck);
                u.mass[c] -= share;
                world.MarkCellChanged(n);
                u.diseaseCount[c] -= diseaseShare;
                if (u.diseaseCount[c] < 1) u.ClearDisease(c);
                moved = true;
                movedAny = true;
            }
            if (u.mass[c] < kSmallest) {
                done = true;
                break;
            }
        }
        if (!moved) break;
    }
    if (u.mass[c] < kSmallest) {
        EmptyCell(world, u, c);
        world.MarkCellChanged(cell);
    }
    return movedAny;
}

bool DisplaceLiquid(World& world, CellArrays& a, int32_t c, uint8_t e) {
    if (!(a.mass[size_t(c)] > 0.0f)) return false;
    const int32_t w = world.width;
    const int32_t list[4] = {c + 1, c - 1, c + w, c - w};
    if (SpreadToNeighbours(world, c, e, 4, list)) return true;
    for (uint32_t i = 0; i < 4; ++i) {
        const int32_t n = list[(world.stepCounter + i) % 4];
        const uint8_t ne = a.elementIdx[size_t(n)];
        if (world.elements.State(ne) == SIM_STATE_GAS && DisplaceGas(world, a, n, ne))
            return SpreadToNeighbours(world, c, e, 4, list);
    }
    return false;
}

void SwapCells(CellArrays& a, size_t x, size_t y) {
    std::swap(a.elementIdx[x], a.elementIdx[y]);
    std::swap(a.mass[x], a.mass[y]);
    std::swap(a.temperature[x], a.temperature[y]);
    std::swap(a.diseaseIdx[x], a.diseaseIdx[y]);
    std::swap(a.diseaseCount[x], a.diseaseCount[y]);
    std::swap(a.diseaseAge[x], a.diseaseAge[y]);
    std::swap(a.diseaseGrowthRemainder[x], a.diseaseGrowthRemainder[y]);
}

void AdjustDiseaseCount(CellArrays& a, size_t c, int32_t delta) {
    a.diseaseCount[c] = SaturateToInt32(int64_t(a.diseaseCount[c]) + delta);
    if (a.diseaseCount[c] <= 0) a.ClearDisease(c);
}

bool CanLiquidEnter(const World& world, const CellArrays& a, size_t c) {
    if (a.cellFlags[c] & SIM_CELL_NO_LIQUID) return false;
    const uint8_t state = world.elements.State(a.elementIdx[c]);
    return state == SIM_STATE_VACUUM || state == SIM_STATE_GAS;
}

bool IsLiquidBlocked(const World& world, const CellArrays& a, size_t c) {
    return world.elements.State(a.elementIdx[c]) == SIM_STATE_SOLID || (a.cellFlags[c] & SIM_CELL_NO_LIQUID) != 0;
}

bool ReleaseContents(OutputCollector& collector, World& world, int32_t x, uint8_t element, float mass,
                     float temperature, uint8_t diseaseIdx, int32_t diseaseCount, bool force) {
    if (world.cells.cellFlags[size_t(x - world.width)] & SIM_CELL_NO_LIQUID) return false;
    const int32_t gameCell = world.ReportableGameCell(x);
    if (gameCell < 0) return false;
    if (world.releasePermit[size_t(gameCell)] == 0 && !force) return false;
    const ElementInfo& info = world.elements.info[element];
    if (temperature < info.lowTemp - 3.0f || temperature > info.highTemp + 3.0f) return false;
    collector.releasedContents.push_back(
        MatterEntry{gameCell, element, diseaseIdx, {0, 0}, mass, temperature, diseaseCount});
    return true;
}

float TakeOverFreedCell(World& world, uint8_t e, int32_t c, int32_t n, float amount) {
    const CellArrays& s = world.cells;
    CellArrays& u = world.updatedCells;
    u.mass[size_t(n)] += amount;
    u.temperature[size_t(n)] = s.temperature[size_t(c)];
    u.elementIdx[size_t(n)] = e;
    world.MarkCellChanged(n);
    const float left = u.mass[size_t(c)] - amount;
    u.mass[size_t(c)] = left > 0.0f ? left : 0.0f;
    const int32_t count = TruncToInt32(0.125f * float(s.diseaseCount[size_t(c)]));
    AddDisease(u, size_t(n), s.diseaseIdx[size_t(c)], count, world.diseases);
    AdjustDiseaseCount(u, size_t(c), -count);
    return amount;
}

}  // namespace ts
