// Worlds built in-process for tests, benchmarks and tools.
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

// A settled world, as a game world is most of the time: per tile of 128 x 64
// cells, 70 % granite, a water pool at rest under a room of oxygen, a second
// oxygen room and a vacuum room, all at one temperature; a heater block in the
// rock and a pour of water in the second room are the only active places
// (under 2 % of the cells). Call Pour every few steps to keep it pouring.
constexpr int32_t kSettledTileWidth = 128;
constexpr int32_t kSettledTileHeight = 64;
constexpr float kSettledTemperature = 290.0f;

inline std::unique_ptr<ts::World> Settled(const Tables& t, int32_t gw, int32_t gh) {
    const uint8_t granite = t.Index("Granite"), water = t.Index("Water"), oxygen = t.Index("Oxygen"),
                  vacuum = t.Index("Vacuum");
    auto world = Uniform(t.elements, t.diseases, gw, gh, granite, kSettledTemperature, 2700.0f);
    auto in = [](int32_t v, int32_t lo, int32_t hi) { return v >= lo && v < hi; };
    for (int32_t y = 1; y <= gh; ++y) {
        for (int32_t x = 1; x <= gw; ++x) {
            const int32_t tx = (x - 1) % kSettledTileWidth, ty = (y - 1) % kSettledTileHeight;
            const size_t c = size_t(y * world->width + x);
            if (in(tx, 8, 56) && in(ty, 8, 25)) {
                Put(*world, x, y, water, kSettledTemperature, 1000.0f);  // 816 cells, 10 %
            } else if (in(tx, 8, 56) && in(ty, 25, 44)) {
                Put(*world, x, y, oxygen, kSettledTemperature, 1.0f);  // 912 cells
            } else if (in(tx, 64, 88) && in(ty, 8, 22)) {
                Put(*world, x, y, oxygen, kSettledTemperature, 1.0f);  // 336 cells: gas 15 % in all
            } else if (in(tx, 96, 120) && in(ty, 8, 25)) {
                Put(*world, x, y, vacuum, 0.0f, 0.0f);  // 408 cells, 5 %
            } else if (in(tx, 64, 70) && in(ty, 40, 46)) {
                world->targetTemperature[c] = 600.0f;  // the heater: 36 cells of rock held hot
                world->updatedCells.temperature[c] = 600.0f;
            }
        }
    }
    world->frameParameters.temperatureRelaxRate = 0.05f;
    world->Snapshot();
    return world;
}

// The pour: 200 kg of water into the top cells of every tile's second room
// (each a gas cell until the water lands there).
inline void Pour(const Tables& t, ts::World& world) {
    const uint8_t water = t.Index("Water");
    for (int32_t y = 1 + 21; y <= world.gameHeight(); y += kSettledTileHeight)
        for (int32_t x = 1 + 75; x + 1 <= world.gameWidth(); x += kSettledTileWidth)
            for (int32_t dx = 0; dx < 2; ++dx) {
                const size_t c = size_t(y * world.width + x + dx);
                if (world.updatedCells.elementIdx[c] == water) continue;
                Put(world, x + dx, y, water, kSettledTemperature, 200.0f);
            }
}

}  // namespace tsscene
