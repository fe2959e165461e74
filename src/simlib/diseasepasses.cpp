#include "simlib/diseasepasses.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/numeric.h"

namespace ts {

namespace {
constexpr float kSpreadShare = 0.125f;

bool Unusable(float h) { return std::isnan(h) || h == std::numeric_limits<float>::infinity(); }

// A curve segment with a single half-life.
float SingleFactor(float h) { return Unusable(h) ? 1.0f : HalfLifeFactor(h); }
}  // namespace

float HalfLifeFactor(float h) {
    if (h == 0.0f || std::isnan(h)) return 0.0f;
    if (h == std::numeric_limits<float>::infinity()) return 1.0f;
    return std::pow(2.0f, -kStepSeconds / h);
}

float TemperatureFactor(const DiseaseRecord& d, float t) {
    int i = 0;
    while (i < 4 && !(t <= d.temperatureThresholds[i])) ++i;
    switch (i) {
        case 0: return SingleFactor(d.temperatureHalfLives[0]);
        case 2: return 1.0f;  // the comfortable band
        case 4: return SingleFactor(d.temperatureHalfLives[3]);
        default: break;
    }
    const float h0 = d.temperatureHalfLives[i - 1];
    const float h1 = d.temperatureHalfLives[i];
    if (Unusable(h0) || Unusable(h1)) return 1.0f;
    const float lo = d.temperatureThresholds[i - 1];
    const float span = d.temperatureThresholds[i] - lo;
    const float s = span > 0.0f ? (t - lo) / span : 0.0f;
    return HalfLifeFactor((1.0f - s) * h0 + s * h1);
}

float SpreadRate(const World& world, int32_t cell) {
    const CellArrays& s = world.cells;
    const size_t c = size_t(cell);
    const uint8_t d = s.diseaseIdx[c];
    if (!world.diseases.Contains(d)) return 0.0f;
    const uint8_t e = s.elementIdx[c];
    const DiseaseRecord& disease = world.diseases.records[d];
    if (e >= disease.spreadRate.size()) return 0.0f;
    if (s.diseaseCount[c] < disease.minSpreadCount[e]) return 0.0f;
    if (s.diseaseAge[c] < disease.minSpreadAge[e]) return 0.0f;
    // A rate that is not a number of germs spreads none.
    return std::isfinite(disease.spreadRate[e]) ? disease.spreadRate[e] : 0.0f;
}

void SpreadDisease(World& world, int32_t a, int32_t b) {
    const CellArrays& s = world.cells;
    CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    // Germs cross only between cells of the same phase.
    if (elements.State(s.elementIdx[size_t(a)]) != elements.State(s.elementIdx[size_t(b)])) return;
    const uint8_t da = s.diseaseIdx[size_t(a)];
    const uint8_t db = s.diseaseIdx[size_t(b)];
    const int32_t na = s.diseaseCount[size_t(a)];
    const int32_t nb = s.diseaseCount[size_t(b)];
    // -m with m = INT32_MIN (an amount out of range) saturates.
    auto negate = [](int32_t m) { return SaturateToInt32(-int64_t(m)); };
    auto move = [&](uint8_t d, int32_t toA, int32_t toB) {
        if (toA != 0) AddDisease(u, size_t(a), d, toA, world.diseases);
        if (toB != 0) AddDisease(u, size_t(b), d, toB, world.diseases);
    };
    auto aIntoB = [&] {
        const int32_t m = TruncToInt32(float(na) * kSpreadShare * SpreadRate(world, a));
        move(da, negate(m), m);
    };
    auto bIntoA = [&] {
        const int32_t m = TruncToInt32(float(nb) * SpreadRate(world, b) * kSpreadShare);
        move(db, m, negate(m));
    };
    if (da == db) {
        if (da == kNoDisease) return;
        // In 64 bits: the difference of two counts need not fit 32.
        const int64_t diff = int64_t(nb) - int64_t(na);
        const float rate = diff < 1 ? SpreadRate(world, a) : SpreadRate(world, b);
        const int32_t m = TruncToInt32(rate * (float(diff) * kSpreadShare));
        move(da, m, negate(m));
    } else if (db == kNoDisease) {
        aIntoB();
    } else if (da == kNoDisease) {
        bIntoA();
    } else if (float(na) * world.diseases.records[da].competitionWeight >
               float(nb) * world.diseases.records[db].competitionWeight) {
        aIntoB();
    } else {
        bIntoA();
    }
}

void DiseaseSpreadPass(World& world) {
    const Region& r = world.activeRegion;
    const CellArrays& s = world.cells;
    const int32_t w = world.width;
    for (int32_t y = r.minY; y < r.maxY; ++y) {
        for (int32_t x = r.minX; x < r.maxX; ++x) {
            const int32_t c = y * w + x;
            if (s.diseaseIdx[size_t(c)] != kNoDisease || s.diseaseIdx[size_t(c + 1)] != kNoDisease)
                SpreadDisease(world, c, c + 1);
            if (s.diseaseIdx[size_t(c)] != kNoDisease || s.diseaseIdx[size_t(c + w)] != kNoDisease)
                SpreadDisease(world, c, c + w);
        }
    }
}

namespace {

// One cell's germs grow or die for one step; then what died out is cleared
// and the cell ages. Each cell reads and writes only itself.
void GrowAndAge(World& world, CellArrays& u, size_t c) {
    const uint8_t d = u.diseaseIdx[c];
    const uint8_t e = u.elementIdx[c];
    if (world.diseases.Contains(d) && e < world.diseases.records[d].spreadRate.size()) {
        const DiseaseRecord& disease = world.diseases.records[d];
        const float n = float(u.diseaseCount[c]);
        const float mass = u.mass[c];
        float total = n * TemperatureFactor(disease, u.temperature[c]) + u.diseaseGrowthRemainder[c] - n;
        if (n < mass * disease.minCountPerKg[e]) {
            total += -kStepSeconds * disease.underpopulationDeathRate[e];
        } else if (n > mass * disease.maxCountPerKg[e]) {
            total += (HalfLifeFactor(disease.overpopulationHalfLife[e]) - 1.0f) * n;
        } else {
            total += (HalfLifeFactor(disease.populationHalfLife[e]) - 1.0f) * n;
        }
        const int32_t k = TruncToInt32(total);
        u.diseaseGrowthRemainder[c] = total - float(k);
        u.diseaseCount[c] = SaturateToInt32(int64_t(u.diseaseCount[c]) + k);
    }
    if (u.diseaseCount[c] <= 0) u.diseaseIdx[c] = kNoDisease;
    if (u.diseaseCount[c] < 0) u.diseaseCount[c] = 0;
    if (u.diseaseCount[c] < 1) {
        u.diseaseAge[c] = 0;
        u.diseaseGrowthRemainder[c] = 0.0f;
    }
    u.diseaseAge[c] = uint8_t(std::min(int32_t(u.diseaseAge[c]) + 1, 254));
}

// Sixteen cells from c on that hold no disease and have been through a step
// without one (no germs, no remainder, age 1): a step writes what they hold.
bool SixteenAtRest(const CellArrays& u, size_t c) {
    const __m128i index = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&u.diseaseIdx[c]));
    const __m128i age = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&u.diseaseAge[c]));
    __m128i bits = _mm_setzero_si128();
    for (size_t k = 0; k < 16; k += 4) {
        bits = _mm_or_si128(bits, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&u.diseaseCount[c + k])));
        bits = _mm_or_si128(bits, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&u.diseaseGrowthRemainder[c + k])));
    }
    const __m128i rest = _mm_and_si128(_mm_cmpeq_epi8(index, _mm_set1_epi8(char(kNoDisease))),
                                       _mm_cmpeq_epi8(age, _mm_set1_epi8(1)));
    return _mm_movemask_epi8(_mm_and_si128(rest, _mm_cmpeq_epi32(bits, _mm_setzero_si128()))) == 0xFFFF;
}

}  // namespace

void GrowDisease(World& world, const Rect& region) {
    CellArrays& u = world.updatedCells;
    const int32_t w = world.width;
    for (int32_t y = region.y0; y < region.y1; ++y) {
        size_t c = size_t(y * w + region.x0);
        const size_t end = size_t(y * w + region.x1);
        for (; c + 16 <= end; c += 16) {
            if (SixteenAtRest(u, c)) continue;
            for (size_t k = c; k < c + 16; ++k) GrowAndAge(world, u, k);
        }
        for (; c < end; ++c) GrowAndAge(world, u, c);
    }
}

}  // namespace ts
