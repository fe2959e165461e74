#include "simlib/components/buildingheatexchange.h"

#include <algorithm>
#include <bit>

#include "common/report.h"
#include "simlib/updatetemperature.h"
#include "simlib/world.h"

namespace ts {

namespace {

// (1/255²) × 0.005: the conduction byte squared and the rate factor in one.
const float kConductionFactor = std::bit_cast<float>(0x33A520A6u);

inline float ClampTo(float v, float lo, float hi) { return v < lo ? lo : (hi < v ? hi : v); }

}  // namespace

std::optional<BuildingRecord> BuildingHeatExchange::BuildRecord(const World& world,
                                                               const BuildingHeatExchangeBody& body) {
    if (body.maxX <= body.minX || body.maxY <= body.minY) {
        TS_WARN("Size zero building passed into BuildingHeatExchange");
        return std::nullopt;
    }
    if (!(body.temperature >= 0.0f) || body.temperature > SIM_MAX_TEMPERATURE) {
        TS_WARN("Invalid temperature passed into BuildingHeatExchange");
        return std::nullopt;
    }
    // Every covered cell is read and written each step: the rectangle must lie
    // on the host grid.
    if (body.minX < 0 || body.minY < 0 || body.maxX > world.gameWidth() || body.maxY > world.gameHeight()) {
        TS_WARN("BuildingHeatExchange skipped: rectangle [%d, %d) x [%d, %d) outside the host grid of %d x %d",
                body.minX, body.maxX, body.minY, body.maxY, world.gameWidth(), world.gameHeight());
        return std::nullopt;
    }
    // On the grid, the cell count cannot overflow.
    const int64_t n = (int64_t(body.maxX) - body.minX) * (int64_t(body.maxY) - body.minY);
    const ElementInfo& info = world.elements.info[body.elementIdx];
    BuildingRecord r{};
    r.temperature = body.temperature;
    r.overheatTemperature = body.overheatTemperature;
    r.heatGeneration = body.heatGeneration;
    r.heatCapacity = info.specificHeatCapacity * body.mass / float(n);
    r.thermalConductivity = info.thermalConductivity * body.conductivityScale;
    r.highTemp = info.highTemp;
    r.minX = body.minX + 1;
    r.minY = body.minY + 1;
    r.maxX = body.maxX + 1;
    r.maxY = body.maxY + 1;
    return r;
}

void BuildingHeatExchange::Replace(World& world, uint32_t h, const BuildingRecord& record) {
    BuildingRecord* old = Find(h);
    if (old == nullptr) return;
    if (old->temperature >= old->overheatTemperature && record.temperature < old->overheatTemperature)
        world.outputCollector.buildingsCooled.push_back(h);
    *old = record;
}

void BuildingHeatExchange::ModifyEnergy(uint32_t h, float kilojoules, float minTemperature, float maxTemperature) {
    BuildingRecord* b = Find(h);
    if (b == nullptr) return;
    const float t = b->temperature;
    const float lo = std::min(minTemperature, t);
    const float hi = std::max(maxTemperature, t);
    if (!(lo >= 0.0f) || !(hi <= SIM_MAX_TEMPERATURE)) return;
    const float final_temperature = ClampTo(t + kilojoules / (float(b->cellCount()) * b->heatCapacity), lo, hi);
    if (!TS_CHECK_AS(0.0f < final_temperature && final_temperature <= SIM_MAX_TEMPERATURE,
                     "0.0f < final_temperature && final_temperature <= SIM_MAX_TEMPERATURE"))
        return;
    b->temperature = final_temperature;
}

void BuildingHeatExchange::RemoveBuilding(uint32_t h) {
    if (IsLive(h)) {
        SizeOutputs();
        outputs[handle::Index(h)] = BuildingOutputEntry{h, -1.0f};
    }
    Remove(h);  // reports a handle that is not live
}

void BuildingHeatExchange::Simulate(float dt, World& world) {
    SizeOutputs();
    CellArrays& u = world.updatedCells;
    OutputCollector& collector = world.outputCollector;
    const float rate = dt * world.frameParameters.buildingExchangeRate;
    for (size_t i = 0; i < records.size(); ++i) {
        BuildingRecord& b = records[i];
        const uint32_t h = handles[i];
        if (b.heatCapacity > 0.0f && b.temperature >= 0.0f) {
            // Every cell meets the building at its temperature of the step's start.
            const float tb = b.temperature;
            const float hb = b.heatCapacity;
            float energy = 0.0f;
            float runMin = tb;
            float runMax = tb;
            for (int32_t y = b.minY; y < b.maxY; ++y) {
                for (int32_t x = b.minX; x < b.maxX; ++x) {
                    const int32_t cell = y * world.width + x;
                    const size_t c = size_t(cell);
                    if (!(u.mass[c] > 0.0f)) continue;
                    const ElementInfo& info = world.elements.info[u.elementIdx[c]];
                    const float hc = u.mass[c] * info.specificHeatCapacity;
                    const float tc = u.temperature[c];
                    const float insulation = float(u.insulation[c]);
                    // The colder side's heat capacity limits the flow.
                    float q = info.thermalConductivity * b.thermalConductivity * (tc - tb >= 0.0f ? hc : hb) *
                              (tc - tb) * (insulation * insulation) * kConductionFactor * rate;
                    const float hi = std::max(tc, tb);
                    const float lo = std::min(tc, tb);
                    runMax = std::max(runMax, hi);
                    runMin = std::min(runMin, lo);
                    float tcNew = ClampTo(tc - q / hc, lo, hi);
                    const float tbNew = ClampTo(tb + q / hb, lo, hi);
                    if ((tbNew - tcNew) * (tb - tc) < 0.0f) {
                        const float tm = ClampTo(hb / (hb + hc) * tb + hc / (hb + hc) * tc, lo, hi);
                        tcNew = tm;
                        q = (tm - tb) * hb;
                    }
                    if (tcNew >= lo && tcNew <= hi) {
                        // A cell with mass is never at 0 K (a heavy building at
                        // 0 K drains a light cell to it).
                        if (!(tcNew > 0.0f) || tcNew >= SIM_MAX_TEMPERATURE) {
                            TS_WARN("BuildingHeatExchange has generated invalid final temperature of %f. Src Values: "
                                    "Cell T=%f, HC=%f, Bldg T=%f, HC=%f",
                                    double(tcNew), double(tc), double(hc), double(tb), double(hb));
                            continue;
                        }
                        u.temperature[c] = tcNew;
                        CheckStateTransition(world, collector, cell, info);
                        energy += q;
                    } else {
                        TS_WARN("BuildingHeatExchange has invalid values Cell T=%f, HC=%f, Bldg T=%f, HC=%f", double(tc),
                                double(hc), double(tb), double(hb));
                    }
                }
            }
            const float total = float(b.cellCount()) * hb;
            const float final_temperature =
                ClampTo(tb + energy / total, runMin, runMax) + dt * b.heatGeneration / total;
            if (TS_CHECK_AS(final_temperature >= 0.0f && final_temperature <= SIM_MAX_TEMPERATURE,
                            "0 <= final_temperature && final_temperature <= SIM_MAX_TEMPERATURE")) {
                if (final_temperature >= b.overheatTemperature) collector.buildingsOverheated.push_back(h);
                if (tb >= b.overheatTemperature && final_temperature < b.overheatTemperature)
                    collector.buildingsCooled.push_back(h);
                if (final_temperature >= b.highTemp) collector.buildingsAtHighTemp.push_back(h);
                b.temperature = final_temperature;
            }
        }
        outputs[handle::Index(h)] = BuildingOutputEntry{h, b.temperature};
    }
}

void BuildingHeatExchange::Publish(World&) {
    SizeOutputs();
    for (size_t i = 0; i < records.size(); ++i)
        outputs[handle::Index(handles[i])] = BuildingOutputEntry{handles[i], records[i].temperature};
}

}  // namespace ts
