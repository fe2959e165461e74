// Building worlds: from the host's arrays, from a save, and the passes that
// complete a freshly built world.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/binarybuffer.h"
#include "simlib/world.h"

namespace ts {

// Border cells of both cell arrays: the border element, 9999 kg, 0 K, no germs.
void FillBorder(World& world);

// Sanitising of a cell as loaded or created (values are never refused):
// temperature and mass made finite and capped, masses clamped at 0 from
// below, empty elements emptied.
void SanitiseMatter(World& world, size_t c);
// A count at or below 0 clears the disease; a relaxation target is capped at
// the maximum temperature.
void SanitiseGermsAndTarget(World& world, size_t c);

// Checks that the tables can back a world (vacuum and border elements exist,
// the border is solid and neither melts nor sublimates).
bool TablesCanBuildWorld(const ElementTable& elements, std::string& error);

// Builds a world from a CreateWorld payload; null (with `error`) when refused.
std::unique_ptr<World> CreateWorldFromPayload(BinaryBufferReader& reader, const ElementTable& elements,
                                              const DiseaseTable& diseases, std::string& error);

}  // namespace ts

namespace ts {

// What a save blob's header says, once the whole blob has been validated.
struct SaveLayout {
    int32_t version;
    int32_t width;
    int32_t height;
    uint8_t worldFlags;
    uint64_t cellsOffset;
};

// Checks magic, version, dimensions and exact length before anything is
// touched. `error` says why a blob is refused.
bool ValidateSave(const uint8_t* data, uint64_t size, SaveLayout& layout, std::string& error);

// Builds a world from a validated save blob (cells sanitised, phases corrected).
std::unique_ptr<World> ReadSaveIntoWorld(const uint8_t* data, const SaveLayout& layout,
                                         const ElementTable& elements, const DiseaseTable& diseases);

// The world a validated save loads as, complete but for its thread and result
// buffers: what LoadSaveGame installs.
std::unique_ptr<World> WorldFromSave(const uint8_t* data, const SaveLayout& layout, const ElementTable& elements,
                                     const DiseaseTable& diseases);

// The temperature repair of old saves: cells of one element take the mean
// temperature of their neighbours.
void AverageTemperatureFix(World& world);

// Lets unstable elements fall onto the solid below them and tidies disease data.
void SettleWorld(World& world);

// The world-sized byte grid of a LoadCellByteGrid payload (one byte per game
// cell, row by row; 0 on the border); false (with `error`) for a payload that
// does not hold exactly one byte per game cell.
bool ReadCellByteGrid(BinaryBufferReader& reader, const World& world, std::vector<uint8_t>& grid,
                      std::string& error);

}  // namespace ts
