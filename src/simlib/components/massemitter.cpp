#include "simlib/components/massemitter.h"

#include <algorithm>
#include <cfloat>

#include "hostapi/report.h"
#include "simlib/simutil.h"
#include "simlib/updatetemperature.h"
#include "simlib/world.h"

namespace ts {

MassEmitterRecord MassEmitter::BuildRecord(const AddMassEmitterPayload& m) {
    MassEmitterRecord r{};
    r.timer = 0.0f;
    r.interval = FLT_MAX;
    r.emitMass = 0.0f;
    r.emitTemperature = -1.0f;
    r.maxPressure = m.maxPressure;
    r.elementIdx = kNoElement;
    r.blocked = kNotEvaluated;
    r.emitDiseaseIdx = kNoDisease;
    r.blockedCallback = m.blockedCallback;
    r.unblockedCallback = m.unblockedCallback;
    return r;
}

void MassEmitter::Modify(const World& world, const ModifyMassEmitterPayload& m) {
    MassEmitterRecord* r = Find(m.handle);
    if (r == nullptr) return;
    const int32_t c = world.GameToSim(m.gameCell);
    r->x = uint16_t(c % world.width);
    r->y = uint16_t(c / world.width);
    r->interval = m.interval;
    r->emitMass = m.emitMass;
    r->emitTemperature = m.emitTemperature;
    r->maxPressure = m.maxPressure;
    r->emitDiseaseCount = m.emitDiseaseCount;
    r->elementIdx = m.elementIdx;
    r->radius = m.radius;
    r->emitDiseaseIdx = m.emitDiseaseIdx;
    r->timer = 0.0f;
    if (m.emitMass <= 0.0f) r->blocked = kNotEvaluated;
}

MassEmitter::Placed MassEmitter::Take(World& world, const MassEmitterRecord& r, int32_t cell, float temperature) {
    CellArrays& u = world.updatedCells;
    const size_t c = size_t(cell);
    const bool wasVacuum = u.elementIdx[c] == world.vacuumElementIdx;
    // Only the outlet's own element or vacuum can take it (silent check).
    if (!(u.elementIdx[c] == r.elementIdx || wasVacuum)) return Placed{false, 0.0f, 0.0f};
    u.elementIdx[c] = r.elementIdx;
    // An outlet emitting nothing (or less) takes the cell all the same; its
    // mass stays at 0 or above and keeps its temperature.
    const float mass = std::max(r.emitMass, 0.0f);
    if (mass > 0.0f) {
        u.temperature[c] = MixTemperature(u.mass[c], u.temperature[c], mass, temperature);
        u.mass[c] += mass;
    } else {
        const float left = u.mass[c] + r.emitMass;
        u.mass[c] = left > 0.0f ? left : 0.0f;
        if (u.mass[c] == 0.0f) u.temperature[c] = 0.0f;
    }
    AddDisease(u, c, r.emitDiseaseIdx, r.emitDiseaseCount, world.diseases);
    if (wasVacuum) world.MarkCellChanged(cell);
    return Placed{true, mass, temperature};
}

MassEmitter::Placed MassEmitter::Place(World& world, const MassEmitterRecord& r, const std::vector<int32_t>& found) {
    const Placed nothing{false, 0.0f, 0.0f};
    CellArrays& u = world.updatedCells;
    const float t =
        r.emitTemperature < 0.0f ? world.elements.records[r.elementIdx].defaultTemperature : r.emitTemperature;
    const uint8_t state = world.elements.State(r.elementIdx);
    if (state == SIM_STATE_SOLID) {
        // Solids leave as items wherever release is permitted; no cell changes.
        if (!(r.emitMass > 0.0f) || !TS_CHECK_AS(t > 0.0f, "temperature > 0.0f")) return nothing;
        const bool force = (world.frameParameters.forceEmission & 0xFFu) != 0;
        for (int32_t cell : found) {
            if (!(u.mass[size_t(cell)] < r.maxPressure)) continue;
            const int32_t gameCell = world.ReportableGameCell(cell);
            if (gameCell < 0 || !(world.releasePermit[size_t(gameCell)] > 0 || force)) continue;
            world.outputCollector.emittedMatter.push_back(
                MatterEntry{gameCell, r.elementIdx, kNoDisease, {0, 0}, r.emitMass, t, 0});
        }
        return nothing;
    }
    if (state != SIM_STATE_GAS && state != SIM_STATE_LIQUID) return nothing;
    for (int32_t cell : found) {
        const size_t c = size_t(cell);
        if (!(u.mass[c] < r.maxPressure)) continue;
        const uint8_t e = u.elementIdx[c];
        if (e == r.elementIdx || e == world.vacuumElementIdx) return Take(world, r, cell, t);
        // Another fluid is pushed out of the way first.
        if (state == SIM_STATE_GAS) {
            if (world.elements.State(e) == SIM_STATE_GAS && DisplaceGas(world, u, cell, e))
                return Take(world, r, cell, t);
        } else if (DisplaceLiquid(world, u, cell, e)) {
            return Take(world, r, cell, t);
        }
    }
    return nothing;
}

void MassEmitter::Simulate(float dt, World& world) {
    SizeOutputs();
    for (size_t i = 0; i < records.size(); ++i) {
        MassEmitterRecord& r = records[i];
        MassEmitterOutput& out = outputs[handle::Index(handles[i])];
        if (r.timer >= r.interval) {
            // One output entry carries one element per frame. Its element
            // outlives the publication that zeroes its mass, so only an entry
            // with mass speaks for this frame.
            const uint8_t held = out.elementIdx;
            const bool otherElement =
                held != kNoElement && held != world.vacuumElementIdx && held != r.elementIdx && out.mass > 0.0f;
            if (!otherElement) {
                const std::vector<int32_t>& found = fill_.Fill(world, r.x, r.y, r.radius);
                bool room = false;
                for (int32_t cell : found) room = room || world.updatedCells.mass[size_t(cell)] < r.maxPressure;
                if (room && r.blocked != 0) {
                    r.blocked = 0;
                    if (r.unblockedCallback != SIM_NO_CALLBACK)
                        world.outputCollector.cellCallbacks.push_back(r.unblockedCallback);
                } else if (!room && r.blocked != 1) {
                    r.blocked = 1;
                    if (r.blockedCallback != SIM_NO_CALLBACK)
                        world.outputCollector.cellCallbacks.push_back(r.blockedCallback);
                }
                const Placed placed = Place(world, r, found);
                if (placed.placed) {
                    out.temperature = MixTemperature(out.mass, out.temperature, placed.mass, placed.temperature);
                    out.mass = out.mass + placed.mass;
                    out.elementIdx = r.elementIdx;
                }
            }
            r.timer -= r.interval;
        }
        r.timer += dt;
    }
}

void MassEmitter::Publish(World&) {
    SizeOutputs();
    for (MassEmitterOutput& out : outputs) out = Idle();
}

}  // namespace ts
