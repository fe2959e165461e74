// The "SIMSAVE" world blob: a writer of every version the library loads
// (7..13; the library itself writes 13) and a validating reader.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tesselsim/tesselsim.h"

namespace tshost {

// A saved world over the padded grid (the game grid plus its one-cell border):
// N = width * height cells, cell = y * width + x.
struct SaveGame {
    int32_t version = SIM_SAVE_VERSION;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t worldFlags = 0;                 // stored from version 13 on
    std::vector<SavedCell> cells;           // element id, temperature, mass
    std::vector<SavedDisease> diseases;     // stored from version 9 on
    std::vector<float> targetTemperature;   // stored from version 8 on

    // N empty cells: vacuum id, 0 K, 0 kg, no disease, target temperature 0.
    static SaveGame Empty(int32_t width, int32_t height);
};

// Exact length of a blob of that version for N cells (version 13: 24 N + 21).
uint64_t SaveLength(int32_t version, uint64_t cellCount);

// Writes `save` in format `version` (7..13), leaving out what that version does
// not store. Throws std::invalid_argument for another version or when an array
// does not hold width * height entries (diseases and targetTemperature are only
// checked when the version stores them).
std::string WriteSaveGame(const SaveGame& save, int32_t version = SIM_SAVE_VERSION);

struct SaveReadResult {
    std::optional<SaveGame> save;
    std::string error;  // empty on success

    explicit operator bool() const { return save.has_value(); }
};

// Checks the magic, the version (7..13), the dimensions (both > 2, without
// overflow) and the exact length before reading anything else. Blocks that
// the version does not store come back as no disease and target temperature 0,
// the values a loaded world holds; `version` tells what was stored.
SaveReadResult ReadSaveGame(std::span<const uint8_t> blob);
SaveReadResult ReadSaveGame(std::string_view blob);

}  // namespace tshost
