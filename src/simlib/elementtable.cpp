#include "simlib/elementtable.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace ts {

uint8_t ElementTable::FindElementIndex(uint32_t id) const {
    const size_t n = records.size();
    for (size_t i = 0; i < n && i < kNoElement; ++i) {
        if (records[i].id == id) return static_cast<uint8_t>(i);
    }
    return kNoElement;
}

void ElementTable::Clear() {
    records.clear();
    elementNames.clear();
    info.clear();
    solidInfo.clear();
    flowInfo.clear();
    defaults.clear();
    gasInfo.clear();
    colourInfo.clear();
    lightInfo.clear();
    elementStates.clear();
    fullConductance.clear();
}

void ElementTable::BuildDerivedTables() {
    const size_t n = records.size();
    info.assign(n, {});
    solidInfo.assign(n, {});
    flowInfo.assign(n, {});
    defaults.assign(n, {});
    gasInfo.assign(n, {});
    colourInfo.assign(n, {});
    lightInfo.assign(n, {});
    elementStates.assign(n, 0);
    darknessIsFinal = true;
    for (size_t i = 0; i < n; ++i) {
        const ElementRecord& r = records[i];
        const uint8_t state = StateOf(r.stateFlags);
        info[i] = ElementInfo{r.stateFlags,
                              r.lowTempTransitionIndex,
                              r.highTempTransitionIndex,
                              kNoElement,
                              kNoElement,
                              r.specificHeatCapacity,
                              r.thermalConductivity,
                              r.defaultMass,
                              state == SIM_STATE_GAS ? 1.0f : 0.001f,
                              r.contactWithGasFactor,
                              r.contactWithLiquidFactor,
                              r.contactWithSolidFactor,
                              r.lowTemp,
                              r.highTemp,
                              r.lowTempTransitionOreMassConversion,
                              r.highTempTransitionOreMassConversion};
        solidInfo[i] = ElementSolidInfo{r.stateFlags, r.sublimateIndex, r.reserved81, r.weight,
                                        r.strength,   r.maxMass,        r.minHorizontalFlow, r.sublimateId};
        flowInfo[i] = ElementFlowInfo{r.stateFlags, r.flow, r.maxFlow, r.minHorizontalFlow, r.minVerticalFlow,
                                      r.maxMass};
        defaults[i] = ElementDefaults{r.defaultTemperature, r.defaultMass, r.reserved104};
        gasInfo[i] = ElementGasInfo{r.stateFlags, r.flow};
        colourInfo[i] = ElementColourInfo{r.colour, r.stateFlags};
        // A solid with any mass absorbs at its full factor.
        const float inverse = state == SIM_STATE_SOLID ? std::numeric_limits<float>::infinity()
                                                       : 1.0f / r.defaultMass;
        lightInfo[i] = ElementLightInfo{r.lightAbsorptionFactor, inverse};
        if (r.lightAbsorptionFactor < 0.0f || inverse < 0.0f) darknessIsFinal = false;
        elementStates[i] = r.stateFlags;
    }
    fullConductance.assign(n * n, 0.0f);
    for (size_t a = 0; a < n; ++a)
        for (size_t b = 0; b < n; ++b)
            fullConductance[a * n + b] =
                std::exp((std::log(records[b].thermalConductivity) + std::log(records[a].thermalConductivity)) * 0.5f);
    // Ores may name elements later in the table: resolve once all are in place.
    for (size_t i = 0; i < n; ++i) {
        const ElementRecord& r = records[i];
        info[i].highTempTransitionOreIndex = r.highTempTransitionOreId == SIM_VACUUM_ELEMENT_ID
                                                 ? kNoElement
                                                 : FindElementIndex(r.highTempTransitionOreId);
        info[i].lowTempTransitionOreIndex = r.lowTempTransitionOreId == SIM_VACUUM_ELEMENT_ID
                                                ? kNoElement
                                                : FindElementIndex(r.lowTempTransitionOreId);
    }
}

bool ParseElementTable(BinaryBufferReader& reader, ElementTable& table, std::string& error) {
    table.Clear();
    int32_t count = 0;
    if (!reader.Read(count)) {
        error = "element table: payload too short for its count";
        return false;
    }
    if (count < 0 || count > kMaxElements) {
        error = "element table: count " + std::to_string(count) + " outside 0..254";
        return false;
    }
    const uint64_t recordBytes = uint64_t(sizeof(ElementRecord)) * uint64_t(count);
    if (reader.remaining() < recordBytes) {
        error = "element table: payload too short for its records";
        return false;
    }
    table.records.resize(static_cast<size_t>(count));
    reader.ReadBytes(table.records.data(), recordBytes);
    table.elementNames.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        if (!reader.ReadString(table.elementNames[static_cast<size_t>(i)])) {
            error = "element table: payload too short for name " + std::to_string(i);
            return false;
        }
    }
    if (reader.remaining() != 0) {
        error = "element table: " + std::to_string(reader.remaining()) + " bytes left over";
        return false;
    }
    // Transition targets are used as indexes on every step: they must name
    // an element of this table (or none). A heat capacity must leave the
    // heat pass's energies finite.
    for (int32_t i = 0; i < count; ++i) {
        const ElementRecord& r = table.records[size_t(i)];
        if (!(r.specificHeatCapacity <= kMaxSpecificHeatCapacity)) {
            char text[128];
            std::snprintf(text, sizeof text, "element table: element %d has specific heat capacity %g, above %g",
                          int(i), double(r.specificHeatCapacity), double(kMaxSpecificHeatCapacity));
            error = text;
            return false;
        }
        for (uint8_t target : {r.lowTempTransitionIndex, r.highTempTransitionIndex, r.sublimateIndex}) {
            if (target != kNoElement && target >= count) {
                error = "element table: element " + std::to_string(i) + " names element index " +
                        std::to_string(target) + " beyond the table";
                return false;
            }
        }
    }
    table.BuildDerivedTables();
    return true;
}

}  // namespace ts
