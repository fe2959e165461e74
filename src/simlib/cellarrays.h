// Ten parallel per-cell arrays: the state of every cell of a grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ts {

struct CellArrays {
    std::vector<uint8_t> elementIdx;
    std::vector<float> temperature;
    std::vector<float> mass;
    std::vector<uint8_t> cellFlags;
    std::vector<uint8_t> insulation;
    std::vector<uint8_t> strengthModifier;
    std::vector<uint8_t> diseaseIdx;
    std::vector<int32_t> diseaseCount;
    std::vector<uint8_t> diseaseAge;
    std::vector<float> diseaseGrowthRemainder;

    size_t size() const { return elementIdx.size(); }

    // Every entry at its creation value.
    void Assign(size_t count) {
        elementIdx.assign(count, 255);
        temperature.assign(count, 0.0f);
        mass.assign(count, 0.0f);
        cellFlags.assign(count, 0);
        insulation.assign(count, 255);
        strengthModifier.assign(count, 132);
        diseaseIdx.assign(count, 255);
        diseaseCount.assign(count, 0);
        diseaseAge.assign(count, 0);
        diseaseGrowthRemainder.assign(count, 0.0f);
    }

    // Copies all ten arrays (resizing first when the sizes differ).
    void CopyFrom(const CellArrays& other) {
        elementIdx = other.elementIdx;
        temperature = other.temperature;
        mass = other.mass;
        cellFlags = other.cellFlags;
        insulation = other.insulation;
        strengthModifier = other.strengthModifier;
        diseaseIdx = other.diseaseIdx;
        diseaseCount = other.diseaseCount;
        diseaseAge = other.diseaseAge;
        diseaseGrowthRemainder = other.diseaseGrowthRemainder;
    }

    // Copies `count` cells of `other` from `from` on into this from `to` on,
    // of the seven arrays the step's passes write; cellFlags, insulation and
    // strengthModifier change only by messages, between steps.
    void CopyPassWrittenFrom(const CellArrays& other, size_t from, size_t to, size_t count);

    // The same for all ten arrays.
    void CopyRange(const CellArrays& other, size_t from, size_t to, size_t count);

    void ClearDisease(size_t c) {
        diseaseIdx[c] = 255;
        diseaseCount[c] = 0;
        diseaseAge[c] = 0;
        diseaseGrowthRemainder[c] = 0.0f;
    }
};

}  // namespace ts
