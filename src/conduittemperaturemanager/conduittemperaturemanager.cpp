#include "conduittemperaturemanager/conduittemperaturemanager.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>

#include "hostapi/report.h"
#include "hostapi/runtime.h"
#include "simlib/simframemanager.h"

namespace ts {

namespace {

constexpr float kExchangeFactor = 50.0f;
constexpr float kRateFactor = 0.001f;
constexpr float kSmallestHeatCapacity = 0.0001f;
// Energy below this is not worth a message to the building.
const float kSmallestEnergy = std::bit_cast<float>(0x358637BDu);
constexpr float kHysteresis = 3.0f;

inline float ClampTo(float v, float lo, float hi) { return v < lo ? lo : (hi < v ? hi : v); }

}  // namespace

bool ConduitTemperatureManager::Contents(const ElementTable& elements, float temperature, float mass,
                                         uint32_t elementId, bool fromSet, ConduitEntry& entry) {
    const uint8_t index = elements.FindElementIndex(elementId);
    if (index == kNoElement) {
        TS_WARN("conduit contents refused: element id 0x%08x is not in the element table", elementId);
        return false;
    }
    if (!std::isfinite(mass)) {
        TS_WARN("conduit contents refused: mass is not finite");
        return false;
    }
    const ElementRecord& contents_elem = elements.records[index];
    const float contents_mass = mass;
    float contents_temperature = temperature;
    if (!TS_CHECK_AS(contents_mass == 0.0f || 0.0f <= contents_temperature,
                     "contents_mass == 0.0f || 0.0f <= contents_temperature") ||
        !TS_CHECK_AS(contents_mass == 0.0f || 0.0f <= contents_elem.thermalConductivity,
                     "contents_mass == 0.0f || 0.0f <= contents_elem.thermalConductivity"))
        return false;
    if (fromSet) {
        if (!TS_CHECK_AS(contents_temperature <= SIM_MAX_TEMPERATURE, "contents_temperature <= SIM_MAX_TEMPERATURE"))
            return false;
    } else if (!(contents_temperature <= SIM_MAX_TEMPERATURE)) {
        TS_WARN("Contents have invalid temperature %f. Resetting to default.", double(contents_temperature));
        contents_temperature = contents_elem.defaultTemperature;
    }
    entry.temperature = contents_temperature;
    entry.thermalConductivity = contents_elem.thermalConductivity;
    entry.heatCapacity = contents_mass * contents_elem.specificHeatCapacity;
    entry.freezeTemp = contents_elem.lowTempTransitionIndex != kNoElement ? contents_elem.lowTemp : 0.0f;
    entry.boilTemp = contents_elem.highTempTransitionIndex != kNoElement ? contents_elem.highTemp : FLT_MAX;
    return true;
}

uint32_t ConduitTemperatureManager::AddEntry(const ElementTable& elements, float temperature, float mass,
                                             uint32_t elementId, uint32_t buildingHandle, float buildingHeatCapacity,
                                             float buildingConductivity, uint8_t useLowerConductivity) {
    ConduitEntry entry{};
    if (!Contents(elements, temperature, mass, elementId, false, entry)) return SIM_NO_HANDLE;
    entry.buildingHandle = buildingHandle;
    entry.buildingHeatCapacity = buildingHeatCapacity;
    entry.buildingConductivity = buildingConductivity;
    entry.useLowerConductivity = useLowerConductivity;
    return Add(entry);
}

void ConduitTemperatureManager::SetEntry(const ElementTable& elements, uint32_t h, float temperature, float mass,
                                         uint32_t elementId) {
    ConduitEntry* entry = Find(h);
    if (entry == nullptr) {
        TS_WARN("ConduitTemperatureManager::Set called with bad handle: V=%d, Idx=%d, ArraySize=%d",
                int(handle::Version(h)), int(handle::Index(h)), int(count()));
        return;
    }
    ConduitEntry updated = *entry;
    if (Contents(elements, temperature, mass, elementId, true, updated)) *entry = updated;
}

void ConduitTemperatureManager::RemoveEntry(uint32_t h) {
    ConduitEntry* entry = Get(h);
    if (entry == nullptr) return;
    // Detached at once: no more exchange while the removal waits.
    entry->buildingHandle = SIM_NO_HANDLE;
    entry->buildingHeatCapacity = -1.0f;
    entry->buildingConductivity = -1.0f;
    pendingRemovals[currentRemovalList].push_back(h);
}

void ConduitTemperatureManager::ClearEntries() {
    ClearAll();
    // Pending removals name slots that no longer exist.
    pendingRemovals[0].clear();
    pendingRemovals[1].clear();
}

void ConduitTemperatureManager::ApplyPendingRemovals() {
    currentRemovalList = 1 - currentRemovalList;
    std::vector<uint32_t>& list = pendingRemovals[currentRemovalList];
    for (uint32_t h : list) Remove(h);  // a handle removed twice is refused with a report
    list.clear();
}

const UpdateResult* ConduitTemperatureManager::Update(float dt, const BuildingOutputEntry* buildings,
                                                      SimFrameManager* queue) {
    boiledEntries.clear();
    frozenEntries.clear();
    temperatures.resize(slotCount(), 0.0f);
    for (size_t i = 0; i < records.size(); ++i) {
        ConduitEntry& entry = records[i];
        const uint32_t slot = handle::Index(handles[i]);
        if (!TS_CHECK_AS(slot < temperatures.size(), "sim_handle.Index() < temperatures.size()")) continue;
        if (buildings == nullptr) {
            temperatures[slot] = entry.temperature;
            continue;
        }
        if (handle::Index(entry.buildingHandle) >= handle::kMaxSlots) continue;  // no building
        const float tb = buildings[handle::Index(entry.buildingHandle)].temperature;
        const float ts = entry.temperature;
        if (entry.heatCapacity <= kSmallestHeatCapacity || entry.buildingHeatCapacity <= kSmallestHeatCapacity ||
            !(tb > 0.0f) ||
            !TS_CHECK_AS(0.0f <= ts && ts <= SIM_MAX_TEMPERATURE,
                         "0.0f <= src_temperature && src_temperature <= SIM_MAX_TEMPERATURE") ||
            !TS_CHECK_AS(0.0f <= tb && tb <= SIM_MAX_TEMPERATURE,
                         "0.0f <= dest_temperature && dest_temperature <= SIM_MAX_TEMPERATURE")) {
            temperatures[slot] = entry.temperature;
            continue;
        }
        const float hs = entry.heatCapacity;
        const float hb = entry.buildingHeatCapacity;
        const float k = entry.useLowerConductivity ? std::min(entry.thermalConductivity, entry.buildingConductivity)
                                                   : (entry.thermalConductivity + entry.buildingConductivity) / 2.0f;
        const float flow = k * (ts - tb) * kExchangeFactor;
        const float q = flow * dt * kRateFactor;
        const float lo = std::min(ts, tb);
        const float hi = std::max(ts, tb);
        // Neither side may pass the other's temperature.
        const float es = std::fabs(ClampTo(ts - q / hs, lo, hi) - ts) * hs;
        const float eb = std::fabs(ClampTo(tb + q / hb, lo, hi) - tb) * hb;
        float e = std::min(eb, es);
        if (flow < 0.0f) e = -e;
        float tsNew = std::max(ts - e / hs, 0.0f);
        const float tbNew = std::max(tb + e / hb, 0.0f);
        if ((tsNew - tbNew) * (ts - tb) < 0.0f) {
            const float inverse = 1.0f / (hs + hb);
            tsNew = hs * ts * inverse + hb * tb * inverse;
        }
        if (std::isnan(tsNew)) {
            e = 0.0f;
        } else {
            entry.temperature = tsNew;
        }
        TS_CHECK_AS(0.0f < entry.temperature, "0.0f < entry.temperature");
        TS_CHECK_AS(entry.temperature < SIM_MAX_TEMPERATURE, "entry.temperature < SIM_MAX_TEMPERATURE");
        temperatures[slot] = entry.temperature;
        if (std::fabs(e) > kSmallestEnergy && queue != nullptr) {
            const ModifyBuildingEnergyPayload message{entry.buildingHandle, (ts - entry.temperature) * hs, lo, hi};
            queue->EnqueueMessage(SIM_MSG_MODIFY_BUILDING_ENERGY, &message, int32_t(sizeof message));
        }
        if (entry.temperature < entry.freezeTemp - kHysteresis) {
            frozenEntries.push_back(slot);
        } else if (entry.temperature > entry.boilTemp + kHysteresis) {
            boiledEntries.push_back(slot);
        }
    }
    result.temperatureCount = int32_t(temperatures.size());
    result.temperatures = temperatures.empty() ? nullptr : temperatures.data();
    result.frozenCount = int32_t(frozenEntries.size());
    result.frozenEntries = frozenEntries.empty() ? nullptr : frozenEntries.data();
    result.boiledCount = int32_t(boiledEntries.size());
    result.boiledEntries = boiledEntries.empty() ? nullptr : boiledEntries.data();
    return &result;
}

void RunConduitRemovalPass() {
    ConduitManagerSlot& slot = GetRuntime().conduits;
    std::lock_guard<std::mutex> guard(slot.lock);
    if (slot.manager) slot.manager->ApplyPendingRemovals();
}

}  // namespace ts
