// The world: the padded grid of cells and everything the physics reads and
// writes between frames.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "simlib/cellarrays.h"
#include "simlib/components/registry.h"
#include "simlib/disease.h"
#include "simlib/elementtable.h"
#include "simlib/outputcollector.h"

namespace ts {

struct FrameParameters {
    float buildingExchangeRate = 0.001f;
    float offGasChance = 0.01f;
    float offGasFraction = 0.001f;
    float temperatureRelaxRate = 0.001f;
    uint32_t forceEmission = 0;
};

// Sim coordinates; maxX and maxY exclusive.
struct Region {
    int32_t minX = 0;
    int32_t minY = 0;
    int32_t maxX = 0;
    int32_t maxY = 0;
};

// Game time of one physics step, in seconds.
constexpr float kStepSeconds = 0.2f;
// Steps per second of game time: 1 / kStepSeconds, exactly 5 in f32.
constexpr float kStepsPerSecond = 1.0f / kStepSeconds;
static_assert(kStepsPerSecond == 5.0f);

// The most mass a cell takes at once: the loader's cap, also applied to every
// message that puts mass into a cell.
constexpr float kMassCap = 1e9f;

// Change records a world's lists have room for from the start.
constexpr size_t kChangedCellsReserve = 4096;

// Moved-mass record of the flow passes: left, right, down, up.
struct CellFlow {
    float f[4];
};

class World {
public:
    // `width` and `height` include the one-cell border on every side.
    World(int32_t width, int32_t height, uint8_t flags, const ElementTable& elements,
          const DiseaseTable& diseases);
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const int32_t width;
    const int32_t height;
    const int32_t numGameCells;
    uint8_t worldFlags;
    const uint8_t sinkElementIdx;
    const uint8_t vacuumElementIdx;
    const uint8_t borderElementIdx;
    CellArrays cells;         // snapshot the passes read
    CellArrays updatedCells;  // the live state the passes write
    std::vector<uint8_t> cellByteGrid;  // empty until LoadCellByteGrid
    std::vector<float> cellAccumulator;
    std::vector<CellFlow> cellFlow;
    std::vector<float> targetTemperature;
    std::vector<uint8_t> cellDirtyMask;
    Region activeRegion;
    std::vector<uint8_t> releasePermit;  // per game cell
    std::vector<uint8_t> passRows;       // two rows of per-cell flags a pass builds as it scans
    std::vector<uint8_t> writtenRows;    // per row: a matter pass may have written it since the last sync
    uint16_t stepCounter = 0;
    OutputCollector outputCollector;
    FrameParameters frameParameters;
    ComponentRegistry components;
    uint32_t randomSeed;

    const ElementTable& elements;
    const DiseaseTable& diseases;

    size_t cellCount() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    int32_t gameWidth() const { return width - 2; }
    int32_t gameHeight() const { return height - 2; }

    // Host cell number to sim cell, by the signed-division rule (no range check).
    int32_t GameToSim(int32_t gameCell) const {
        const int32_t w = width - 2;
        const int32_t q = gameCell / w;
        const int32_t r = gameCell % w;
        return (q + 1) * width + r + 1;
    }
    int32_t SimToGame(int32_t cell) const { return (cell % width - 1) + (width - 2) * (cell / width - 1); }
    bool IsValidGameCell(int32_t gameCell) const { return gameCell >= 0 && gameCell < numGameCells; }
    // The game cell of sim cell `cell`, or -1 for border cells.
    int32_t ReportableGameCell(int32_t cell) const {
        const int32_t x = cell % width;
        const int32_t y = cell / width;
        if (x < 1 || x > width - 2 || y < 1 || y > height - 2) return -1;
        return SimToGame(cell);
    }
    // Packed position: x in the low 16 bits, y in the high 16 bits.
    uint32_t PackedPosition(int32_t cell) const {
        return static_cast<uint32_t>(cell % width) | (static_cast<uint32_t>(cell / width) << 16);
    }

    // The world's generator: seed * 214013 + 2531011, result bits 16..30.
    int32_t NextRandom() {
        randomSeed = randomSeed * 214013u + 2531011u;
        return static_cast<int32_t>((randomSeed >> 16) & 0x7FFFu);
    }

    // Copies every array of updatedCells into cells.
    void Snapshot() { cells.CopyFrom(updatedCells); }

    // A matter pass may write rows y0..y1-1 (clipped to the grid) of updatedCells.
    void MarkRowsWritten(int32_t y0, int32_t y1);
    // Copies the rows marked since the last call into cells (the arrays the
    // passes write) and clears the marks: cells equals updatedCells again when
    // it did before the passes.
    void SyncWrittenRows();

    // Appends a change record for the cell (when it is a game cell) and marks it dirty.
    void MarkCellChanged(int32_t cell);
};

}  // namespace ts
