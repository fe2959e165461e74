// The heat pass: conduction between neighbour cells and relaxation toward
// target temperatures; each change ends with the cell's phase check.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/outputcollector.h"
#include "simlib/passregion.h"
#include "simlib/world.h"

namespace ts {

// Scratch of the heat pass: the result of every pair exchange of the step,
// computed from the snapshot, then gathered per cell.
struct HeatPassScratch {
    std::vector<uint8_t> pairMask;  // bit 0: exchange with the right cell, bit 1: with the cell above
    std::vector<float> rightSelf, rightOther, upSelf, upOther;
    // Per row and 32-column chunk: 1 when the block of the chunk holding that
    // row was found quiet (no pair can exchange, no cell relaxes) and skipped.
    std::vector<uint8_t> quietSegment;
    int32_t chunkColumns = 0;
    // Per row, what the apply phase wrote: bit 0 temperatures, bit 1 a phase
    // change (any array of the row). The snapshot after the pass copies only that.
    std::vector<uint8_t> rowWrites;
    // Tests turn skipping off to compare: the results must be the same.
    bool skipQuietChunks = true;
    void Resize(size_t cells, int32_t width, int32_t height);
};

constexpr uint8_t kRowTemperatures = 1;
constexpr uint8_t kRowTransitions = 2;

// The heat pass runs in two phases over bands of rows of the active region
// (`region`: one band), with a join between them. Within a band, rows
// are cut into blocks of 32 x 32 chunks; a block whose cells and one-cell halo
// hold no two conducting temperatures 1 K apart and no target temperature
// cannot change, and both phases skip it.
//  1. every pair exchange (cell with its right and upper neighbour) is
//     computed from the snapshot alone;
//  2. every cell adds the changes of its pairs in the order the cell meets
//     them (below, left, right, above), checks its phase after each, then
//     relaxes toward its target temperature.
// Each cell is written by the one job that owns its row, so the result is
// the same for any number of bands.
void ComputeHeatPairs(const World& world, const Rect& region, HeatPassScratch& scratch);
void ApplyHeatPairs(World& world, OutputCollector& collector, const Rect& region, HeatPassScratch& scratch);

// The snapshot after the heat pass: copies into `cells` only the rows the
// pass wrote (temperatures, or every array where a phase changed).
void SnapshotAfterHeat(World& world, HeatPassScratch& scratch);

struct PairExchange {
    bool exchanged;  // false: the energy was below what is worth moving
    float deltaSelf;
    float deltaOther;
};

// The heat exchange between cell c and its neighbour n, from the snapshot.
PairExchange ConductPair(const World& world, int32_t c, int32_t n);

}  // namespace ts
