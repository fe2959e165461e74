// Worlds built in-process for unit tests and benchmarks.
#pragma once

#include <cstdint>
#include <memory>

#include "persistence/worldbuild.h"
#include "simlib/world.h"

namespace tsscene {

// A world of game size gw x gh, every interior cell `element` at `t` with `m`,
// border filled, active region the whole interior, snapshot taken.
inline std::unique_ptr<ts::World> Uniform(const ts::ElementTable& elements, const ts::DiseaseTable& diseases,
                                          int32_t gw, int32_t gh, uint8_t element, float t, float m) {
    auto world = std::make_unique<ts::World>(gw + 2, gh + 2, 0, elements, diseases);
    ts::CellArrays& u = world->updatedCells;
    for (int32_t y = 1; y <= gh; ++y)
        for (int32_t x = 1; x <= gw; ++x) {
            const size_t c = size_t(y * world->width + x);
            u.elementIdx[c] = element;
            u.temperature[c] = t;
            u.mass[c] = m;
        }
    std::fill(world->targetTemperature.begin(), world->targetTemperature.end(), -1.0f);
    ts::FillBorder(*world);
    world->activeRegion = ts::Region{1, 1, gw + 1, gh + 1};
    world->randomSeed = 12345;
    world->Snapshot();
    return world;
}

// Sets one interior cell (sim coordinates) of updatedCells.
inline void Put(ts::World& world, int32_t x, int32_t y, uint8_t element, float t, float m) {
    const size_t c = size_t(y * world.width + x);
    world.updatedCells.elementIdx[c] = element;
    world.updatedCells.temperature[c] = t;
    world.updatedCells.mass[c] = m;
}

// A 64-bit hash of every cell array of updatedCells, to compare runs.
inline uint64_t Hash(const ts::World& world) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](const void* data, size_t bytes) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
    };
    const ts::CellArrays& u = world.updatedCells;
    const size_t n = u.size();
    mix(u.elementIdx.data(), n);
    mix(u.temperature.data(), n * 4);
    mix(u.mass.data(), n * 4);
    mix(u.cellFlags.data(), n);
    mix(u.diseaseIdx.data(), n);
    mix(u.diseaseCount.data(), n * 4);
    mix(u.diseaseAge.data(), n);
    mix(u.diseaseGrowthRemainder.data(), n * 4);
    return h;
}

}  // namespace tsscene
