// The process-wide disease table and the rules that add germs to cells.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/binarybuffer.h"
#include "simlib/cellarrays.h"
#include "tesselsim/tesselsim.h"

namespace ts {

constexpr uint8_t kNoDisease = 255;

struct DiseaseRecord {
    uint32_t id = 0;
    float competitionWeight = 0.0f;
    float temperatureThresholds[4] = {};
    float temperatureHalfLives[4] = {};
    float reservedParams[8] = {};
    // One entry per element (the growth-info count), indexed by element index.
    std::vector<float> underpopulationDeathRate;
    std::vector<float> populationHalfLife;
    std::vector<float> overpopulationHalfLife;
    std::vector<float> spreadRate;
    std::vector<float> minCountPerKg;
    std::vector<float> maxCountPerKg;
    std::vector<int32_t> minSpreadCount;
    std::vector<uint8_t> minSpreadAge;
};

class DiseaseTable {
public:
    std::vector<DiseaseRecord> records;
    std::vector<std::string> diseaseNames;

    int32_t count() const { return static_cast<int32_t>(records.size()); }
    bool Contains(uint32_t index) const { return index < records.size(); }
    uint8_t FindDiseaseIndex(uint32_t id) const;
    void Clear() {
        records.clear();
        diseaseNames.clear();
    }
};

// Reads a LoadDiseaseTable payload whose growth-info count must equal
// `elementCount`. On failure `error` says why and `table` must be discarded.
bool ParseDiseaseTable(BinaryBufferReader& reader, int32_t elementCount, DiseaseTable& table,
                       std::string& error);

struct DiseaseAmount {
    uint8_t index;
    int32_t count;
};

// Adds `delta` germs of disease `d` to cell `c`, resolving competition with a
// disease already there. A delta of 0 or a disease of 255 changes nothing.
void AddDisease(CellArrays& cells, size_t c, uint8_t d, int32_t delta, const DiseaseTable& table);

// The same rule without a cell: A is the content, B the addition.
DiseaseAmount MergeDisease(uint8_t dA, int32_t nA, uint8_t dB, int32_t nB, const DiseaseTable& table);

}  // namespace ts
