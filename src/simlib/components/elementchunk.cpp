#include "simlib/components/elementchunk.h"

#include <algorithm>
#include <cmath>

#include "common/report.h"
#include "simlib/world.h"

namespace ts {

namespace {

// Unlike std::clamp, defined for a NaN value (which it returns unchanged).
inline float ClampTo(float v, float lo, float hi) { return v < lo ? lo : (hi < v ? hi : v); }
inline bool Within(float v, float lo, float hi) { return v >= lo && v <= hi; }

}  // namespace

Conduction ConductTemperature(float dt, float scale, float t1, float hc1, float tc1, float i1, float t2, float hc2,
                              float tc2, float i2) {
    const float dT = t2 - t1;
    float q = std::min(std::fabs(t2 * hc2 - t1 * hc1),
                       std::fabs(dT) * std::min(tc1 * i1, tc2 * i2) * scale * dt * 0.001f);
    if (!(dT > 0.0f)) q = -q;
    float f1 = t1 + q / hc1;
    float f2 = t2 - q / hc2;
    if ((f2 - f1) * dT < 0.0f) {
        // Overshot: both take the mixed temperature.
        const float inverse = 1.0f / (hc1 + hc2);
        f1 = f2 = hc1 * t1 * inverse + hc2 * t2 * inverse;
    }
    const float hi = std::max(t1, t2);
    const float lo = std::min(t1, t2);
    f1 = ClampTo(f1, lo, hi);
    f2 = ClampTo(f2, lo, hi);
    // Both bodies move toward each other by the same energy.
    const float e = std::min(std::fabs(f1 - t1) * hc1, std::fabs(f2 - t2) * hc2);
    const bool firstWarms = q / hc1 >= 0.0f;
    const float s1 = firstWarms ? 1.0f : -1.0f;
    const float s2 = -q / hc2 >= 0.0f ? 1.0f : -1.0f;
    f1 = ClampTo(t1 + s1 * e / hc1, lo, hi);
    f2 = ClampTo(t2 + s2 * e / hc2, lo, hi);
    if (Within(f1, lo, hi) && Within(f2, lo, hi)) return Conduction{firstWarms ? -e : e, f1, f2, true};
    TS_WARN("ElementChunk ConductTemperature produced invalid outputs.\nInputs: dt=%f, scale=%f\nT1=%f, HC1=%f, "
            "TC1=%f, I1=%f\nT2=%f, HC2=%f, TC2=%f, I2=%f\nOutputs: F1=%f, F2=%f",
            double(dt), double(scale), double(t1), double(hc1), double(tc1), double(i1), double(t2), double(hc2),
            double(tc2), double(i2), double(f1), double(f2));
    return Conduction{0.0f, f1, f2, false};
}

ElementChunkRecord ElementChunk::BuildRecord(const World& world, const AddElementChunkPayload& m) {
    const ElementInfo& info = world.elements.info[m.elementIdx];
    ElementChunkRecord r{};
    r.cell = world.GameToSim(m.gameCell);
    r.temperature = m.temperature;
    r.heatCapacity = m.mass >= 0.001f ? m.mass * info.specificHeatCapacity : 0.0f;
    r.thermalConductivity = info.thermalConductivity;
    r.cellExchangeScale = m.scaleNumerator / m.scaleDenominator;
    r.floorExchangeScale = m.floorExchangeScale;
    r.highTemp = info.highTemp;
    return r;
}

float ElementChunk::ExchangeWithCell(float dt, World& world, uint32_t h, int32_t cell, float scale,
                                     ElementChunkRecord& chunk) {
    CellArrays& u = world.updatedCells;
    const size_t c = size_t(cell);
    if (!(u.mass[c] > 0.0f)) return 0.0f;
    // Only chunks with heat capacity get here: at 0 K one would drain the
    // cell to 0 K, which matter never is.
    if (!(chunk.temperature > 0.0f) || chunk.temperature > SIM_MAX_TEMPERATURE) {
        TS_WARN("ElementChunk bad item temperature: %f. Cell T=%f", double(chunk.temperature), double(u.temperature[c]));
        return 0.0f;
    }
    const ElementInfo& info = world.elements.info[u.elementIdx[c]];
    const float hc = u.mass[c] * info.specificHeatCapacity;
    if (u.temperature[c] < 0.0f || u.temperature[c] > SIM_MAX_TEMPERATURE) {
        TS_WARN("ElementChunk bad src cell T=%f, HC=%f, Item T=%f, HC=%f", double(u.temperature[c]), double(hc),
                double(chunk.temperature), double(chunk.heatCapacity));
        return 0.0f;
    }
    if (info.stateFlags & SIM_ELEMENT_NO_HEAT_EXCHANGE) return 0.0f;
    const float b = float(u.insulation[c]) / 255.0f;
    const Conduction r = ConductTemperature(dt, scale * chunk.cellExchangeScale, u.temperature[c], hc,
                                            info.thermalConductivity, b * b, chunk.temperature, chunk.heatCapacity,
                                            chunk.thermalConductivity, 1.0f);
    // Outputs outside their interval (a body without heat capacity) would
    // write NaN into the cell: the exchange is dropped instead.
    if (!r.valid) return 0.0f;
    u.temperature[c] = r.f1;
    chunk.temperature = r.f2;
    if (r.f2 >= chunk.highTemp) world.outputCollector.elementChunkEvents.push_back(h);
    return r.energy;
}

void ElementChunk::Simulate(float dt, World& world) {
    SizeOutputs();
    for (size_t i = 0; i < records.size(); ++i) {
        ElementChunkRecord& chunk = records[i];
        const uint32_t h = handles[i];
        float energy = 0.0f;
        if (chunk.heatCapacity > 0.0f) {
            if (chunk.storageHeatCapacity > 0.0f) {
                // In storage: the chunk follows the storage, whose own
                // temperature is the host's to keep.
                const Conduction r = ConductTemperature(dt, 1.0f, chunk.storageTemperature, chunk.storageHeatCapacity,
                                                        chunk.storageConductivity, 1.0f, chunk.temperature,
                                                        chunk.heatCapacity, chunk.storageConductivity, 1.0f);
                if (r.valid) chunk.temperature = r.f2;
            } else {
                energy = ExchangeWithCell(dt, world, h, chunk.cell, 1.0f, chunk);
                const int32_t below = chunk.cell - world.width;
                if (world.elements.State(world.updatedCells.elementIdx[size_t(below)]) == SIM_STATE_SOLID)
                    energy += ExchangeWithCell(dt, world, h, below, chunk.floorExchangeScale, chunk);
            }
        }
        ElementChunkOutput& out = outputs[handle::Index(h)];
        out.temperature = chunk.temperature;
        out.energy += energy;
    }
}

void ElementChunk::Publish(World&) {
    SizeOutputs();
    for (size_t i = 0; i < records.size(); ++i)
        outputs[handle::Index(handles[i])] = ElementChunkOutput{records[i].temperature, 0.0f};
}

}  // namespace ts
