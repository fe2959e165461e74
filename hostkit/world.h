// Worlds as a host lays them out, and the payloads that carry them: CreateWorld,
// LoadCellByteGrid and the per-frame host input grid of ExchangeFrame.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tesselsim/tesselsim.h"

namespace tshost {

// Everything CreateWorld sets for one game cell. The defaults are those of a
// freshly built world: no element (255), full conduction, the default strength
// modifier, no relaxation target (negative) and no disease.
struct WorldCell {
    uint8_t elementIdx = SIM_NO_ELEMENT;
    uint8_t cellFlags = 0;
    uint8_t insulation = 255;
    uint8_t strengthModifier = 132;
    float temperature = 0.0f;
    float mass = 0.0f;
    float targetTemperature = -1.0f;
    uint8_t diseaseIdx = SIM_NO_DISEASE;
    uint8_t diseaseAge = 0;
    int32_t diseaseCount = 0;

    bool operator==(const WorldCell&) const = default;
};

// The host's grid (game cells only, without the library's border), row-major
// from the bottom row: game cell = y * width + x.
struct WorldLayout {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<WorldCell> cells;

    WorldLayout() = default;
    WorldLayout(int32_t gameWidth, int32_t gameHeight, const WorldCell& fill = {});

    int32_t GameCell(int32_t x, int32_t y) const { return y * width + x; }
    WorldCell& at(int32_t x, int32_t y) { return cells[size_t(GameCell(x, y))]; }
    const WorldCell& at(int32_t x, int32_t y) const { return cells[size_t(GameCell(x, y))]; }

    // Sets every cell of the rectangle [x0, x1) x [y0, y1) (clipped to the grid)
    // to `cell`.
    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, const WorldCell& cell);
};

// A cell holding `mass` kg of element `elementIdx` at `temperature` K, other
// fields at their defaults.
WorldCell Matter(uint8_t elementIdx, float temperature, float mass);

// CreateWorld payload: i32 w, i32 h, 12-byte cell records, f32 target
// temperatures, 12-byte disease records (8 + 28 * w * h bytes).
std::string CreateWorldPayload(const WorldLayout& world);

// Reads a CreateWorld payload back; nullopt when its length does not match the
// size it declares or the size is not positive.
std::optional<WorldLayout> ParseCreateWorldPayload(std::string_view payload);

// LoadCellByteGrid payload: one byte per game cell, row-major. Throws
// std::invalid_argument when `values` does not hold gameWidth * gameHeight bytes.
std::string CellByteGridPayload(int32_t gameWidth, int32_t gameHeight, std::span<const uint8_t> values);
std::string CellByteGridPayload(int32_t gameWidth, int32_t gameHeight, uint8_t value);

// ExchangeFrame payload: the host's per-cell input grid, one byte per game cell.
std::string HostCellInput(int32_t gameWidth, int32_t gameHeight, uint8_t value);

}  // namespace tshost
