// The process-wide element table: the records the host sent, their names, and
// the small derived tables that the hot loops read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/binarybuffer.h"
#include "tesselsim/tesselsim.h"

namespace ts {

// The largest specific heat capacity a table may give an element: the
// heaviest cell (1e9 kg) at the hottest temperature (1e4 K) then holds an
// energy far inside the float range; a larger one makes the heat pass's
// energies infinite and their differences NaN.
constexpr float kMaxSpecificHeatCapacity = 1e20f;

constexpr uint8_t kNoElement = 255;
constexpr int32_t kMaxElements = 254;

inline uint8_t StateOf(uint8_t stateFlags) { return stateFlags & SIM_STATE_MASK; }

struct ElementInfo {
    uint8_t stateFlags;
    uint8_t lowTempTransitionIndex;
    uint8_t highTempTransitionIndex;
    uint8_t lowTempTransitionOreIndex;
    uint8_t highTempTransitionOreIndex;
    float specificHeatCapacity;
    float thermalConductivity;
    float defaultMass;
    float gasMassScale;
    // Conduction factor toward a neighbour of state s is contactFactor[s - 1].
    float contactWithGasFactor;
    float contactWithLiquidFactor;
    float contactWithSolidFactor;
    float lowTemp;
    float highTemp;
    float lowTempTransitionOreMassConversion;
    float highTempTransitionOreMassConversion;
};

struct ElementSolidInfo {
    uint8_t stateFlags;
    uint8_t sublimateIndex;
    uint8_t reserved81;
    float weight;
    float strength;
    float maxMass;
    float minHorizontalFlow;
    uint32_t sublimateId;
};

struct ElementFlowInfo {
    uint8_t stateFlags;
    float flow;
    float maxFlow;
    float minHorizontalFlow;
    float minVerticalFlow;
    float maxMass;
};

struct ElementDefaults {
    float defaultTemperature;
    float defaultMass;
    uint32_t reserved104;
};

struct ElementGasInfo {
    uint8_t stateFlags;
    float flow;
};

struct ElementColourInfo {
    uint32_t colour;
    uint8_t stateFlags;
};

struct ElementLightInfo {
    float lightAbsorptionFactor;
    float inverseDefaultMass;
};

class ElementTable {
public:
    std::vector<ElementRecord> records;
    std::vector<std::string> elementNames;
    std::vector<ElementInfo> info;
    std::vector<ElementSolidInfo> solidInfo;
    std::vector<ElementFlowInfo> flowInfo;
    std::vector<ElementDefaults> defaults;
    std::vector<ElementGasInfo> gasInfo;
    std::vector<ElementColourInfo> colourInfo;
    std::vector<ElementLightInfo> lightInfo;
    std::vector<uint8_t> elementStates;
    // Conductance between two fully conducting cells of elements a and b (the
    // geometric mean of their conductivities, as the heat pass computes it),
    // at [a * count + b].
    std::vector<float> fullConductance;
    // No element absorbs a negative amount of light: a column that is dark
    // (light 0, or NaN, which publishes as 0) stays dark to the bottom.
    bool darknessIsFinal = true;

    float FullConductance(uint8_t a, uint8_t b) const { return fullConductance[size_t(a) * records.size() + b]; }

    int32_t count() const { return static_cast<int32_t>(records.size()); }
    bool Contains(uint32_t index) const { return index < records.size(); }
    uint8_t State(uint8_t index) const { return StateOf(elementStates[index]); }

    // First index whose id matches; 255 when absent (or beyond index 254).
    uint8_t FindElementIndex(uint32_t id) const;

    void Clear();
    // Builds every derived table from the records and resolves the ore ids.
    void BuildDerivedTables();
};

// Reads a LoadElementTable payload into `table`. On failure `error` says why
// and `table` must be discarded.
bool ParseElementTable(BinaryBufferReader& reader, ElementTable& table, std::string& error);

}  // namespace ts
