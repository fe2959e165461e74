// Small element and disease tables built in-process for unit tests, and the
// sim thread's floating-point mode.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/floatmode.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"
#include "simlib/disease.h"
#include "simlib/elementtable.h"
#include "simlib/workerpool.h"

namespace tstest {

// The sim thread's floating-point mode on the test's thread, which runs the
// step (and, with one worker, the heat bands); restored afterwards.
using SimThreadFloatMode = ts::SimulationFloatScope;

inline ElementRecord Element(uint32_t id, uint8_t state, float specificHeat = 1.0f, float conductivity = 1.0f) {
    ElementRecord r;
    std::memset(&r, 0, sizeof r);
    r.id = id;
    r.stateFlags = state;
    r.lowTempTransitionIndex = 255;
    r.highTempTransitionIndex = 255;
    r.specificHeatCapacity = specificHeat;
    r.contactWithGasFactor = 1.0f;
    r.contactWithLiquidFactor = 1.0f;
    r.contactWithSolidFactor = 1.0f;
    r.thermalConductivity = conductivity;
    r.lowTempTransitionOreId = SIM_VACUUM_ELEMENT_ID;
    r.highTempTransitionOreId = SIM_VACUUM_ELEMENT_ID;
    r.sublimateIndex = 255;
    r.defaultMass = state == SIM_STATE_GAS ? 1.0f : 1000.0f;
    r.maxMass = r.defaultMass;
    r.highTemp = 10000.0f;
    return r;
}

// Indexes of the standard test table.
enum : uint8_t { kVacuum, kSink, kBorder, kOxygen, kWater, kGranite, kSteam, kIce, kStandardCount };

inline ts::ElementTable StandardElements() {
    ts::ElementTable t;
    t.records = {Element(SIM_VACUUM_ELEMENT_ID, SIM_STATE_VACUUM),
                 Element(SIM_SINK_ELEMENT_ID, SIM_STATE_VACUUM),
                 Element(SIM_BORDER_ELEMENT_ID, SIM_STATE_SOLID | SIM_ELEMENT_UNBREAKABLE, 1.0f, 0.0f),
                 Element(0x1001, SIM_STATE_GAS, 1.005f, 0.024f),
                 Element(0x1002, SIM_STATE_LIQUID, 4.179f, 0.609f),
                 Element(0x1003, SIM_STATE_SOLID, 0.79f, 3.39f),
                 Element(0x1004, SIM_STATE_GAS, 2.08f, 0.184f),
                 Element(0x1005, SIM_STATE_SOLID, 2.05f, 2.18f)};
    t.records[kWater].lowTemp = 272.5f;
    t.records[kWater].lowTempTransitionIndex = kIce;
    t.records[kWater].highTemp = 372.5f;
    t.records[kWater].highTempTransitionIndex = kSteam;
    t.records[kSteam].lowTemp = 372.5f;
    t.records[kSteam].lowTempTransitionIndex = kWater;
    t.records[kIce].highTemp = 272.5f;
    t.records[kIce].highTempTransitionIndex = kWater;
    t.elementNames = {"Vacuum", "Sink", "Border", "Oxygen", "Water", "Granite", "Steam", "Ice"};
    t.BuildDerivedTables();
    return t;
}

inline ts::DiseaseRecord Disease(uint32_t id, float weight, size_t elementCount) {
    ts::DiseaseRecord d;
    d.id = id;
    d.competitionWeight = weight;
    for (auto* rates : {&d.underpopulationDeathRate, &d.populationHalfLife, &d.overpopulationHalfLife, &d.spreadRate,
                        &d.minCountPerKg, &d.maxCountPerKg})
        rates->assign(elementCount, 0.0f);
    d.minSpreadCount.assign(elementCount, 0);
    d.minSpreadAge.assign(elementCount, 0);
    return d;
}

// Two diseases of weight 1 (X = index 0, Y = index 1).
inline ts::DiseaseTable StandardDiseases(size_t elementCount = kStandardCount) {
    ts::DiseaseTable t;
    t.records = {Disease(0xD1, 1.0f, elementCount), Disease(0xD2, 1.0f, elementCount)};
    t.diseaseNames = {"X", "Y"};
    return t;
}

// Payload bytes of LoadElementTable and LoadDiseaseTable, written by the host
// kit: the unit tests that load tables also check its writers against the parsers.
inline std::string ElementTablePayload(const std::vector<ElementRecord>& records,
                                       const std::vector<std::string>& names) {
    std::vector<tshost::ElementDesc> table;
    for (size_t i = 0; i < records.size(); ++i) table.push_back({names[i], records[i]});
    return tshost::ElementTablePayload(table);
}

inline std::string DiseaseTablePayload(const ts::DiseaseTable& table, int32_t growthCount) {
    std::vector<tshost::DiseaseDesc> out;
    for (size_t i = 0; i < table.records.size(); ++i) {
        const ts::DiseaseRecord& r = table.records[i];
        tshost::DiseaseDesc& d = out.emplace_back(tshost::DiseaseDesc{table.diseaseNames[i], {}, {}});
        d.header.id = r.id;
        d.header.competitionWeight = r.competitionWeight;
        std::copy_n(r.temperatureThresholds, 4, d.header.temperatureThresholds);
        std::copy_n(r.temperatureHalfLives, 4, d.header.temperatureHalfLives);
        for (size_t e = 0; e < size_t(growthCount); ++e)
            d.growth.push_back({r.underpopulationDeathRate[e], r.populationHalfLife[e], r.overpopulationHalfLife[e],
                                r.spreadRate[e], r.minCountPerKg[e], r.maxCountPerKg[e], r.minSpreadCount[e],
                                r.minSpreadAge[e]});
    }
    return tshost::DiseaseTablePayload(out, growthCount);
}

using tshost::Matter;
using tshost::WorldLayout;

// Gives a host cell `count` germs of disease `idx`.
inline void SetGerms(tshost::WorldCell& cell, uint8_t idx, int32_t count) {
    cell.diseaseIdx = idx;
    cell.diseaseCount = count;
}

}  // namespace tstest
