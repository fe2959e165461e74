// Phase changes of cells, and the records a cell's change leaves for the host.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/elementtable.h"
#include "simlib/outputcollector.h"
#include "simlib/world.h"

namespace ts {

// Appends a change record (game cells only) and dirties the cell.
void MarkCellChanged(OutputCollector& collector, World& world, int32_t cell);

// Appends an emittedMatter record when the matter may leave at this cell.
bool EmitMatter(OutputCollector& collector, World& world, int32_t cell, uint8_t elementIdx, float mass,
                float temperature, uint8_t diseaseIdx, int32_t diseaseCount, bool force);

// Turns the cell into its low or high transition element when its
// temperature lies beyond the element's range by more than 3 K. `info` is the
// element the caller saw in the cell. True when a transition took place.
bool CheckStateTransition(World& world, OutputCollector& collector, int32_t cell, const ElementInfo& info);

}  // namespace ts

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

// The heat pass over a rectangle (x in [x0, x1), y in [y0, y1)) runs in two
// phases over bands of rows, with a join between them. Within a band, rows
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
void ComputeHeatPairs(const World& world, HeatPassScratch& scratch, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
void ApplyHeatPairs(World& world, HeatPassScratch& scratch, OutputCollector& collector, int32_t x0, int32_t y0,
                    int32_t x1, int32_t y1);

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
