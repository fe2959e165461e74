// The heat pass: conduction between neighbour cells and relaxation toward
// target temperatures; each change ends with the cell's phase check.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/outputcollector.h"
#include "simlib/passregion.h"
#include "simlib/world.h"

namespace ts {

// Rows of chunks the pass works through at a time: a chunk row's 32 rows and
// the row below it.
constexpr int32_t kHeatRingRows = 33;

// One band's pair results in flight: the row below the current chunk row in
// slot 0, then the chunk row's own rows.
struct HeatBandRows {
    std::vector<uint8_t> pairMask;  // bit 0: exchange with the right cell, bit 1: with the cell above
    std::vector<float> rightSelf, rightOther, upSelf, upOther;
    uint64_t exchangedPairs = 0;  // in the band's last run (benchmarks read it)
    void Resize(int32_t width);
};

// Scratch of the heat pass, kept for the life of the simulation.
struct HeatPassScratch {
    std::vector<HeatBandRows> bands;  // one per job
    // Per row and 32-column chunk: 1 when the block of the chunk holding that
    // row was found quiet (no pair can exchange, no cell relaxes) and skipped.
    std::vector<uint8_t> quietSegment;
    int32_t chunkColumns = 0;
    // Per row, what the pass wrote: bit 0 temperatures, bit 1 a phase change
    // (any array of the row). The snapshot after the pass copies only that.
    std::vector<uint8_t> rowWrites;
    // Tests turn skipping off to compare: the results must be the same.
    bool skipQuietChunks = true;
    void Resize(size_t bandCount, int32_t width, int32_t height);
};

constexpr uint8_t kRowTemperatures = 1;
constexpr uint8_t kRowTransitions = 2;

// The heat pass over one band of rows of the active region (`band`), run by
// one job; bands run in parallel. The band is worked through a chunk row
// (32 rows) at a time, cut into blocks of 32 x 32 chunks; a block whose cells
// and one-cell halo hold no two conducting temperatures 1 K apart and no
// target temperature cannot change, and is skipped. For each chunk row:
//  1. every pair exchange (cell with its right and upper neighbour) is
//     computed from the snapshot alone;
//  2. every cell adds the changes of its pairs in the order the cell meets
//     them (below, left, right, above), checks its phase after each, then
//     relaxes toward its target temperature (never below 1 K).
// Pairs depend on the snapshot only and each cell is written by the one band
// that owns its row, so the result is the same for any number of bands.
void RunHeatBand(World& world, OutputCollector& collector, const Rect& band, HeatPassScratch& scratch,
                 HeatBandRows& rows);

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
