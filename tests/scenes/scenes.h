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

#include "hostkit/tables.h"

namespace tsscene {

// The sample tables of data/, parsed by the library's own loaders.
struct Tables {
    ts::ElementTable elements;
    ts::DiseaseTable diseases;
    uint8_t Index(const char* name) const {
        for (int32_t i = 0; i < elements.count(); ++i)
            if (elements.elementNames[size_t(i)] == name) return uint8_t(i);
        return 255;
    }
};

inline Tables SampleTables() {
    const tshost::SampleTables sample = tshost::LoadSampleTables();
    Tables t;
    std::string error;
    const std::string ep = tshost::ElementTablePayload(sample.elements);
    ts::BinaryBufferReader er(ep.data(), int64_t(ep.size()));
    ts::ParseElementTable(er, t.elements, error);
    const std::string dp = tshost::DiseaseTablePayload(sample.diseases, t.elements.count());
    ts::BinaryBufferReader dr(dp.data(), int64_t(dp.size()));
    ts::ParseDiseaseTable(dr, t.elements.count(), t.diseases, error);
    return t;
}

// A mixed scene: a granite floor with a temperature gradient, a water pool,
// sand and ice, carbon dioxide below oxygen, warm and cold columns.
inline std::unique_ptr<ts::World> Mixed(const Tables& t, int32_t gw, int32_t gh) {
    auto world = Uniform(t.elements, t.diseases, gw, gh, t.Index("Oxygen"), 295.0f, 1.2f);
    const uint8_t granite = t.Index("Granite"), water = t.Index("Water"), sand = t.Index("Sand"),
                  ice = t.Index("Ice"), co2 = t.Index("Carbon dioxide");
    for (int32_t y = 1; y <= gh; ++y) {
        for (int32_t x = 1; x <= gw; ++x) {
            // Periodic patterns: the work per cell does not depend on the world's size.
            const float gradient = 260.0f + 80.0f * float(x % 128) / 128.0f;
            if (y <= gh / 4) {
                Put(*world, x, y, (x / 16) % 5 == 4 ? sand : granite, gradient + float(y % 7), 1800.0f);
            } else if (y <= gh / 3 && x % 64 < 32) {
                Put(*world, x, y, water, 290.0f + float(x % 11), 950.0f);
            } else if (y <= gh / 3 && x % 23 == 0) {
                Put(*world, x, y, ice, 255.0f, 900.0f);
            } else if (y <= gh / 2) {
                Put(*world, x, y, co2, gradient, 1.9f);
            } else {
                Put(*world, x, y, t.Index("Oxygen"), gradient + 10.0f * float((y / 8) % 2), 1.2f);
            }
        }
    }
    world->Snapshot();
    return world;
}

}  // namespace tsscene
