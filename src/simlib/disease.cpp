#include "simlib/disease.h"

#include <cstdio>
#include <cstdlib>

#include "common/numeric.h"

namespace ts {

uint8_t DiseaseTable::FindDiseaseIndex(uint32_t id) const {
    const size_t n = records.size();
    for (size_t i = 0; i < n && i < kNoDisease; ++i) {
        if (records[i].id == id) return static_cast<uint8_t>(i);
    }
    return kNoDisease;
}

bool ParseDiseaseTable(BinaryBufferReader& reader, int32_t elementCount, DiseaseTable& table,
                       std::string& error) {
    table.Clear();
    int32_t diseaseCount = 0;
    int32_t growthCount = 0;
    if (!reader.Read(diseaseCount) || !reader.Read(growthCount)) {
        error = "disease table: payload too short for its counts";
        return false;
    }
    if (growthCount != elementCount) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "Elements table contains %d elements but diseases are only listing %d growth info entries",
                      elementCount, growthCount);
        error = text;
        return false;
    }
    if (diseaseCount < 0 || diseaseCount > kNoDisease) {
        error = "disease table: count " + std::to_string(diseaseCount) + " outside 0..255";
        return false;
    }
    // Every disease needs at least its name length, header and growth entries.
    const uint64_t minimumPerDisease =
        4 + sizeof(DiseaseRecordHeader) + uint64_t(sizeof(DiseaseElementGrowth)) * uint64_t(growthCount);
    if (reader.remaining() / minimumPerDisease < uint64_t(diseaseCount)) {
        error = "disease table: payload too short for " + std::to_string(diseaseCount) + " diseases";
        return false;
    }
    table.records.resize(static_cast<size_t>(diseaseCount));
    table.diseaseNames.resize(static_cast<size_t>(diseaseCount));
    const size_t g = static_cast<size_t>(growthCount);
    for (size_t i = 0; i < table.records.size(); ++i) {
        DiseaseRecord& r = table.records[i];
        DiseaseRecordHeader header;
        if (!reader.ReadString(table.diseaseNames[i]) || !reader.Read(header)) {
            error = "disease table: payload too short for disease " + std::to_string(i);
            return false;
        }
        r.id = header.id;
        r.competitionWeight = header.competitionWeight;
        for (int k = 0; k < 4; ++k) {
            r.temperatureThresholds[k] = header.temperatureThresholds[k];
            r.temperatureHalfLives[k] = header.temperatureHalfLives[k];
        }
        for (int k = 0; k < 8; ++k) r.reservedParams[k] = header.reservedParams[k];
        r.underpopulationDeathRate.resize(g);
        r.populationHalfLife.resize(g);
        r.overpopulationHalfLife.resize(g);
        r.spreadRate.resize(g);
        r.minCountPerKg.resize(g);
        r.maxCountPerKg.resize(g);
        r.minSpreadCount.resize(g);
        r.minSpreadAge.resize(g);
        for (size_t e = 0; e < g; ++e) {
            DiseaseElementGrowth growth;
            if (!reader.Read(growth)) {
                error = "disease table: payload too short for disease " + std::to_string(i);
                return false;
            }
            r.underpopulationDeathRate[e] = growth.underpopulationDeathRate;
            r.populationHalfLife[e] = growth.populationHalfLife;
            r.overpopulationHalfLife[e] = growth.overpopulationHalfLife;
            r.spreadRate[e] = growth.spreadRate;
            r.minCountPerKg[e] = growth.minCountPerKg;
            r.maxCountPerKg[e] = growth.maxCountPerKg;
            r.minSpreadCount[e] = growth.minSpreadCount;
            r.minSpreadAge[e] = growth.minSpreadAge;
        }
    }
    if (reader.remaining() != 0) {
        error = "disease table: " + std::to_string(reader.remaining()) + " bytes left over";
        return false;
    }
    return true;
}

namespace {

// Two different diseases meet: the stronger population survives, reduced by
// the weaker one in proportion to their strengths. Single precision.
DiseaseAmount Compete(uint8_t dOld, int32_t nOld, uint8_t d, int32_t delta, const DiseaseTable& table) {
    const float sOld = float(nOld) * table.records[dOld].competitionWeight;
    const float sNew = float(delta) * table.records[d].competitionWeight;
    // A strength of 0 would divide by zero: a newcomer without strength never
    // takes the cell, a holder without strength loses it to any newcomer.
    if (sNew == 0.0f) return {dOld, nOld};
    if (sOld == 0.0f) return {d, delta};
    DiseaseAmount result;
    if (sOld > sNew) {
        const int32_t r = TruncToInt32(float(delta) - (sOld / sNew) * float(nOld));
        result = r < 0 ? DiseaseAmount{dOld, SaturateToInt32(-int64_t(r))} : DiseaseAmount{d, r};
    } else {
        const int32_t r = TruncToInt32(float(nOld) - (sNew / sOld) * float(delta));
        result = r >= 0 ? DiseaseAmount{dOld, r} : DiseaseAmount{d, SaturateToInt32(-int64_t(r))};
    }
    // Competition never makes germs: at most the two counts together.
    const int64_t most = std::abs(int64_t(nOld)) + std::abs(int64_t(delta));
    if (result.count > most) result.count = SaturateToInt32(most);
    return result;
}

}  // namespace

void AddDisease(CellArrays& cells, size_t c, uint8_t d, int32_t delta, const DiseaseTable& table) {
    if (delta == 0 || d == kNoDisease) return;  // nothing to add (and no 0/0 in the competition)
    const uint8_t dOld = cells.diseaseIdx[c];
    const int32_t nOld = cells.diseaseCount[c];
    DiseaseAmount result;
    if (dOld == d) {
        result = {d, SaturateToInt32(int64_t(nOld) + delta)};
    } else if (dOld == kNoDisease) {
        result = {d, delta};
    } else {
        result = Compete(dOld, nOld, d, delta, table);
    }
    cells.diseaseIdx[c] = result.index;
    cells.diseaseCount[c] = result.count;
    if (result.count < 1) {
        cells.ClearDisease(c);
    } else if (result.index != dOld) {
        cells.diseaseAge[c] = 0;
    }
}

DiseaseAmount MergeDisease(uint8_t dA, int32_t nA, uint8_t dB, int32_t nB, const DiseaseTable& table) {
    if (dA == dB) return {dA, SaturateToInt32(int64_t(nA) + nB)};
    if (dA == kNoDisease) return {dB, nB};
    if (dB == kNoDisease) return {dA, nA};
    return Compete(dA, nA, dB, nB, table);
}

}  // namespace ts
